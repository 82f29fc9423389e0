#include "ZoBootloaderProbe.h"

#include "ZoBootCommands.h"
#include "ZoMsgLooper.h"
#include "ZoProtocolLease.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {
// Commands from the engine's thread wait in the looper's queue of four, whose
// oldest is dropped when full: a late tick catches up only while it has room
// (and leaves one for the engine's other commands).
constexpr int StepMs = 20;
constexpr int MaxQueued = 3;
// Any type of bus kind 2 carries the bare report command.
constexpr tdu1 AnyCanType = 38;
} // namespace

ZoBootloaderProbe::ZoBootloaderProbe(
    ZoMsgLooper *looper, ZoBootCommands *commands, ZoProtocolLease *lease, QObject *parent)
    : QObject(parent)
    , m_looper(looper)
    , m_commands(commands)
    , m_lease(lease)
{
    // Both bound how long a bus kind is asked: neither may run long or short.
    m_step.setTimerType(Qt::PreciseTimer);
    m_listen.setTimerType(Qt::PreciseTimer);
    m_listen.setSingleShot(true);
    connect(&m_step, &QTimer::timeout, this, &ZoBootloaderProbe::sendNext);
    connect(&m_listen, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Unaddressed && !m_addressedCan.isEmpty()) {
            enter(Phase::AddressedCan);
            return;
        }
        m_lease->release(this);
        m_phase = Phase::Idle;
        qCDebug(lcUpgrade) << "Bootloader probe found" << m_found.size();
        Q_EMIT sigFinished(std::exchange(m_found, {}));
    });
    connect(
        lease, &ZoProtocolLease::sigReleased, this,
        [this] {
            if (m_phase == Phase::WaitingForLease)
                begin();
        },
        Qt::QueuedConnection);
    connect(looper, &ZoMsgLooper::sigCANDevBootloaderReport, this, &ZoBootloaderProbe::onReport,
        Qt::QueuedConnection);
}

void ZoBootloaderProbe::start(bool askCan, const QList<Device> &addressed)
{
    cancel();
    m_askCan = askCan;
    QList<Device> bus;
    for (const Device &d : addressed) {
        if (ZoUtils::protocolClass(d.type) == ZoUtils::ClassCanByDevNum)
            m_addressedCan.append(d);
        else if (ZoUtils::protocolClass(d.type) == ZoUtils::ClassBus)
            bus.append(d);
    }
    // Nothing to ask: done at once, so that a run with no bus starts in the
    // same call.
    if (!askCan && bus.isEmpty() && m_addressedCan.isEmpty()) {
        Q_EMIT sigFinished({});
        return;
    }
    m_queue = bus;
    m_phase = Phase::WaitingForLease;
    begin();
}

void ZoBootloaderProbe::begin()
{
    if (!m_lease->take(this, QStringLiteral("bootloader probe")))
        return;
    if (m_askCan || !m_queue.isEmpty())
        enter(Phase::Unaddressed);
    else
        enter(Phase::AddressedCan);
}

void ZoBootloaderProbe::cancel()
{
    m_step.stop();
    m_listen.stop();
    m_lease->release(this);
    m_phase = Phase::Idle;
    m_queue.clear();
    m_addressedCan.clear();
    m_found.clear();
}

void ZoBootloaderProbe::enter(Phase phase)
{
    m_phase = phase;
    if (phase == Phase::AddressedCan) {
        m_queue = std::exchange(m_addressedCan, {});
        m_lease->setMode(this, ZoMsgLooper::ModeApplication, tdu1(ZoUtils::ClassCanByDevNum));
    } else if (m_askCan) {
        m_commands->module(ZoBootCommands::OpForceReport, AnyCanType, 0);
    }
    m_paceUs
        = qBound<qint64>(1, qint64(m_sweepMs) * 1000 / qMax(1, int(m_queue.size())), StepMs * 1000);
    m_sentInPhase = 0;
    m_phaseClock.start();
    m_step.start(int(qMax<qint64>(1, m_paceUs / 1000)));
    sendNext();
}

void ZoBootloaderProbe::sendNext()
{
    // Every query whose turn has come by the phase's clock: a late tick does
    // not stretch the phase past its sweep time.
    const qint64 due = m_phaseClock.nsecsElapsed() / 1000 / m_paceUs + 1;
    while (m_sentInPhase < due && !m_queue.isEmpty() && m_looper->queuedCommands() < MaxQueued) {
        const Device d = m_queue.takeFirst();
        m_commands->module(ZoBootCommands::OpForceReport, d.type, d.number);
        ++m_sentInPhase;
    }
    if (m_queue.isEmpty()) {
        m_step.stop();
        if (!m_listen.isActive())
            m_listen.start(m_listenMs);
    }
}

void ZoBootloaderProbe::onReport(tVersion version, tdu1 index)
{
    if (m_phase == Phase::Idle || m_phase == Phase::WaitingForLease || version.type == 0)
        return;
    const tdu1 number = ZoUtils::protocolClass(version.type) == ZoUtils::ClassCan ? 0 : index;
    for (const Found &f : qAsConst(m_found)) {
        if (f.version.type == version.type && f.number == number)
            return;
    }
    m_found.append(Found {version, number});
}
