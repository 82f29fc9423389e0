// The run journal as the next run reads it: whatever a crash, a full disk or
// another hand left in the file.
#include "ZoRunJournal.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*=false"));
        return true;
    }();
    (void)quiet;
    if (size > size_t(ZoRunJournal::MaxFileBytes) + 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    QString why;
    const QList<ZoRunJournal::Entry> entries = ZoRunJournal::parse(bytes, &why);
    if (!why.isEmpty() && !entries.isEmpty())
        __builtin_trap();
    if (entries.size() > ZoRunJournal::MaxEntries)
        __builtin_trap();
    for (int i = 0; i < entries.size(); ++i) {
        const ZoRunJournal::Entry &e = entries[i];
        if (e.key.isNull() || e.devId == 0
            || e.eid.size() > ZoRunJournal::MaxEidChars)
            __builtin_trap();
        for (int j = 0; j < i; ++j)
            if (entries[j].key == e.key && entries[j].eid == e.eid)
                __builtin_trap();
    }
    // What is read is written back the same: a journal that survives one
    // run survives the next.
    if (!entries.isEmpty()) {
        QString again;
        const QList<ZoRunJournal::Entry> reread
            = ZoRunJournal::parse(ZoRunJournal::serialize(entries), &again);
        if (!again.isEmpty() || reread.size() != entries.size())
            __builtin_trap();
        for (int i = 0; i < reread.size(); ++i) {
            const ZoRunJournal::Entry &a = entries[i];
            const ZoRunJournal::Entry &b = reread[i];
            if (a.eid != b.eid || a.key != b.key || a.devId != b.devId || a.devNum != b.devNum
                || a.core != b.core || a.target.number() != b.target.number()
                || a.target.type != b.target.type || a.startedMs != b.startedMs)
                __builtin_trap();
        }
    }
    return 0;
}
