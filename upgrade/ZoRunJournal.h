#pragma once

#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// The devices a run is about to flash, kept on disk until each one is done,
// so that a device left in its bootloader by a crash, a pulled cable or a
// kill is known to the next run. The file is JSON:
//   {"format":1,"devices":[{"eid":"...","key":N,"type":N,"number":N,"core":false,
//     "target":{"type":N,"major":N,"minor":N,"revision":N},
//     "started":"2026-01-01T12:00:00.000Z"}]}
// It is written whole through a temporary file, so a failed or interrupted
// write leaves the previous one as it was. Every station process on this
// machine may share the file: a change is made under a lock file (path +
// ".lock") to what the file holds then, so no process erases another's
// entries. An entry older than MaxAgeDays is over: whatever it was
// recorded for has been settled or forgotten.
class ZoRunJournal
{
public:
    struct Entry
    {
        QString eid; // the aircraft's hardware identity (core EID), empty when unknown
        ZoDeviceKey key; // the record the device belongs to
        tdu1 devId = 0; // type id
        tdu1 devNum = 0; // number it is addressed with
        bool core = false;
        tVersion target {}; // what was being flashed
        qint64 startedMs = 0; // UTC ms since epoch
    };

    // The entry of a device about to enter its bootloader now, addressed as
    // `devId` and `number`.
    static Entry entering(const QString &eid, ZoDeviceKey key, tdu1 devId, tdu1 number, bool core,
        const tVersion &target = {});

    // Larger files and further entries are not read: the file is outside input.
    static constexpr int MaxFileBytes = 1 << 20;
    static constexpr int MaxEntries = 256;
    static constexpr int MaxEidChars = 128;
    static constexpr int MaxAgeDays = 30;
    // How long a change waits for another process's lock.
    static constexpr int LockWaitMs = 5000;

    // An empty path keeps the journal in memory only.
    explicit ZoRunJournal(const QString &path);

    const QString &path() const { return m_path; }

    // Reads the file. A missing file is an empty journal. An unreadable or
    // malformed one leaves the journal empty, returns false with why, and is
    // moved aside to path + ".bad" so that it does not block every later run.
    // Entries that are wrong on their own are left out; the others are kept.
    bool load(QString *why = nullptr);

    QList<Entry> entries() const { return m_entries; }
    // The types of the cores whose flash was cut short, each once.
    QList<tdu1> coreTypes() const;
    // The entries of that aircraft, and those whose aircraft was not known.
    QList<Entry> entriesFor(const QString &eid) const;

    // Adds the entry or replaces the one of the same eid and key, then writes
    // the file (merged with what other processes wrote since). When the file
    // cannot be written (false, with why) the entry is not kept either: its
    // device must not be entered, and no later write may say it was.
    bool record(const Entry &e, QString *why = nullptr);
    // Removes the entry of that eid and key and writes; the last one gone,
    // the file is deleted.
    bool clear(const QString &eid, ZoDeviceKey key, QString *why = nullptr);

    // The file's contents as load() reads them. Bytes that are no journal at
    // all give no entries and a reason in why; why stays untouched otherwise,
    // also when single entries were left out.
    static QList<Entry> parse(const QByteArray &bytes, QString *why = nullptr);
    static QByteArray serialize(const QList<Entry> &entries);

private:
    // Under the lock: the file's entries now, with `change` made to them,
    // written and kept.
    bool update(const std::function<bool(QList<Entry> &, QString *)> &change, QString *why);
    bool write(const QList<Entry> &entries, QString *why);

    QString m_path;
    QList<Entry> m_entries;
};
