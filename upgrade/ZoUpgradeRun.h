#pragma once

#include "ZoTransferSession.h"
#include "ZoTypes.h"

#include <QMap>
#include <QObject>
#include <QTimer>

class ZoDeviceRoster;
class ZoFirmwareSource;
class ZoMsgLooper;
class ZoUpgradePolicy;

// An upgrade-all run: the policy's pick, one transfer session after the
// other with a pause between devices, until nothing is due, a device fails
// or no file fits the next one. Records are the owner's to update: it hears
// of each device's end before the next one is picked.
class ZoUpgradeRun : public QObject
{
    Q_OBJECT
public:
    enum class End : int { Completed = 0, DeviceFailed, FirmwareUnusable };

    ZoUpgradeRun(ZoMsgLooper *looper, const ZoDeviceRoster *roster, const ZoUpgradePolicy *policy,
        const ZoFirmwareSource *source, QObject *parent = nullptr);
    ~ZoUpgradeRun() override;

    void setTimings(const ZoTransferSession::Timings &transfer, int betweenDevicesMs);

    // Picks the first device; ends at once (sigEnded) when nothing is due or
    // its file does not fit.
    void start();
    // Stops sending and forgets the run, without a word.
    void stop();
    bool isRunning() const { return m_running; }
    // The device in flight (0 between devices).
    tds4 currentKey() const;
    ZoTransferSession::State sessionState() const;

    // Figures of a device's transfer; live while it runs.
    ZoTransferSession::Stats stats(tds4 key) const;
    void clearStats() { m_stats.clear(); }

Q_SIGNALS:
    void sigDeviceStarted(tds4 key, bool core, int maximum);
    void sigProgress(tds4 key, int value);
    void sigDeviceFinished(tds4 key, bool ok);
    // `first`: the run ended before any device was started.
    void sigEnded(ZoUpgradeRun::End end, tds4 key, bool first);

private:
    void next(bool first);
    bool startDevice(tds4 key, tdu1 devId, tdu1 devNum, bool core);
    void onFinished(tds4 key, ZoTransferSession::Outcome outcome, ZoTransferSession::Stats stats);
    void end(End how, tds4 key, bool first);
    void dispose();

    ZoMsgLooper *m_looper;
    const ZoDeviceRoster *m_roster;
    const ZoUpgradePolicy *m_policy;
    const ZoFirmwareSource *m_source;
    ZoTransferSession::Timings m_transfer;
    QTimer m_pause;
    ZoTransferSession *m_session = nullptr;
    QMap<tds4, ZoTransferSession::Stats> m_stats;
    bool m_running = false;
    quint64 m_serial = 0; // of the session in flight
};
