#pragma once

#include "ZoCampaignGuard.h"

class ZoCliOptions;

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The lock file of a pinned campaign: the one firmware file each type takes
// on every aircraft of the campaign. `tolvane-cli --write-lock FILE` writes
// it from a pilot aircraft once the targets are known, before anything is
// flashed; `--lock FILE` hands it to the engine (ZoCampaignGuard), which
// refuses a run whose files differ.
//
// Format (JSON, UTF-8):
//   {"schema": 1,
//    "written": "2026-12-08T21:52:44Z",  when, UTC      } for people only;
//    "eid": "3A0F2C5D00170043",         the pilot        } not read back
//    "source": "stable",                stable, dev, custom or folder
//    "targets": [{"type": 77, "version": "2.0.4", "size": 2096,
//                 "sha256": "<64 hex digits>"}, ...]}
// Only "schema" and "targets" are read; any other schema is refused, as a
// newer lock may pin what this program cannot check. Each type appears once:
// type 1-255, version three numbers 0-255, size 1-MaxImageFileBytes, sha256
// of the whole file (header and image), read in either case and written in
// lowercase. A file larger than MaxFileBytes is not read.
//
// Pure functions; no state, any thread.
class ZoCliLock
{
public:
    static constexpr int Schema = 1;
    static constexpr qint64 MaxFileBytes = qint64(1) << 20;
    // The cloud client's own bound on a reply.
    static constexpr qint64 MaxImageFileBytes = qint64(64) << 20;
    using Pins = ZoCampaignGuard::Pins;
    struct Origin
    {
        QDateTime written;
        QString eid;
        QString source;
    };

    // False with *why (naming the entry at fault) for anything but a lock
    // of this schema.
    static bool parse(const QByteArray &json, Pins &pins, QString *why);
    static QByteArray serialize(const Pins &pins, const Origin &origin);
    static bool read(const QString &path, Pins &pins, QString *why);
    // Whole or not at all (a save file): a line never reads half a lock.
    static bool write(const QString &path, const Pins &pins, const Origin &origin, QString *why);

    // --write-lock: what `guard` serves now, from the aircraft `eid`. The
    // line to print in *said, an error when false. Written before the run:
    // the files the targets were decided from are the ones it flashes (files
    // arriving during a run wait for its end), and a pilot whose run fails
    // still leaves the lock; its exit code says whether it took them.
    static bool writeServed(const ZoCliOptions &options, const ZoCampaignGuard &guard,
        const QString &eid, QString *said);

    // The command line's words for a finding of the engine's about `device`.
    static QString findingText(const ZoCampaignGuard::Finding &f, const QString &device);
};
