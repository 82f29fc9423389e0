#pragma once

#include "ZoDeviceKey.h"
#include "ZoTypes.h"
#include "ZoUpgradeTimings.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>

class ZoBootCommands;
class ZoMsgLooper;
class ZoProtocolLease;

// Asks the buses behind the core whether a module bootloader already
// listens: a module left there by an interrupted run answers only from it,
// and would take the frames meant for the next module of its bus kind.
//
// The CAN bus's bootloaders of kind 2 are asked all at once (their commands
// carry no address); those of kinds 3 and 4 one by one, by type and number.
// Kind 3 replies in the short form the looper reads only with that variant
// set, so the addressed CAN devices get a phase of their own.
//
// A phase's queries go at most 20 ms apart, and closer when there are many
// of them (every number of a type): all of a phase's queries go out within
// the sweep time, by the phase's own clock, so that a phase lasts at most
// that and its listen (while this thread's event loop turns every few ms: a
// late tick catches up only as far as the looper's queue has room).
//
// It asks only while it holds the protocol lease: while another part holds
// it (a board being added by hand), the probe waits, and asks once it is
// released. On the engine's thread.
class ZoBootloaderProbe : public QObject
{
    Q_OBJECT
public:
    using Device = ZoDeviceKey;
    struct Found
    {
        tVersion version; // what it runs, as its bootloader keeps it
        tdu1 number = 0; // kind 2: 0
    };

    ZoBootloaderProbe(ZoMsgLooper *looper, ZoBootCommands *commands, ZoProtocolLease *lease,
        QObject *parent = nullptr);

    // How long each phase listens after its last command.
    void setListenMs(int ms) { m_listenMs = ms; }
    void setTimings(const ZoUpgradeTimings &t)
    {
        m_listenMs = t.probeListenMs;
        m_sweepMs = t.probeSweepMs;
    }
    // `askCan`: send the bare kind-2 force report; `addressed`: devices of
    // kinds 3 and 4 to ask by number. Ends with sigFinished, within this
    // call when there is nothing to ask. Active (waiting) while the lease is
    // another part's.
    void start(bool askCan, const QList<Device> &addressed);
    void cancel();
    bool isActive() const { return m_phase != Phase::Idle; }

Q_SIGNALS:
    // Every device that answered from its bootloader (kind 2: number 0).
    void sigFinished(QList<ZoBootloaderProbe::Found> found);

private:
    enum class Phase { Idle, WaitingForLease, Unaddressed, AddressedCan };
    void begin();
    void enter(Phase phase);
    void sendNext();
    void onReport(tVersion version, tdu1 index);

    ZoMsgLooper *m_looper;
    ZoBootCommands *m_commands;
    ZoProtocolLease *m_lease;
    QTimer m_step;
    QTimer m_listen;
    int m_listenMs = ZoUpgradeTimings().probeListenMs;
    int m_sweepMs = ZoUpgradeTimings().probeSweepMs;
    QElapsedTimer m_phaseClock;
    qint64 m_paceUs = 0; // between two queries of this phase
    qint64 m_sentInPhase = 0;
    Phase m_phase = Phase::Idle;
    bool m_askCan = false;
    QList<Device> m_queue; // still to send in this phase
    QList<Device> m_addressedCan;
    QList<Found> m_found;
};
