#include "ZoUpgradeRun.h"

#include "ZoDeviceRoster.h"
#include "ZoFirmwareSource.h"
#include "ZoMsgLooper.h"
#include "ZoRunJournal.h"
#include "ZoUpgradePolicy.h"
#include "ZoUtils.h"

#include <QDateTime>
#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoUpgradeRun::ZoUpgradeRun(ZoMsgLooper *looper, ZoBootCommands *commands, ZoProtocolLease *lease,
    const ZoDeviceRoster *roster, const ZoUpgradePolicy *policy, const ZoFirmwareSource *source,
    ZoRunJournal *journal, QObject *parent)
    : QObject(parent)
    , m_looper(looper)
    , m_lease(lease)
    , m_roster(roster)
    , m_policy(policy)
    , m_source(source)
    , m_journal(journal)
    , m_confirmation(new ZoDeviceConfirmation(looper, commands, this))
{
    m_pause.setSingleShot(true);
    // The pause between devices is the protocol's own; a coarse timer would
    // add up to a twentieth of it to every device.
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, [this] { next(false); });
    connect(m_confirmation, &ZoDeviceConfirmation::sigFinished, this, &ZoUpgradeRun::onConfirmed);
    qRegisterMetaType<ZoDevicePhase>("ZoDevicePhase");
    connect(m_confirmation, &ZoDeviceConfirmation::sigAnswered, this, [this](ZoDeviceKey key) {
        if (m_phase == Phase::Confirming && key == m_current.key)
            enterPhase(ZoDevicePhase::Confirming);
    });
}

ZoUpgradeRun::~ZoUpgradeRun()
{
    dispose();
}

void ZoUpgradeRun::setTimings(const ZoUpgradeTimings &timings)
{
    m_transfer = timings;
    m_confirmation->setTimings(timings);
    m_pause.setInterval(timings.betweenDevicesMs);
}

void ZoUpgradeRun::setLogLabel(const QString &label)
{
    m_label.text = label;
    m_confirmation->setLogLabel(label);
}

void ZoUpgradeRun::start()
{
    stop();
    m_phase = Phase::Pausing;
    next(true);
}

void ZoUpgradeRun::stop()
{
    m_pause.stop();
    m_confirmation->cancel();
    dispose();
    m_current = Current();
    m_now = ZoDevicePhase();
    m_phase = Phase::Idle;
}

void ZoUpgradeRun::fail(End how)
{
    if (!isRunning())
        return;
    const ZoDeviceKey key = m_current.key;
    // The figures of the transfer in flight, before stop() forgets it.
    if (m_session && !key.isNull())
        m_stats[key] = stats(key);
    const Current current = m_current;
    stop();
    if (!key.isNull()) {
        m_current = current;
        finishCurrent(ZoDeviceOutcome::Result::Interrupted,
            how == End::LinkLost ? ZoDeviceOutcome::Failure::LinkLost
                                 : ZoDeviceOutcome::Failure::None);
    }
    end(how, key, false);
}

void ZoUpgradeRun::dispose()
{
    if (!m_session)
        return;
    disconnect(m_session, nullptr, this, nullptr);
    m_session->dispose();
    m_session = nullptr;
}

QString ZoUpgradeRun::eid() const
{
    return m_roster->core().serial;
}

ZoTransferSession::State ZoUpgradeRun::sessionState() const
{
    return m_session ? m_session->state() : ZoTransferSession::State::Idle;
}

ZoTransferSession::Stats ZoUpgradeRun::stats(ZoDeviceKey key) const
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
        const ZoDeviceKey stranded = m_policy->strandedWithoutTarget(*m_roster);
        end(stranded.isNull() ? End::Completed : End::StrandedWithoutTarget, stranded, first);
        return;
    }
    const ZoDevFMInfo record = m_roster->records().value(pick.key);
    if (pick.isCore && eid().isEmpty() && record.presence != ZoDevFMInfo::Presence::InBootloader) {
        qCWarning(lcUpgrade).noquote()
            << m_label << "The core never told its identity; it is not flashed";
        end(End::CoreUnidentified, pick.key, first);
        return;
    }
    End refusal = End::FirmwareUnusable;
    if (!startDevice(m_policy, pick.key, pick.devId, pick.devNum, pick.isCore, refusal))
        end(refusal, pick.key, first);
}

