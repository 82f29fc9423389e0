#include "ZoTestPty.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ZoTestPty::ZoTestPty()
{
    char name[256] = {};
    struct termios tio;
    cfmakeraw(&tio);
    if (openpty(&m_master, &m_slave, name, &tio, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    // The slave stays open here so the line does not hang up between the
    // moments the code under test closes and reopens it.
    m_slaveName = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

ZoTestPty::~ZoTestPty()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool ZoTestPty::write(const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    QElapsedTimer t;
    t.start();
    while (left > 0 && t.elapsed() < 5000) {
        const ssize_t n = ::write(m_master, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            struct pollfd pfd{m_master, POLLOUT, 0};
            ::poll(&pfd, 1, 50);
        }
    }
    return left == 0;
}

QByteArray ZoTestPty::read(int count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer t;
    t.start();
    char buf[4096];
    while (out.size() < count && t.elapsed() < timeoutMs) {
        struct pollfd pfd{m_master, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            out.append(buf, int(n));
    }
    return out;
}

bool ZoTestPty::waitQueued(int count, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        int queued = 0;
        if (::ioctl(m_slave, FIONREAD, &queued) != 0)
            return false;
        if (queued >= count)
            return true;
        if (t.elapsed() >= timeoutMs)
            return false;
        ::usleep(1000);
    }
}
