#pragma once

#include "ZoDeviceOutcome.h"
#include "ZoFlashHistory.h"
#include "ZoImageCache.h"

#include <QObject>
#include <QString>

#include <memory>

class ZoCampaignGuard;
class ZoConnectionPhase;
class ZoDeviceRoster;
class ZoFirmwareSource;
class ZoRunResults;
class ZoTargetIntake;
struct ZoUpgradeEnvironment;

// Puts the end of every device a run reached on the flash history, with what
// the engine knows of it at that moment: the station, the link and the
// aircraft, the device and its serial, what it ran before, its target and what
// it confirmed, the file and where it came from, and how it ended. The history
// is opened at the first end, so a search alone leaves no file behind.
//
// Each file a device confirmed is also kept in the image cache, and a device
// in its bootloader whose type no file names is offered the image its type
// last confirmed: on this aircraft, or else on any. The campaign guard asks
// it which bytes a version was flashed with before.
//
// Lives on the engine's thread.
class ZoHistoryRecorder : public QObject
{
    Q_OBJECT
public:
    // Nothing is owned; all must outlive the recorder.
    struct Parts
    {
        ZoRunResults *results;
        const ZoDeviceRoster *roster;
        const ZoFirmwareSource *source;
        ZoTargetIntake *targets;
        const ZoConnectionPhase *connection; // the link in use
        ZoCampaignGuard *campaign; // told which bytes each version was flashed with
    };
    struct Files
    {
        QString history;
        QString images; // the image cache's folder; empty: no cache
        qint64 imageBytes = ZoImageCache::DefaultLimitBytes;
    };
    ZoHistoryRecorder(const Files &files, const Parts &parts, QObject *parent = nullptr);
    // The recorder `env` asks for; null when it names no history.
    static ZoHistoryRecorder *forEnvironment(
        const ZoUpgradeEnvironment &env, const Parts &parts, QObject *parent);
    ~ZoHistoryRecorder() override;
    // The history's file, for a viewer to open read-only on its own.
    QString path() const { return m_path; }

    // How a device ended, as the history words it: its result, and its
    // failure class ("" when it has none).
    static QString resultText(const ZoDeviceOutcome &o);
    static QString failureText(const ZoDeviceOutcome &o);

    // A run starts: its rows carry a new run id, and `source` instead of the
    // branch's name when it is not empty ("rollback").
    void beginRun(const QString &source = QString());
    QString runId() const { return m_run; }
    // This history's rows (see ZoFlashHistory::rows); false with `why` when
    // it cannot be opened.
    bool readRows(
        const ZoFlashHistory::Filter &filter, QList<ZoFlashHistory::Row> &rows, QString *why);
    // The kept image `sha256` for a device of `type`; false without a cache.
    bool takeImage(const QString &sha256, tdu1 type, ZoFRMFileInfo &file);

Q_SIGNALS:
    // A device's end could not be written: the run goes on, the history
    // lacks it.
    void sigUnwritable(QString why);
    // A device without a file takes the image its type last confirmed, kept
    // in the cache: on this aircraft (`sameAircraft`), or else on another.
    void sigImageFromCache(ZoDeviceKey key, tVersion version, bool sameAircraft);

private:
    void record(const ZoDeviceOutcome &o);
    bool openHistory(QString *why);
    void keepImage(const ZoDeviceOutcome &o);
    bool imageFor(ZoDeviceKey key, ZoFRMFileInfo &file);
    QStringList flashedDigests(int type, const QString &version);

    QString m_path;
    Parts m_p;
    std::unique_ptr<ZoFlashHistory> m_history;
    std::unique_ptr<ZoImageCache> m_cache; // null: none
    QString m_run, m_runSource;
};