bool ZoUpgradeRun::startDevice(const ZoUpgradePolicy *policy, ZoDeviceKey key, tdu1 devId,
    tdu1 devNum, bool core, End &refusal)
{
    qCDebug(lcUpgrade).noquote() << "Current upgrade devId" << QString::number(devId, 16)
                                 << devNum;
    bool found = false;
    const ZoFRMFileInfo file = m_source->file(devId, found);
    ZoTransferSession::Plan plan;
    QString why;
    if (!found || !ZoTransferSession::makePlan(file, devId, devNum, core, key, plan, &why)) {
        if (found)
            qCWarning(lcUpgrade).noquote() << m_label << why;
        return false;
    }

    m_current = Current();
    m_current.key = key;
    m_current.core = core;
    ZoDeviceConfirmation::Target &t = m_current.target;
    t.key = key;
    t.devId = devId;
    t.devNum = devNum;
    t.core = core;
    file.headerVersion(t.version);
    file.headerCompileTime(t.compileTime);
    t.checkCompileTime = core && policy->customBranch();
    t.eid = eid();
    m_current.twins = core ? QList<ZoDeviceKey>() : m_roster->twinsOf(key);
    for (const ZoDeviceKey &twin : qAsConst(m_current.twins))
        t.serials << m_roster->records().value(twin).serial;
    ZoDeviceOutcome &o = m_current.outcome;
    o.key = key;
    o.target = t.version;
    o.firmwareId = file.fid;
    o.sha256 = m_source->fileSha256(devId);
    o.fileBytes = file.bytes().size();
    o.before = m_roster->records().value(key).curVersion;

    // Written before the bootloader is entered: from the enter command on,
    // the device may be left there by whatever happens to this program.
    if (!m_journal->record(
            ZoRunJournal::entering(t.eid, key, devId, devNum, core, t.version), &why)) {
        qCCritical(lcUpgrade).noquote()
            << m_label << "The run journal could not be written; the bootloader is not entered:"
            << why;
        refusal = End::JournalUnwritable;
        return false;
    }

    m_session = new ZoTransferSession(m_looper, m_lease, plan, m_transfer);
    m_session->setLogLabel(m_label);
    // Reports already queued when a session is disposed still arrive; they
    // must not be taken for the next session's, even of the same device.
    const quint64 serial = ++m_serial;
    connect(
        m_session, &ZoTransferSession::sigProgress, this,
        [this, serial](ZoDeviceKey k, int value) {
            if (serial != m_serial || !m_session)
                return;
            takeProgress(value);
            Q_EMIT sigProgress(k, value);
        },
        Qt::QueuedConnection);
    connect(
        m_session, &ZoTransferSession::sigPhase, this,
        [this, serial](ZoDeviceKey, int phase) {
            if (serial == m_serial && m_session)
                enterPhase(ZoDevicePhase::Phase(phase));
        },
        Qt::QueuedConnection);
    connect(
        m_session, &ZoTransferSession::sigFinished, this,
        [this, serial](ZoDeviceKey k, ZoTransferSession::Outcome outcome, ZoTransferSession::Stats s) {
            if (serial == m_serial)
                onFinished(k, outcome, s);
        },
        Qt::QueuedConnection);
    ZoTransferSession::Stats stats;
    stats.startMs = QDateTime::currentMSecsSinceEpoch();
    m_stats[key] = stats;
    m_phase = Phase::Transferring;
    m_now = ZoDevicePhase();
    m_now.key = key;
    m_now.total = plan.pageCount * ZoTransferSession::PageBytes;
    m_rateFromMs = -1;
    Q_EMIT sigDeviceStarted(key, core, plan.pageCount * ZoTransferSession::PageBytes);
    Q_EMIT sigDevicePhase(m_now); // entering, as the session starts
    Q_EMIT sigProgress(key, plan.chunkSize);
    m_session->start();
    return true;
}

