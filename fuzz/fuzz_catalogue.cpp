// The cloud's getFirmware reply. The first byte is the fid that was asked
// for, the rest the reply body.

#include "ZoNimbraHttpHelper.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    const tdu1 requestedFid = data[0];
    const QByteArray body(reinterpret_cast<const char *>(data + 1), int(size - 1));

    ZoNimbraHttpHelper::Catalogue catalogue;
    const bool ok = ZoNimbraHttpHelper::parseCatalogue(body, requestedFid, catalogue);

    if (ok && !catalogue.contains(requestedFid))
        __builtin_trap();
    for (auto it = catalogue.cbegin(); it != catalogue.cend(); ++it) {
        // Every stored entry is keyed by its fid and names its device.
        if (it.key() != it->fid || it->version.type != tdu1(it->fid & 0xFFu) || it->downloaded)
            __builtin_trap();
    }
    return 0;
}
