// A campaign's lock file as tolvane-cli --lock reads it: whatever a line's
// scripts, an editor or a cut copy left in it.
#include "ZoCliLock.h"

#include <QByteArray>
#include <QSet>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > size_t(ZoCliLock::MaxFileBytes))
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    ZoCliLock::Pins pins;
    QString why;
    if (!ZoCliLock::parse(bytes, pins, &why)) {
        if (why.isEmpty() || !pins.isEmpty())
            __builtin_trap();
        return 0;
    }
    QSet<int> types;
    for (const ZoCampaignGuard::Pin &p : qAsConst(pins)) {
        if (p.type < 1 || p.type > 255 || types.contains(p.type) || p.size < 1
            || p.size > ZoCliLock::MaxImageFileBytes || p.sha256.size() != 64
            || p.sha256 != p.sha256.toLower() || p.version.count(QLatin1Char('.')) != 2)
            __builtin_trap();
        types.insert(p.type);
    }
    // What is read is written back the same: a lock copied from station to
    // station pins what it pinned.
    ZoCliLock::Pins again;
    if (!ZoCliLock::parse(ZoCliLock::serialize(pins, {}), again, &why) || !(again == pins))
        __builtin_trap();
    return 0;
}