void ZoUpgradeRun::onFinished(
    ZoDeviceKey key, ZoTransferSession::Outcome outcome, ZoTransferSession::Stats stats)
{
    if (!m_session || m_session->plan().key != key)
        return;
    m_current.outcome.acknowledgedBytes = m_session->acknowledged();
    dispose();
    m_stats[key] = stats;
    if (outcome != ZoTransferSession::Outcome::Completed) {
        finishCurrent(ZoDeviceOutcome::Result::Failed,
            outcome == ZoTransferSession::Outcome::NoAnswer ? ZoDeviceOutcome::Failure::BlockTimeout
                                                            : ZoDeviceOutcome::Failure::SendFailed);
        end(End::DeviceFailed, key, false);
        return;
    }
    m_phase = Phase::Confirming;
    Q_EMIT sigDeviceConfirming(key);
    enterPhase(ZoDevicePhase::Restarting);
    m_confirmation->start(m_current.target);
}

void ZoUpgradeRun::onConfirmed(ZoDeviceKey key, ZoDeviceConfirmation::Verdict verdict,
    tVersion reported, tFcsDateTime reportedTime)
{
    if (m_phase != Phase::Confirming || key != m_current.key)
        return;
    const Current current = m_current;
    using Verdict = ZoDeviceConfirmation::Verdict;
    const ZoDeviceKey failedTwin = finishTwins(current);
    if (!current.twins.isEmpty()) {
        reported = m_confirmation->twinReport(current.target.serials.value(0));
        verdict = reported.type == 0             ? Verdict::Silent
            : reported == current.target.version ? Verdict::Confirmed
                                                 : Verdict::WrongVersion;
    }
    // A device that answers from its application is out of its bootloader,
    // whatever it runs. Silence, another core's identity or another type
    // says nothing of it: it may still be in there; so may a silent twin.
    const bool twinsOut
        = std::all_of(current.target.serials.cbegin(), current.target.serials.cend(),
            [this](const QString &sn) { return m_confirmation->twinReport(sn).type != 0; });
    if (twinsOut
        && (verdict == Verdict::Confirmed
            || (verdict == Verdict::WrongVersion && reported.type == current.target.devId))) {
        QString why;
        if (!m_journal->clear(current.target.eid, key, &why))
            qCWarning(lcUpgrade).noquote() << m_label << "The run journal could not be written:" << why;
    }
    if (verdict != ZoDeviceConfirmation::Verdict::Confirmed) {
        qCWarning(lcUpgrade).noquote()
            << m_label << "Not confirmed:" << QString::number(current.target.devId, 16) << "reported"
            << ZoUtils::versionText(reported) << "instead of"
            << ZoUtils::versionText(current.target.version);
        using Failure = ZoDeviceOutcome::Failure;
        finishCurrent(ZoDeviceOutcome::Result::NotConfirmed,
            verdict == ZoDeviceConfirmation::Verdict::Silent          ? Failure::Silent
                : verdict == ZoDeviceConfirmation::Verdict::OtherAircraft ? Failure::OtherAircraft
                                                                          : Failure::WrongVersion,
            reported, reportedTime);
        end(End::NotConfirmed, key, false);
        return;
    }
    finishCurrent(ZoDeviceOutcome::Result::Upgraded, ZoDeviceOutcome::Failure::None, reported,
        reportedTime);
    if (!failedTwin.isNull()) {
        end(End::NotConfirmed, failedTwin, false);
    } else if (current.core) {
        const ZoDeviceKey stranded = m_policy->strandedWithoutTarget(*m_roster);
        end(stranded.isNull() ? End::Completed : End::StrandedWithoutTarget, stranded, false);
    } else {
        m_phase = Phase::Pausing;
        m_pause.start();
    }
}

