#include "ZoManualAdd.h"

#include "ZoBootCommands.h"
#include "ZoMsgLooper.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoManualAdd::ZoManualAdd(ZoBootCommands *commands, ZoMsgLooper *looper, QObject *parent)
    : QObject(parent)
    , m_commands(commands)
    , m_looper(looper)
{
    m_detect.setSingleShot(true);
    m_force.setSingleShot(true);
    connect(&m_force, &QTimer::timeout, this, &ZoManualAdd::forceReport);
    connect(&m_detect, &QTimer::timeout, this, [this] {
        m_force.stop();
        Q_EMIT sigSilent(m_pending, m_core);
    });
}

void ZoManualAdd::addModule(tdu1 devId, tdu1 devNum)
{
    m_commands->module(ZoBootCommands::OpEnter, devId, devNum);
    m_pending = devId;
    m_devNum = devNum;
    m_core = false;
    m_detect.start(m_timings.manualModuleMs);
    Q_EMIT sigWaitPopup(true, 0);
    m_force.start(m_timings.forceReportDelayMs);
}

void ZoManualAdd::addCore(tdu1 devId)
{
    m_pending = devId;
    m_device = devId;
    m_core = true;
    int airframe = 0;
    qCDebug(lcUpgrade).noquote() << "Current upgrade core gnc id:"
                                 << ZoUtils::deviceName(devId, airframe);
    m_commands->coreEnterBootloader(devId);
    m_detect.start(m_timings.manualCoreMs);
    Q_EMIT sigWaitPopup(true, 0);
    m_force.start(m_timings.forceReportDelayMs);
}

void ZoManualAdd::forceReport()
{
    if (m_core) {
        Q_EMIT sigWaitPopup(true, 50);
        // The core answers from its bootloader in that protocol.
        m_looper->setProtocol(ZoMsgLooper::ModeCoreBootloader, 0);
        m_commands->coreReadParameters();
        return;
    }
    if (m_pending == 0)
        return;
    Q_EMIT sigWaitPopup(true, 50);
    // The module reports from its bootloader in the form of its bus kind.
    m_looper->setProtocol(
        ZoMsgLooper::ModeApplication, tdu1(ZoUtils::protocolClass(m_pending)));
    if (m_commands->module(ZoBootCommands::OpForceReport, m_pending, m_devNum))
        Q_EMIT sigWaitPopup(true, 75);
}

void ZoManualAdd::answered()
{
    if (!m_detect.isActive())
        return;
    m_detect.stop();
    m_force.stop();
    Q_EMIT sigWaitPopup(false, 100);
}

void ZoManualAdd::reset()
{
    m_detect.stop();
    m_force.stop();
    m_pending = 0;
    m_device = 0;
    m_core = false;
    m_looper->setProtocol(ZoMsgLooper::ModeApplication, 0);
}
