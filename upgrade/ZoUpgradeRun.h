#pragma once

#include "ZoDevFMInfo.h"
#include "ZoDeviceConfirmation.h"
#include "ZoDeviceOutcome.h"
#include "ZoDevicePhase.h"
#include "ZoLogLabel.h"
#include "ZoTransferSession.h"
#include "ZoTypes.h"

#include <QMap>
#include <QObject>
#include <QTimer>

class ZoBootCommands;
class ZoDeviceRoster;
class ZoFirmwareSource;
class ZoMsgLooper;
class ZoProtocolLease;
class ZoRunJournal;
class ZoUpgradePolicy;

// An upgrade-all run: the policy's pick, one transfer session after the
// other, each device read back before the next is picked, with a pause
// between devices, until nothing is due, a device fails or is not confirmed,
// or no file fits the next one. Before a device's bootloader is entered, the
// journal records it; it is cleared once the device is known to run an
// application again. Records are the owner's to update: it hears of each
// device's end before the next one is picked.
class ZoUpgradeRun : public QObject
{
    Q_OBJECT
public:
    // How a run ended; the key it ends with names the device concerned.
    enum class End : int {
        Completed = 0, // every due device was flashed and confirmed (or none was due)
        DeviceFailed, // the device stopped answering its transfer
        FirmwareUnusable, // no file that fits the device: nothing was sent to it
        NotConfirmed, // transferred, but the device did not report its target afterwards
        StrandedWithoutTarget, // a module in its bootloader has no file: its bus kind waits
        LinkLost, // the link went away or was closed under the run
        JournalUnwritable, // the device was not entered: nothing would say it was left there
        // The core runs its application but never told its identity: the core
        // that comes back could not be told from another aircraft's (one in
        // its bootloader cannot tell, and is flashed).
        CoreUnidentified,
        // The campaign's lock refused a file before anything was flashed
        // (ZoCampaignGuard); nothing was sent.
        LockRefused,
    };
    Q_ENUM(End)
    enum class Phase : int { Idle, Transferring, Confirming, Pausing };

    // Each transfer session takes `lease` for its device.
    ZoUpgradeRun(ZoMsgLooper *looper, ZoBootCommands *commands, ZoProtocolLease *lease,
        const ZoDeviceRoster *roster, const ZoUpgradePolicy *policy,
        const ZoFirmwareSource *source, ZoRunJournal *journal, QObject *parent = nullptr);
    ~ZoUpgradeRun() override;

    void setTimings(const ZoUpgradeTimings &timings);
    // Put before the run's warnings (see ZoLogLabel).
    void setLogLabel(const QString &label);

    // Picks the first device; ends at once (sigEnded) when nothing is due or
    // its file does not fit.
    void start();
    // Stops sending and forgets the run, without a word; the device in
    // flight stays in the journal.
    void stop();
    // Stops sending, reports the device in flight as interrupted and ends
    // the run as `how`.
    void fail(End how);
    // Stops sending and forgets the run without a word, like stop(); returns
    // the device in flight as interrupted (a null key: none).
    ZoDeviceOutcome abort();
    bool isRunning() const { return m_phase != Phase::Idle; }
    Phase phase() const { return m_phase; }
    // The device in flight: transferring or being read back (null between
    // devices).
    ZoDeviceKey currentKey() const { return m_current.key; }
    bool currentIsCore() const { return m_current.core; }
    ZoTransferSession::State sessionState() const;

    // Where the device in flight stands, with its rate and time left (a
    // null key: none in flight).
    ZoDevicePhase phaseNow() const { return m_now; }
    // Figures of a device's transfer; live while it runs.
    ZoTransferSession::Stats stats(ZoDeviceKey key) const;
    void clearStats() { m_stats.clear(); }

Q_SIGNALS:
    void sigDeviceStarted(ZoDeviceKey key, bool core, int maximum);
    void sigProgress(ZoDeviceKey key, int value);
    // The transfer completed; the device is being read back.
    void sigDeviceConfirming(ZoDeviceKey key);
    // The device in flight entered another phase.
    void sigDevicePhase(ZoDevicePhase phase);
    // The device's end, with what it reported (the core also its compile
    // time) when it was read back.
    void sigDeviceFinished(ZoDeviceOutcome outcome, tFcsDateTime reportedTime);
    // `first`: the run ended before any device was started.
    void sigEnded(ZoUpgradeRun::End end, ZoDeviceKey key, bool first);

private:
    struct Current
    {
        ZoDeviceKey key;
        bool core = false;
        ZoDeviceConfirmation::Target target;
        ZoDeviceOutcome outcome; // its file, until the end fills in the rest
        QList<ZoDeviceKey> twins; // that took the same broadcast image, this one first
    };
    void next(bool first);
    // False, and why in `refusal`, when nothing was sent to the device.
    bool startDevice(const ZoUpgradePolicy *policy, ZoDeviceKey key, tdu1 devId, tdu1 devNum,
        bool core, End &refusal);
    void onFinished(ZoDeviceKey key, ZoTransferSession::Outcome outcome, ZoTransferSession::Stats stats);
    void onConfirmed(ZoDeviceKey key, ZoDeviceConfirmation::Verdict verdict, tVersion reported,
        tFcsDateTime reportedTime);
    void end(End how, ZoDeviceKey key, bool first);
    // Ends every twin but the one in flight on its own report; returns the
    // first that did not report the target (null: none).
    ZoDeviceKey finishTwins(const Current &current);
    // Tells the end of the device in flight and forgets it.
    void finishCurrent(ZoDeviceOutcome::Result result, ZoDeviceOutcome::Failure failure,
        const tVersion &reported = {}, const tFcsDateTime &reportedTime = {});
    ZoDeviceOutcome takeCurrent(ZoDeviceOutcome::Result result, ZoDeviceOutcome::Failure failure,
        const tVersion &reported);
    void fillStats(ZoDeviceOutcome &o, ZoDeviceKey from) const;
    void dispose();
    QString eid() const;
    void enterPhase(ZoDevicePhase::Phase phase);
    void takeProgress(int bytes);

    ZoMsgLooper *m_looper;
    ZoProtocolLease *m_lease;
    const ZoDeviceRoster *m_roster;
    const ZoUpgradePolicy *m_policy;
    const ZoFirmwareSource *m_source;
    ZoRunJournal *m_journal;
    ZoDeviceConfirmation *m_confirmation;
    ZoUpgradeTimings m_transfer;
    ZoLogLabel m_label;
    QTimer m_pause;
    ZoTransferSession *m_session = nullptr;
    Current m_current;
    Phase m_phase = Phase::Idle;
    QMap<ZoDeviceKey, ZoTransferSession::Stats> m_stats;
    quint64 m_serial = 0; // of the session in flight
    ZoDevicePhase m_now; // of the device in flight
    qint64 m_rateFromMs = -1; // the first figure of its blocks, and its bytes
    int m_rateFromBytes = 0;
};
