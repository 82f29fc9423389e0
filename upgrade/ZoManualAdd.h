#pragma once

#include "ZoDeviceKey.h"
#include "ZoLogLabel.h"
#include "ZoTypes.h"
#include "ZoUpgradeTimings.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

#include <functional>

class ZoBootCommands;
class ZoDeviceRoster;
class ZoProtocolLease;
class ZoRunJournal;

// Adding a device the search did not find, by hand: the module or core the
// user names is told to enter its bootloader and, a moment later, asked to
// report from there. Its report (a version from the looper) ends the wait.
// A core's report is checked against what the user named (a question when
// they differ); a silent core may be added anyway if the user says so.
//
// It commands the device only while it holds the protocol lease, from the
// enter command until the report or the silence: while another part holds
// it (the bootloader probe after a search), the add waits, its popup up,
// and goes on once the lease is released. On the engine's thread.
class ZoManualAdd : public QObject
{
    Q_OBJECT
public:
    using Timings = ZoUpgradeTimings;

    ZoManualAdd(ZoBootCommands *commands, ZoProtocolLease *lease, QObject *parent = nullptr);

    void setTimings(const Timings &timings) { m_timings = timings; }
    // Asked just before a bootloader is entered (the device, and whether it
    // is a core), so that it is on record; false keeps the device out, and
    // the add fails.
    using BeforeEnter = std::function<bool(ZoDeviceKey device, bool core)>;
    void setBeforeEnter(BeforeEnter beforeEnter) { m_beforeEnter = std::move(beforeEnter); }
    // That, from the run journal: a device entered is on record as a run's
    // is (under the EID of `roster`'s core), so the next run from this
    // station looks for it in its bootloader. Neither is owned.
    void recordIn(ZoRunJournal *journal, const ZoDeviceRoster *roster, const ZoLogLabel &label);

    // A module, addressed with its type and number.
    void addModule(ZoDeviceKey module);
    // A core of type `devId`: its report is checked against it.
    void addCore(tdu1 devId);

    // The type the user named, until its report is taken (0: none).
    tdu1 pending() const { return m_pending; }
    void setPending(tdu1 type) { m_pending = type; }
    bool isCoreCheck() const { return m_core; }
    // The device being added as the enter command named it.
    tdu1 device() const { return m_device; }
    // Waiting for the lease or for the report.
    bool isWaiting() const { return m_state != State::Idle; }

    // A report came: the wait ends (the popup closes) and the lease is
    // released.
    void answered();
    // The core's report while a core is being added: accepted as the core
    // the user named (its type), or a question first when they differ.
    void checkCore(tVersion version);
    // The answer to a question this asked (sigAsk).
    void answer(int question, int button);
    // Forget everything; the lease is released, so the looper reads module
    // replies as usual again.
    void reset();

Q_SIGNALS:
    void sigWaitPopup(bool visible, int value);
    // The add is over (reset, popup closed): the module did not answer.
    void sigModuleSilent(tdu1 devId);
    void sigCoreAccepted(tVersion version);
    void sigCoreRefused();
    // Question ids and buttons of ZoEngineQuestions.
    // A yes-or-no question.
    void sigAsk(int id, QString text);

private:
    enum class State { Idle, WaitingForLease, Asking };
    void begin();
    void forceReport();
    // The wait is over: the timers stop and the lease goes back.
    void stop();

    ZoBootCommands *m_commands;
    ZoProtocolLease *m_lease;
    Timings m_timings;
    BeforeEnter m_beforeEnter;
    State m_state = State::Idle;
    QTimer m_detect;
    QTimer m_force;
    tdu1 m_pending = 0;
    tdu1 m_device = 0;
    tdu1 m_devNum = 0;
    bool m_core = false;
    tVersion m_reported; // a core report waiting for the user's answer
};
