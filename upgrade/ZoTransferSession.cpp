#include "ZoTransferSession.h"

#include "ZoDevicePhase.h"

#include "ZoBootCommands.h"
#include "ZoFRMFileInfo.h"
#include "ZoMsgLooper.h"
#include "ZoProtocolLease.h"
#include "ZoUtils.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

bool ZoTransferSession::makePlan(const ZoFRMFileInfo &file, tdu1 devId, tdu1 devNum, bool core,
    ZoDeviceKey key, Plan &plan, QString *why)
{
    const auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    tVersion headerVersion;
    if (!file.hasHeader() || !file.headerVersion(headerVersion))
        return refuse(QStringLiteral("no usable firmware for devId %1").arg(devId, 0, 16));
    if (headerVersion.type != devId)
        return refuse(QStringLiteral("the firmware for devId %1 names type %2")
                          .arg(devId, 0, 16)
                          .arg(headerVersion.type, 0, 16));
    tdu4 sizeField = 0;
    file.headerImageLength(sizeField);
    const tdu4 present = file.availableImageSize();
    // A cut download would be flashed as code followed by erased flash, and
    // bytes past the header's length were never meant for the device.
    if (present < sizeField)
        return refuse(QStringLiteral("the firmware for devId %1 holds %2 of the %3 bytes its "
                                     "header names")
                          .arg(devId, 0, 16)
                          .arg(present)
                          .arg(sizeField));
    const quint64 body = sizeField;
    const quint64 n = (body + PageBytes - 1) / PageBytes * PageBytes;
    if (n == 0 || n > quint64(MaxImageBytes))
        return refuse(
            QStringLiteral("firmware image of %1 bytes does not fit a transfer").arg(body));

    plan = Plan();
    plan.key = key;
    plan.devId = devId;
    plan.devNum = devNum;
    plan.core = core;
    const char *bytes = file.bytes().constData();
    std::copy(bytes, bytes + 48, plan.header.begin());
    // Filler (the rest of the last page, and the one chunk the last program
    // message carries past the image) is erased flash: 0xFF.
    plan.image = QByteArray(int(n) + PageBytes, char(0xFF));
    std::copy(bytes + 48, bytes + 48 + body, plan.image.data());
    plan.pageCount = tds4(n / PageBytes);
    plan.chunkSize = core ? PageBytes : 64;
    qCDebug(lcUpgrade, "mFileVersion ver.Major:%d,ver.Minor:%d,ver.Revision:%d",
        headerVersion.major, headerVersion.minor, headerVersion.revision);
    qCDebug(lcUpgrade, "mFileSize:%d,bufferSize: %d, mFilePageSize: %d", int(sizeField), int(n),
        plan.pageCount);
    return true;
}

ZoTransferSession::ZoTransferSession(
    ZoMsgLooper *looper, ZoProtocolLease *lease, const Plan &plan, const Timings &timings)
    : m_looper(looper)
    , m_lease(lease)
    , m_plan(plan)
    , m_timings(timings)
    , m_commands(std::make_unique<ZoBootCommands>(looper))
    , m_timer(new QTimer(this))
{
    qRegisterMetaType<ZoTransferSession::Stats>("ZoTransferSession::Stats");
    qRegisterMetaType<ZoTransferSession::Outcome>("ZoTransferSession::Outcome");
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &ZoTransferSession::onTimeout);
}

ZoTransferSession::~ZoTransferSession()
{
    // Disposed before it finished (a run stopped or aborted): the link goes
    // back to the application protocol all the same.
    letGo();
}

void ZoTransferSession::start()
{
    // Committed from here on: the enter command leaves as soon as the
    // looper's thread takes the session.
    setState(State::Entering);
    moveToThread(m_looper);
    QMetaObject::invokeMethod(this, [this] { begin(); }, Qt::QueuedConnection);
}

void ZoTransferSession::cancel()
{
    m_cancelRequested = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_finished)
                return;
            finish(Outcome::Cancelled);
        },
        Qt::AutoConnection);
}

void ZoTransferSession::dispose()
{
    if (QThread::currentThread() == thread() || !m_looper->isReady()) {
        delete this;
        return;
    }
    // Its timer and its connections to the looper belong to that thread.
    QMetaObject::invokeMethod(this, [this] { delete this; }, Qt::BlockingQueuedConnection);
}

