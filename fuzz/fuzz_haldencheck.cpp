// The body of the cloud's reply to the updater's release check.
#include "ZoHttpHelper.h"

#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("haldenupdate.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    ZoHaldenUpdateInfo info;
    const bool ok = ZoHttpHelper::parseReplyBody(body, info);
    // A refused reply leaves the record as it was; an accepted one is read
    // the same way every time.
    if (!ok && info != ZoHaldenUpdateInfo())
        __builtin_trap();
    if (ok) {
        ZoHaldenUpdateInfo again;
        if (!ZoHttpHelper::parseReplyBody(body, again) || again != info)
            __builtin_trap();
    }
    return 0;
}
