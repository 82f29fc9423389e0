#include "ZoUpgradeRun.h"

#include "ZoDeviceRoster.h"
#include "ZoFirmwareSource.h"
#include "ZoMsgLooper.h"
#include "ZoUpgradePolicy.h"

#include <QDateTime>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoUpgradeRun::ZoUpgradeRun(ZoMsgLooper *looper, const ZoDeviceRoster *roster,
    const ZoUpgradePolicy *policy, const ZoFirmwareSource *source, QObject *parent)
    : QObject(parent)
    , m_looper(looper)
    , m_roster(roster)
    , m_policy(policy)
    , m_source(source)
{
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, [this] { next(false); });
}

ZoUpgradeRun::~ZoUpgradeRun()
{
    dispose();
}

void ZoUpgradeRun::setTimings(const ZoTransferSession::Timings &transfer, int betweenDevicesMs)
{
    m_transfer = transfer;
    m_pause.setInterval(betweenDevicesMs);
}

void ZoUpgradeRun::start()
{
    stop();
    m_running = true;
    next(true);
}

void ZoUpgradeRun::stop()
{
    m_pause.stop();
    dispose();
    m_running = false;
}

void ZoUpgradeRun::dispose()
{
    if (!m_session)
        return;
    disconnect(m_session, nullptr, this, nullptr);
    m_session->dispose();
    m_session = nullptr;
}

tds4 ZoUpgradeRun::currentKey() const
{
    return m_session ? m_session->plan().key : 0;
}

ZoTransferSession::State ZoUpgradeRun::sessionState() const
{
    return m_session ? m_session->state() : ZoTransferSession::State::Idle;
}

ZoTransferSession::Stats ZoUpgradeRun::stats(tds4 key) const
{
    ZoTransferSession::Stats s = m_stats.value(key);
    if (m_session && m_session->plan().key == key) {
        s.blocksSent = m_session->blocksSent();
        s.resends = m_session->resends();
    }
    return s;
}

void ZoUpgradeRun::next(bool first)
{
    const ZoUpgradePolicy::Pick pick = m_policy->pick(*m_roster);
    if (pick.devId == 0) {
        end(End::Completed, 0, first);
        return;
    }
    if (!startDevice(pick.key, pick.devId, pick.devNum, pick.isCore))
        end(End::FirmwareUnusable, pick.key, first);
}

bool ZoUpgradeRun::startDevice(tds4 key, tdu1 devId, tdu1 devNum, bool core)
{
    qCDebug(lcUpgrade).noquote() << "Current upgrade devId" << QString::number(devId, 16)
                                 << devNum;
    bool found = false;
    const ZoFRMFileInfo file = m_source->file(devId, found);
    ZoTransferSession::Plan plan;
    if (!found || !ZoTransferSession::makePlan(file, devId, devNum, core, key, plan, nullptr))
        return false;
    m_session = new ZoTransferSession(m_looper, plan, m_transfer);
    // Reports already queued when a session is disposed still arrive; they
    // must not be taken for the next session's, even of the same device.
    const quint64 serial = ++m_serial;
    connect(
        m_session, &ZoTransferSession::sigProgress, this,
        [this, serial](tds4 k, int value) {
            if (serial == m_serial && m_session)
                Q_EMIT sigProgress(k, value);
        },
        Qt::QueuedConnection);
    connect(
        m_session, &ZoTransferSession::sigFinished, this,
        [this, serial](tds4 k, ZoTransferSession::Outcome outcome, ZoTransferSession::Stats s) {
            if (serial == m_serial)
                onFinished(k, outcome, s);
        },
        Qt::QueuedConnection);
    ZoTransferSession::Stats stats;
    stats.startMs = QDateTime::currentMSecsSinceEpoch();
    m_stats[key] = stats;
    Q_EMIT sigDeviceStarted(key, core, plan.pageCount * ZoTransferSession::PageBytes);
    Q_EMIT sigProgress(key, plan.chunkSize);
    m_session->start();
    return true;
}

void ZoUpgradeRun::onFinished(
    tds4 key, ZoTransferSession::Outcome outcome, ZoTransferSession::Stats stats)
{
    if (!m_session || m_session->plan().key != key)
        return;
    const bool core = m_session->plan().core;
    dispose();
    m_stats[key] = stats;
    const bool ok = outcome == ZoTransferSession::Outcome::Completed;
    Q_EMIT sigDeviceFinished(key, ok);
    if (!ok)
        end(End::DeviceFailed, key, false);
    else if (core)
        end(End::Completed, 0, false);
    else
        m_pause.start();
}

void ZoUpgradeRun::end(End how, tds4 key, bool first)
{
    m_running = false;
    Q_EMIT sigEnded(how, key, first);
}
