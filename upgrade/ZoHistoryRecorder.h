#pragma once

#include "ZoDeviceOutcome.h"
#include "ZoFlashHistory.h"

#include <QObject>
#include <QString>

#include <memory>

class ZoConnectionPhase;
class ZoDeviceRoster;
class ZoFirmwareSource;
class ZoRunResults;
class ZoTargetIntake;

// Puts the end of every device a run reached on the flash history, with what
// the engine knows of it at that moment: the station, the link and the
// aircraft, the device and its serial, what it ran before, its target and what
// it confirmed, the file and where it came from, and how it ended. The history
// is opened at the first end, so a search alone leaves no file behind.
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
        const ZoTargetIntake *targets;
        const ZoConnectionPhase *connection; // the link in use
    };
    ZoHistoryRecorder(const QString &path, const Parts &parts, QObject *parent = nullptr);
    ~ZoHistoryRecorder() override;

    // How a device ended, as the history words it: its result, and its
    // failure class ("" when it has none).
    static QString resultText(const ZoDeviceOutcome &o);
    static QString failureText(const ZoDeviceOutcome &o);

Q_SIGNALS:
    // A device's end could not be written: the run goes on, the history
    // lacks it.
    void sigUnwritable(QString why);

private:
    void record(const ZoDeviceOutcome &o);

    QString m_path;
    Parts m_p;
    std::unique_ptr<ZoFlashHistory> m_history;
};
