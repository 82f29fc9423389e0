#include "ZoSimPtyLink.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

ZoSimPtyLink::ZoSimPtyLink(QObject *parent)
    : QObject(parent)
{
    m_clock.start();
}

ZoSimPtyLink::~ZoSimPtyLink()
{
    close();
}

bool ZoSimPtyLink::open(const QString &symlinkPath, int baud, QString *error)
{
    close();
    if (baud < 0 || baud > 10000000) {
        if (error)
            *error = QStringLiteral("baud must be 0 to 10000000");
        return false;
    }
    if (!symlinkPath.isEmpty()) {
        const QFileInfo fi(symlinkPath);
        if (fi.exists() && !fi.isSymLink()) {
            if (error)
                *error = QStringLiteral("%1 exists and is not a symlink; not replacing it")
                             .arg(symlinkPath);
            return false;
        }
    }
    char name[256] = {};
    struct termios tio;
    std::memset(&tio, 0, sizeof tio);
    cfmakeraw(&tio);
    if (::openpty(&m_master, &m_slave, name, &tio, nullptr) != 0) {
        if (error)
            *error
                = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_master = m_slave = -1;
        return false;
    }
    // The slave stays open here as well, so the master never sees a hang-up
    // between the moments the program closes and reopens the port.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slaveName = QString::fromLocal8Bit(name);
    if (!symlinkPath.isEmpty()) {
        QFile::remove(symlinkPath);
        if (!QFile::link(m_slaveName, symlinkPath)) {
            if (error)
                *error = QStringLiteral("cannot make the symlink %1 -> %2")
                             .arg(symlinkPath, m_slaveName);
            close();
            return false;
        }
        m_symlink = symlinkPath;
    }
    m_baud = baud;
    if (m_baud > 0)
        startPacer();
    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &ZoSimPtyLink::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &ZoSimPtyLink::onWritable);
    return true;
}

void ZoSimPtyLink::close()
{
    stopPacer();
    m_readNotifier.reset();
    m_writeNotifier.reset();
    if (!m_symlink.isEmpty()) {
        if (QFileInfo(m_symlink).isSymLink())
            QFile::remove(m_symlink);
        m_symlink.clear();
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_master = m_slave = -1;
    m_out.clear();
    m_in.clear();
}

qint64 ZoSimPtyLink::budget(qint64 startNs, qint64 moved) const
{
    // Byte k is on the wire once (k + 1) byte times have passed. Handing a
    // byte over takes the simulator itself about kHandOverNs (the pacer's
    // wake-up reaching this thread); starting that much early puts it on the
    // other side on time.
    const qint64 elapsed = m_clock.nsecsElapsed() - startNs + kHandOverNs;
    const qint64 allowed = qint64(double(elapsed) * double(m_baud) / 1e10);
    return allowed - moved;
}

void ZoSimPtyLink::write(const QByteArray &bytes, bool droppable)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    if (droppable && m_out.size() > kBusyLine)
        return;
    if (m_out.size() + bytes.size() > kMaxPending)
        return; // nobody is reading the line; a real UART would lose it too
    if (m_out.isEmpty()) {
        m_outStart = m_clock.nsecsElapsed();
        m_outSent = 0;
    }
    m_out.append(bytes);
    pump();
}

void ZoSimPtyLink::pump()
{
    if (m_master < 0)
        return;
    if (!m_out.isEmpty()) {
        qint64 want = m_out.size();
        if (m_baud > 0)
            want = qMin(want, budget(m_outStart, m_outSent));
        if (want > 0) {
            const ssize_t n = ::write(m_master, m_out.constData(), size_t(want));
            if (n > 0) {
                m_out.remove(0, int(n));
                m_outSent += n;
            }
            if (n < want && m_baud > 0) {
                // The reader is behind: the line idles, no credit builds up.
                m_outStart
                    = m_clock.nsecsElapsed() - qint64(double(m_outSent) * 1e10 / double(m_baud));
            }
            if (m_writeNotifier)
                m_writeNotifier->setEnabled(!m_out.isEmpty() && n < want);
        }
    }
    if (!m_in.isEmpty()) {
        qint64 give = m_in.size();
        if (m_baud > 0)
            give = qMin(give, budget(m_inStart, m_inDelivered));
        if (give > 0) {
            const QByteArray chunk = m_in.left(int(give));
            m_in.remove(0, int(give));
            m_inDelivered += give;
            Q_EMIT received(chunk);
        }
    }
    // Wake when the next batch of either direction is complete: up to 32
    // bytes at a time, and the last byte pending exactly when it is due, so a
    // message's end arrives on time without a wake-up per byte.
    constexpr qint64 batch = 32;
    qint64 next = -1;
    if (m_baud > 0 && !m_out.isEmpty())
        next = dueNs(m_outStart, m_outSent + qMin<qint64>(m_out.size(), batch) - 1);
    if (m_baud > 0 && !m_in.isEmpty()) {
        const qint64 in = dueNs(m_inStart, m_inDelivered + qMin<qint64>(m_in.size(), batch) - 1);
        next = next < 0 ? in : qMin(next, in);
    }
    armTick(next < 0 ? -1 : qMax<qint64>(0, next - kHandOverNs - m_clock.nsecsElapsed()));
}

qint64 ZoSimPtyLink::dueNs(qint64 startNs, qint64 index) const
{
    // Rounded up, so that budget() counts the byte as on the wire by then.
    return startNs + qint64(std::ceil(double(index + 1) * 1e10 / double(m_baud)));
}

void ZoSimPtyLink::armTick(qint64 delayNs)
{
    if (!m_pacer.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_pacerMutex);
        m_pacerArmed = delayNs >= 0;
        m_pacerDue
            = std::chrono::steady_clock::now() + std::chrono::nanoseconds(qMax<qint64>(0, delayNs));
    }
    m_pacerWake.notify_one();
}

void ZoSimPtyLink::startPacer()
{
    stopPacer();
    m_pacerStop = false;
    m_pacerArmed = false;
    m_pacer = std::thread([this] { pacerLoop(); });
}

void ZoSimPtyLink::stopPacer()
{
    if (!m_pacer.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_pacerMutex);
        m_pacerStop = true;
    }
    m_pacerWake.notify_one();
    m_pacer.join();
}

void ZoSimPtyLink::pacerLoop()
{
    // Wake on the byte's time, not up to the default 50 us slack after it.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock<std::mutex> lock(m_pacerMutex);
    while (!m_pacerStop) {
        if (!m_pacerArmed) {
            m_pacerWake.wait(lock);
            continue;
        }
        if (m_pacerWake.wait_until(lock, m_pacerDue) == std::cv_status::no_timeout)
            continue; // re-armed, disarmed or stopped: look again
        m_pacerArmed = false;
        // pump() belongs to the link's own thread.
        QMetaObject::invokeMethod(this, &ZoSimPtyLink::onTick, Qt::QueuedConnection);
    }
}

void ZoSimPtyLink::onTick()
{
    pump();
}

void ZoSimPtyLink::onWritable()
{
    pump();
}

void ZoSimPtyLink::onReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            if (m_in.isEmpty()) {
                m_inStart = m_clock.nsecsElapsed();
                m_inDelivered = 0;
            }
            if (m_in.size() + n <= kMaxPending)
                m_in.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN, or EIO while no one holds the slave (we always do)
    }
    pump();
}