void ZoTransferSession::setState(State state)
{
    const State was = m_state;
    m_state = state;
    if (state == was || state == State::Idle || state == State::Done)
        return;
    const ZoDevicePhase::Phase phase = state == State::Entering ? ZoDevicePhase::Entering
        : state == State::Erasing                               ? ZoDevicePhase::Erasing
        : state == State::Programming                           ? ZoDevicePhase::Programming
                                                                : ZoDevicePhase::Leaving;
    Q_EMIT sigPhase(m_plan.key, phase);
}

void ZoTransferSession::begin()
{
    m_stats.startMs = nowMs();
    if (m_cancelRequested) {
        finish(Outcome::Cancelled);
        return;
    }
    // Refused: another part is reprogramming the link, and a device entered
    // now could not be reached; nothing is sent.
    if (!m_lease->take(this,
            QStringLiteral("transfer to %1").arg(QString::number(m_plan.devId, 16).toUpper()))) {
        finish(Outcome::SendFailed);
        return;
    }
    // Replies reach the session as direct calls on this thread.
    ZoMsgLooper *l = m_looper;
    if (m_plan.core) {
        connect(l, &ZoMsgLooper::sigGNCUpgEraseFlashAck, this, &ZoTransferSession::onEraseAck,
            Qt::DirectConnection);
        connect(l, &ZoMsgLooper::sigGNCUpgradeProgAck, this, &ZoTransferSession::onProgramAck,
            Qt::DirectConnection);
    } else {
        connect(l, &ZoMsgLooper::sigCANDevUpgEraseFlashAck, this, &ZoTransferSession::onEraseAck,
            Qt::DirectConnection);
        connect(l, &ZoMsgLooper::sigCANDevUpgradeProgAck, this,
            &ZoTransferSession::onProgramAck, Qt::DirectConnection);
    }
    // One slot per block and resend budget: nothing is allocated per block.
    m_stats.turnaroundUs.reserve(m_plan.image.size() / std::max<tds4>(1, m_plan.chunkSize) + 8);
    m_progressClock.start();
    m_lease->setMode(this, ZoMsgLooper::ModeApplication, 0);
    const bool sent = m_plan.core ? m_commands->coreEnterBootloader(m_plan.devId)
                                  : m_commands->module(ZoBootCommands::OpEnter, m_plan.devId,
                                      m_plan.devNum);
    if (!sent) {
        finish(Outcome::SendFailed);
        return;
    }
    setState(State::Entering);
    m_timer->start(m_timings.enterBootloaderMs);
    qCDebug(lcUpgrade).noquote() << "Start to All upgrade current devId:"
                                 << QString::number(m_plan.devId, 16).toUpper();
}

void ZoTransferSession::onTimeout()
{
    // The step numbers a field log has always named them by.
    const int step = state() == State::Entering ? 5 : state() == State::Erasing ? 7 : 8;
    switch (state()) {
    case State::Entering:
        qCDebug(lcUpgrade) << "Upgrading time out" << step;
        qCDebug(lcUpgrade, "EnterUpgradeMode: %lld", nowMs());
        if (!sendKeyFrame()) {
            qCWarning(lcUpgrade).noquote() << m_label << "updateFcs failed";
            finish(Outcome::SendFailed);
        }
        return;
    case State::Erasing:
        // Not an error: some bootloaders erase without a word.
        qCDebug(lcUpgrade) << "Upgrading time out" << step;
        if (!sendBlock())
            finish(Outcome::SendFailed);
        return;
    case State::Programming:
        // A block that goes unanswered costs a resend: worth a line in any log.
        qCWarning(lcUpgrade).noquote()
            << m_label << "Upgrading time out" << step << "block at" << m_offset;
        ++m_retries;
        if (m_retries <= MaxResends) {
            ++m_resends;
            if (!sendBlock())
                finish(Outcome::SendFailed);
            return;
        }
        // A core may restart before it acknowledges its last block.
        if (m_plan.core && m_offset + m_plan.chunkSize >= m_plan.pageCount * PageBytes) {
            onProgramAck(m_offset);
            return;
        }
        finish(Outcome::NoAnswer);
        return;
    default:
        return;
    }
}

