#pragma once

#include "ZoDeviceKey.h"
#include "ZoFRMFileInfo.h"
#include "ZoFlashHistory.h"

#include <QList>
#include <QString>

#include <functional>

// What taking an aircraft back to where its latest run found it means, read
// from the flash history alone: every device that run upgraded to another
// version, the version it confirmed before, and the image its type confirmed
// at that version, fetched through `images` (the image cache, which checks
// hash and header). The whole rollback is refused, naming the device, when an
// image is missing or a core would go back across the 2.20 line; nothing
// is flashed then.
//
// A plain value made by a pure function; any thread.
struct ZoRollbackPlan
{
    enum class Refusal : int {
        None = 0,
        NoRun, // no row of this aircraft carries a run id
        NothingChanged, // the latest run upgraded no device to another version
        NoImage, // no kept image of `key`'s type at its `before` version
        CoreLine, // the core would go back across the 2.20 line
    };
    struct Step
    {
        ZoDeviceKey key;
        QString from, to; // "1.3.0" -> "1.2.0": what it confirmed, what it goes back to
        QString sha256; // of the image it takes
        ZoFRMFileInfo file; // that image, as the cache gave it
    };
    // Fills `file` with the kept image of `sha256` for a device of `type`.
    using Images = std::function<bool(const QString &sha256, tdu1 type, ZoFRMFileInfo &file)>;

    QString run; // the latest run's id; empty: none
    QList<Step> steps; // in the order the run wrote them
    Refusal refusal = Refusal::None;
    ZoDeviceKey refused; // the device a refusal names
    QString refusedFrom, refusedTo;

    bool ok() const { return refusal == Refusal::None; }

    // `rows` may hold any aircraft's: the run and its devices are `eid`'s
    // only; an image is looked for in this aircraft's rows first, newest
    // first, then in any other's.
    static ZoRollbackPlan make(
        const QString &eid, const QList<ZoFlashHistory::Row> &rows, const Images &images);
    // "1.2.3" as a number comparable with ZoUpgradePolicy::VersionLine;
    // -1 when it is not such a text.
    static qint64 versionNumber(const QString &text);
};
