#include "ZoDeviceConfirmation.h"

#include "ZoBootCommands.h"
#include "ZoMsgLooper.h"
#include "ZoUpgradePolicy.h"
#include "ZoUtils.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoDeviceConfirmation::ZoDeviceConfirmation(
    ZoMsgLooper *looper, ZoBootCommands *commands, QObject *parent)
    : QObject(parent)
    , m_commands(commands)
{
    m_deadline.setSingleShot(true);
    connect(&m_query, &QTimer::timeout, this, &ZoDeviceConfirmation::query);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_reported.type == 0)
            finish(Verdict::Silent);
        else if (m_twinReports.size() < m_target.serials.size())
            finish(m_reported == m_target.version ? Verdict::Silent : Verdict::WrongVersion);
        else if (!m_target.eid.isEmpty() && m_eid.isEmpty())
            finish(Verdict::OtherAircraft); // its identity never came
        else
            finish(Verdict::WrongVersion); // nor did a matching compile time
    });
    connect(
        looper, &ZoMsgLooper::sigCANDevVersion, this,
        [this](tVersion v, tdu1 index, const QString &sn) { onModuleReport(v, index, sn); },
        Qt::QueuedConnection);
    connect(looper, &ZoMsgLooper::sigGNCFMVersion, this, &ZoDeviceConfirmation::onCoreVersion,
        Qt::QueuedConnection);
    connect(looper, &ZoMsgLooper::sigGNCCompileTime, this,
        &ZoDeviceConfirmation::onCoreCompileTime, Qt::QueuedConnection);
    connect(looper, &ZoMsgLooper::sigGNCEID, this, &ZoDeviceConfirmation::onEid,
        Qt::QueuedConnection);
}

void ZoDeviceConfirmation::start(const Target &target)
{
    cancel();
    m_target = target;
    m_twinReports.clear();
    m_active = true;
    m_answered = false;
    m_deadline.start(target.core ? m_timings.confirmCoreMs : m_timings.confirmModuleMs);
    // Asked at once and then often: a device still restarting drops the
    // questions, and the first one it can answer is not waited for.
    m_query.start(m_timings.confirmQueryMs);
    query();
}

void ZoDeviceConfirmation::cancel()
{
    m_active = false;
    m_query.stop();
    m_deadline.stop();
    m_reported = tVersion();
    m_reportedTime = tFcsDateTime();
    m_timeKnown = false;
    m_eid.clear();
}

void ZoDeviceConfirmation::query()
{
    if (!m_target.core) {
        m_commands->module(ZoBootCommands::OpVersion, m_target.devId, m_target.devNum);
    } else if (m_reported.type == 0) {
        m_commands->coreVersionQuery();
    } else {
        // The version came; what is still missing is the compile time or
        // the identity.
        if (m_target.checkCompileTime && !m_timeKnown)
            m_commands->coreVersionQuery();
        if (m_eid.isEmpty())
            m_commands->identityQuery();
    }
}

void ZoDeviceConfirmation::onModuleReport(tVersion version, tdu1 index, const QString &serial)
{
    if (!m_active || m_target.core || version.type != m_target.devId)
        return;
    if (!m_target.serials.isEmpty())
        return onTwinReport(version, serial);
    // Kind 2 reports carry the node, not the number it is addressed with.
    if (ZoUtils::protocolClass(version.type) != ZoUtils::ClassCan && index != m_target.devNum)
        return;
    answered();
    m_reported = version;
    finish(version == m_target.version ? Verdict::Confirmed : Verdict::WrongVersion);
}

void ZoDeviceConfirmation::answered()
{
    if (m_answered)
        return;
    m_answered = true;
    Q_EMIT sigAnswered(m_target.key);
}

void ZoDeviceConfirmation::onTwinReport(tVersion version, const QString &serial)
{
    // A module of the type that was not there before the run took no image.
    if (!m_target.serials.contains(serial))
        return;
    answered();
    m_twinReports.insert(serial, version);
    if (m_reported.type == 0 || !(version == m_target.version))
        m_reported = version;
    // One twin on its old firmware decides nothing until the others spoke:
    // each of them ends on its own report.
    if (m_twinReports.size() == m_target.serials.size())
        finish(m_reported == m_target.version ? Verdict::Confirmed : Verdict::WrongVersion);
}

void ZoDeviceConfirmation::onCoreVersion(tVersion version)
{
    if (!m_active || !m_target.core || version.type == 0)
        return;
    answered();
    m_reported = version;
    if (version.type != m_target.devId || version != m_target.version) {
        finish(Verdict::WrongVersion);
        return;
    }
    if (m_eid.isEmpty())
        m_commands->identityQuery();
    decideCore();
}

void ZoDeviceConfirmation::onCoreCompileTime(tFcsDateTime time)
{
    if (!m_active || !m_target.core)
        return;
    m_reportedTime = time;
    m_timeKnown = true;
    decideCore();
}

void ZoDeviceConfirmation::onEid(const QString &eid)
{
    if (!m_active || !m_target.core || eid.isEmpty())
        return;
    m_eid = eid;
    if (!m_target.eid.isEmpty() && eid != m_target.eid) {
        qCWarning(lcUpgrade).noquote()
            << m_label << "The core that came back has another identity:" << eid << "not" << m_target.eid;
        finish(Verdict::OtherAircraft);
        return;
    }
    decideCore();
}

void ZoDeviceConfirmation::decideCore()
{
    if (!m_active || m_reported.type == 0)
        return;
    if (!m_target.eid.isEmpty() && m_eid.isEmpty())
        return;
    if (m_target.checkCompileTime) {
        if (!m_timeKnown)
            return;
        if (!ZoUpgradePolicy::sameBuild(m_reportedTime, m_target.compileTime)) {
            finish(Verdict::WrongVersion);
            return;
        }
    }
    finish(Verdict::Confirmed);
}

void ZoDeviceConfirmation::finish(Verdict verdict)
{
    const ZoDeviceKey key = m_target.key;
    const tVersion reported = m_reported;
    const tFcsDateTime time = m_reportedTime;
    qCDebug(lcUpgrade).noquote() << "Read back of" << QString::number(m_target.devId, 16)
                                 << "gave" << ZoUtils::versionText(reported) << int(verdict);
    cancel();
    Q_EMIT sigFinished(key, verdict, reported, time);
}