ZoDeviceKey ZoUpgradeRun::finishTwins(const Current &current)
{
    ZoDeviceKey failed;
    const tVersion target = current.target.version;
    for (int i = 1; i < current.twins.size(); ++i) {
        ZoDeviceOutcome o = current.outcome;
        o.key = current.twins[i];
        o.before = m_roster->records().value(o.key).curVersion;
        o.reported = m_confirmation->twinReport(current.target.serials.value(i));
        const bool ok = o.reported.type != 0 && o.reported == target;
        o.result = ok ? ZoDeviceOutcome::Result::Upgraded : ZoDeviceOutcome::Result::NotConfirmed;
        o.failure = ok             ? ZoDeviceOutcome::Failure::None
            : o.reported.type == 0 ? ZoDeviceOutcome::Failure::Silent
                                   : ZoDeviceOutcome::Failure::WrongVersion;
        fillStats(o, current.key);
        if (!ok && failed.isNull())
            failed = o.key;
        Q_EMIT sigDeviceFinished(o, {});
    }
    return failed;
}

void ZoUpgradeRun::fillStats(ZoDeviceOutcome &o, ZoDeviceKey from) const
{
    const ZoTransferSession::Stats s = stats(from);
    o.blocksSent = s.blocksSent;
    o.resends = s.resends;
    o.seconds = s.endMs > s.startMs ? double(s.endMs - s.startMs) / 1000.0 : 0.0;
}

ZoDeviceOutcome ZoUpgradeRun::takeCurrent(
    ZoDeviceOutcome::Result result, ZoDeviceOutcome::Failure failure, const tVersion &reported)
{
    ZoDeviceOutcome o = std::exchange(m_current, Current()).outcome;
    m_now = ZoDevicePhase();
    o.result = result;
    o.failure = failure;
    o.reported = reported;
    fillStats(o, o.key);
    return o;
}

void ZoUpgradeRun::finishCurrent(ZoDeviceOutcome::Result result,
    ZoDeviceOutcome::Failure failure, const tVersion &reported, const tFcsDateTime &reportedTime)
{
    Q_EMIT sigDeviceFinished(takeCurrent(result, failure, reported), reportedTime);
}

ZoDeviceOutcome ZoUpgradeRun::abort()
{
    // The figures of the transfer in flight, before stop() forgets it.
    if (m_session && !m_current.key.isNull())
        m_stats[m_current.key] = stats(m_current.key);
    const Current current = m_current;
    stop();
    m_current = current;
    return takeCurrent(ZoDeviceOutcome::Result::Interrupted, ZoDeviceOutcome::Failure::None, {});
}

void ZoUpgradeRun::end(End how, ZoDeviceKey key, bool first)
{
    m_pause.stop();
    m_phase = Phase::Idle;
    Q_EMIT sigEnded(how, key, first);
}

void ZoUpgradeRun::enterPhase(ZoDevicePhase::Phase phase)
{
    if (m_now.key.isNull() || phase == m_now.phase)
        return;
    m_now.phase = phase;
    if (phase >= ZoDevicePhase::Leaving) {
        m_now.bytes = m_now.total;
        m_now.etaSeconds = 0;
    }
    qCDebug(lcUpgrade).noquote() << m_label << m_now.key.text() << "phase"
                                 << ZoDevicePhase::name(phase)
                                 << (m_now.mayPowerOff() ? "(safe)" : "(do not power off)");
    Q_EMIT sigDevicePhase(m_now);
}

void ZoUpgradeRun::takeProgress(int bytes)
{
    // The figures before the first block (the key frame's) say nothing of
    // the rate; it is measured across the blocks only.
    if (m_now.phase != ZoDevicePhase::Programming)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_rateFromMs < 0 || bytes < m_rateFromBytes) {
        m_rateFromMs = now;
        m_rateFromBytes = bytes;
    }
    m_now.bytes = bytes;
    const double seconds = double(now - m_rateFromMs) / 1000.0;
    if (seconds < 0.05 || bytes <= m_rateFromBytes)
        return;
    m_now.bytesPerSecond = double(bytes - m_rateFromBytes) / seconds;
    m_now.etaSeconds = int(double(std::max(m_now.total - bytes, 0)) / m_now.bytesPerSecond + 0.5);
}
