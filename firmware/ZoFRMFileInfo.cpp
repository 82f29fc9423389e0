#include "ZoFRMFileInfo.h"

#include "ZoLittleEndian.h"

#include <cstring>

bool ZoFRMFileInfo::headerImageLength(tdu4 &length) const
{
    if (!hasHeader())
        return false;
    length = ZoLittleEndian::read32(data(), size(), ImageLengthOffset);
    return true;
}

bool ZoFRMFileInfo::headerVersion(tVersion &out) const
{
    if (!hasHeader())
        return false;
    std::memcpy(&out, data() + VersionOffset, sizeof out);
    return true;
}

bool ZoFRMFileInfo::headerCompileTime(tFcsDateTime &compileTime) const
{
    if (!hasHeader())
        return false;
    const tdu1 *p = data() + CompileTimeOffset;
    compileTime.year = ZoLittleEndian::read16(data(), size(), CompileTimeOffset);
    compileTime.month = p[2];
    compileTime.day = p[3];
    compileTime.hour = p[4];
    compileTime.minute = p[5];
    compileTime.second = p[6];
    return true;
}
