#include "ZoFRMFileInfo.h"

#include "ZoLittleEndian.h"

#include <cstring>

ZoFRMFileInfo::ZoFRMFileInfo() = default;

// Copies share the buffer; an owned one goes with the last of them, any
// other is the store's business.
ZoFRMFileInfo::~ZoFRMFileInfo() = default;

tdu1 *ZoFRMFileInfo::allocData(tdu4 size)
{
    return new tdu1[size_t(size) + 1]();
}

void ZoFRMFileInfo::freeData(tdu1 *data)
{
    delete[] data;
}

void ZoFRMFileInfo::setDataCopy(const QByteArray &bytes)
{
    size = tdu4(bytes.size());
    data = allocData(size);
    m_owner.reset(data, &ZoFRMFileInfo::freeData);
    if (size > 0)
        std::memcpy(data, bytes.constData(), size);
}

bool ZoFRMFileInfo::headerImageLength(tdu4 &length) const
{
    if (!hasHeader())
        return false;
    length = ZoLittleEndian::read32(data, size, ImageLengthOffset);
    return true;
}

bool ZoFRMFileInfo::headerVersion(tVersion &out) const
{
    if (!hasHeader())
        return false;
    std::memcpy(&out, data + VersionOffset, sizeof out);
    return true;
}

bool ZoFRMFileInfo::headerCompileTime(tFcsDateTime &compileTime) const
{
    if (!hasHeader())
        return false;
    const tdu1 *p = data + CompileTimeOffset;
    compileTime.year = ZoLittleEndian::read16(data, size, CompileTimeOffset);
    compileTime.month = p[2];
    compileTime.day = p[3];
    compileTime.hour = p[4];
    compileTime.minute = p[5];
    compileTime.second = p[6];
    return true;
}