bool ZoTransferSession::sendKeyFrame()
{
    const tdu1 kind = tdu1(ZoUtils::protocolClass(m_plan.devId));
    // A core's bootloader speaks raw frames; a module's bootloader is reached
    // through the core's application protocol, its replies read in the form
    // of its bus kind.
    if (!m_lease->setMode(this,
            m_plan.core ? ZoMsgLooper::ModeModuleTransfer : ZoMsgLooper::ModeApplication, kind))
        return false;
    if (!m_plan.core)
        m_looper->setTransferPeer(ZoDeviceKey(m_plan.devId, m_plan.devNum));
    if (!m_commands->keyFrame(m_plan.core, m_plan.devId, m_plan.devNum, m_plan.header))
        return false;
    qCDebug(lcUpgrade) << "Start to Erase Flash Parameter" << nowMs();
    setState(State::Erasing);
    m_timer->start(m_timings.eraseMs);
    progress(m_plan.chunkSize, true);
    return true;
}

void ZoTransferSession::onEraseAck()
{
    if (state() != State::Erasing)
        return;
    m_timer->stop();
    if (!sendBlock())
        finish(Outcome::SendFailed);
}

bool ZoTransferSession::sendBlock()
{
    // Never past the buffer: it holds one chunk of filler after the image.
    if (m_offset < 0 || m_offset + m_plan.chunkSize > m_plan.image.size())
        return false;
    const tdu1 *image = reinterpret_cast<const tdu1 *>(m_plan.image.constData());
    if (!m_commands->dataBlock(
            m_plan.core, m_plan.devId, m_plan.devNum, image, m_offset, m_plan.chunkSize))
        return false;
    if (m_blocksSent++ == 0)
        m_stats.firstBlockNs = nowNs();
    qCDebug(lcUpgrade) << "Start to Dev Programe data" << m_offset << nowMs();
    setState(State::Programming);
    m_timer->start(m_timings.blockMs);
    return true;
}

void ZoTransferSession::onProgramAck(tds4 size)
{
    // Late duplicates change nothing.
    if (state() != State::Programming || size != m_offset)
        return;
    m_timer->stop();
    m_stats.lastAckNs = nowNs();
    m_retries = 0;
    m_acknowledged = m_offset;
    progress(m_offset);
    if (m_offset >= m_plan.pageCount * PageBytes) {
        leave();
        return;
    }
    m_offset += m_plan.chunkSize;
    qCDebug(lcUpgrade) << "Success to devId" << m_plan.devId << "trans size:" << m_offset
                       << m_plan.pageCount * PageBytes;
    if (!sendBlock()) {
        finish(Outcome::SendFailed);
        return;
    }
    if (m_stats.turnaroundUs.size() < m_stats.turnaroundUs.capacity())
        m_stats.turnaroundUs.append(qint32((nowNs() - m_looper->lastReceiveNs()) / 1000));
}

void ZoTransferSession::leave()
{
    setState(State::Leaving);
    // Three times, written before the link goes back to the application
    // protocol: one may be lost while the bootloader restarts.
    for (int i = 0; i < 3; ++i) {
        if (m_plan.core)
            m_commands->coreLeaveBootloader();
        else
            m_commands->module(ZoBootCommands::OpLeave, m_plan.devId, m_plan.devNum);
    }
    qCDebug(lcUpgrade).noquote() << "Upgrade the device done"
                                 << QString::number(m_plan.devId, 16).toUpper()
                                 << "cost Msec(ms):" << nowMs() - m_stats.startMs;
    finish(Outcome::Completed);
}

void ZoTransferSession::progress(int value, bool force)
{
    m_pendingProgress = value;
    if (!force && m_progressClock.elapsed() < ProgressIntervalMs)
        return;
    m_progressClock.restart();
    m_pendingProgress = -1;
    Q_EMIT sigProgress(m_plan.key, value);
}

void ZoTransferSession::finish(Outcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer->stop();
    disconnect(m_looper, nullptr, this, nullptr);
    // Whatever happened, the link speaks the application protocol again.
    letGo();
    if (m_pendingProgress >= 0)
        progress(m_pendingProgress, true);
    setState(State::Done);
    m_stats.blocksSent = m_blocksSent;
    m_stats.resends = m_resends;
    m_stats.endMs = nowMs();
    Q_EMIT sigFinished(m_plan.key, outcome, m_stats);
}

void ZoTransferSession::letGo()
{
    if (!m_lease->isHeldBy(this))
        return;
    m_looper->setTransferPeer(ZoDeviceKey());
    m_lease->release(this);
}
