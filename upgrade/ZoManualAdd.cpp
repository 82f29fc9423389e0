#include "ZoManualAdd.h"

#include "ZoBootCommands.h"
#include "ZoDeviceRoster.h"
#include "ZoEngineQuestions.h"
#include "ZoMsgLooper.h"
#include "ZoProtocolLease.h"
#include "ZoRunJournal.h"
#include "ZoUtils.h"

#include <QCoreApplication>

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

// The engine's texts, translated in its context.
QString text(const char *key)
{
    return QCoreApplication::translate("ZoUpgradeWorkflow", key);
}

} // namespace

ZoManualAdd::ZoManualAdd(ZoBootCommands *commands, ZoProtocolLease *lease, QObject *parent)
    : QObject(parent)
    , m_commands(commands)
    , m_lease(lease)
{
    m_detect.setSingleShot(true);
    m_force.setSingleShot(true);
    connect(&m_force, &QTimer::timeout, this, &ZoManualAdd::forceReport);
    connect(
        lease, &ZoProtocolLease::sigReleased, this,
        [this] {
            if (m_state == State::WaitingForLease)
                begin();
        },
        Qt::QueuedConnection);
    connect(&m_detect, &QTimer::timeout, this, [this] {
        stop();
        if (!m_core) {
            const tdu1 device = m_pending;
            reset();
            Q_EMIT sigWaitPopup(false, 0);
            Q_EMIT sigModuleSilent(device);
            return;
        }
        int airframe = 0;
        Q_EMIT sigAsk(ZoEngineQuestions::QuestionForceAddCore,
            QStringLiteral("%1\uFF1A[%2]")
                .arg(text("MsgManualAddGNCFailedForceAdd"),
                    ZoUtils::deviceName(m_pending, airframe)));
    });
}

void ZoManualAdd::addModule(ZoDeviceKey module)
{
    m_pending = module.type;
    m_devNum = module.number;
    m_core = false;
    Q_EMIT sigWaitPopup(true, 0);
    m_state = State::WaitingForLease;
    begin();
}

void ZoManualAdd::addCore(tdu1 devId)
{
    m_pending = devId;
    m_device = devId;
    m_core = true;
    int airframe = 0;
    qCDebug(lcUpgrade).noquote() << "Current upgrade core gnc id:"
                                 << ZoUtils::deviceName(devId, airframe);
    Q_EMIT sigWaitPopup(true, 0);
    m_state = State::WaitingForLease;
    begin();
}

void ZoManualAdd::begin()
{
    // Refused: the lease's release tries again.
    if (!m_lease->take(this, QStringLiteral("manual add")))
        return;
    if (m_beforeEnter
        && !m_beforeEnter(ZoDeviceKey(m_pending, m_core ? tdu1(0) : m_devNum), m_core)) {
        const tdu1 device = m_pending;
        const bool core = m_core;
        reset();
        Q_EMIT sigWaitPopup(false, 0);
        if (core)
            Q_EMIT sigCoreRefused();
        else
            Q_EMIT sigModuleSilent(device);
        return;
    }
    m_state = State::Asking;
    if (m_core)
        m_commands->coreEnterBootloader(m_device);
    else
        m_commands->module(ZoBootCommands::OpEnter, m_pending, m_devNum);
    m_detect.start(m_core ? m_timings.manualCoreMs : m_timings.manualModuleMs);
    m_force.start(m_timings.forceReportDelayMs);
}

void ZoManualAdd::forceReport()
{
    if (m_core) {
        Q_EMIT sigWaitPopup(true, 50);
        // The core answers from its bootloader in that protocol.
        if (m_lease->setMode(this, ZoMsgLooper::ModeCoreBootloader, 0))
            m_commands->coreReadParameters();
        return;
    }
    if (m_pending == 0)
        return;
    Q_EMIT sigWaitPopup(true, 50);
    // The module reports from its bootloader in the form of its bus kind.
    if (m_lease->setMode(
            this, ZoMsgLooper::ModeApplication, tdu1(ZoUtils::protocolClass(m_pending)))
        && m_commands->module(ZoBootCommands::OpForceReport, m_pending, m_devNum))
        Q_EMIT sigWaitPopup(true, 75);
}

void ZoManualAdd::stop()
{
    m_detect.stop();
    m_force.stop();
    m_state = State::Idle;
    m_lease->release(this);
}

void ZoManualAdd::answered()
{
    if (m_state == State::Idle)
        return;
    stop();
    Q_EMIT sigWaitPopup(false, 100);
}

void ZoManualAdd::reset()
{
    stop();
    m_pending = 0;
    m_device = 0;
    m_core = false;
}

void ZoManualAdd::checkCore(tVersion version)
{
    const tdu1 selected = m_pending;
    int selectedFrame = ZoUtils::AirframeNone;
    int realFrame = ZoUtils::AirframeNone;
    const QString selectedName = ZoUtils::deviceName(selected, selectedFrame);
    const QString realName = ZoUtils::deviceName(version.type, realFrame);
    const QString format = QStringLiteral("%1\uFF0C%2\uFF1A[%3]\uFF0C%4\uFF1A[%5]");
    QString difference;
    if (!ZoUtils::sameCoreFamily(selected, version.type)) {
        difference = format.arg(text("MsgHWDevNotSame"), text("MsgAddDevice"), selectedName,
            text("MsgRealDevice"), realName);
    } else if (selectedFrame != realFrame) {
        difference = format.arg(text("MsgDeviceProtNotSame"), text("MsgAddDevice"),
            ZoUtils::airframeName(selectedFrame), text("MsgRealDevice"),
            ZoUtils::airframeName(realFrame));
    }
    // Taken as the core the user named: its firmware is what they chose.
    version.type = selected;
    m_reported = version;
    if (difference.isEmpty()) {
        answer(ZoEngineQuestions::QuestionCoreMismatch, ZoEngineQuestions::ButtonYes);
        return;
    }
    Q_EMIT sigAsk(ZoEngineQuestions::QuestionCoreMismatch, difference);
}

void ZoManualAdd::answer(int question, int button)
{
    const bool yes = button == ZoEngineQuestions::ButtonYes;
    if (question == ZoEngineQuestions::QuestionForceAddCore && yes) {
        Q_EMIT sigWaitPopup(false, 100);
        tVersion forced;
        forced.type = m_pending;
        checkCore(forced);
        return;
    }
    if (!yes) {
        Q_EMIT sigCoreRefused();
        return;
    }
    m_core = false; // the check ran; the rest of the report follows
    Q_EMIT sigCoreAccepted(m_reported);
}

void ZoManualAdd::recordIn(
    ZoRunJournal *journal, const ZoDeviceRoster *roster, const ZoLogLabel &label)
{
    setBeforeEnter([journal, roster, label](ZoDeviceKey d, bool core) {
        const ZoDeviceKey key = core ? d : ZoDeviceRoster::recordKey(d.type, d.number);
        QString why;
        if (journal->record(
                ZoRunJournal::entering(roster->core().serial, key, d.type, d.number, core), &why))
            return true;
        qCCritical(lcUpgrade).noquote()
            << label
            << "The run journal could not be written; the bootloader is not entered:" << why;
        return false;
    });
}
