// A downloaded firmware file: header fields, the bytes a transfer would read,
// and the store's replacement of records.
#include "ZoFRMFileInfo.h"
#include "ZoFRMFileStore.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ZoFRMFileStore store;
    ZoFRMFileInfo info;
    info.fid = size > 0 ? data[0] % 8 : 0;
    info.setBytes(QByteArray(reinterpret_cast<const char *>(data), int(size)));

    tVersion version;
    tFcsDateTime when;
    tdu4 imageLength = 0;
    const bool header = info.headerVersion(version);
    if (header != info.headerCompileTime(when) || header != info.headerImageLength(imageLength))
        std::abort();
    if (header != (size >= ZoFRMFileInfo::HeaderSize))
        std::abort();

    // Read every image byte the file says it has, but no more than it holds.
    const tdu4 pages = std::min(imageLength, info.availableImageSize());
    volatile tdu1 sum = 0;
    for (tdu4 i = 0; i < pages; ++i)
        sum = tdu1(sum + tdu1(info.bytes()[int(ZoFRMFileInfo::HeaderSize + i)]));

    store.setFRMFileInfo(info);
    bool found = false;
    const ZoFRMFileInfo back = store.getFRMFileInfo(info.fid, found);
    if (!found || back.bytes().constData() != info.bytes().constData()
        || back.size() != info.size())
        std::abort();
    return 0;
}
