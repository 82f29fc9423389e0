#include "ZoProtocolLease.h"

#include "ZoMsgLooper.h"

#include <QLoggingCategory>
#include <QThread>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

ZoProtocolLease::ZoProtocolLease(ZoMsgLooper *looper, const ZoLogLabel &label, QObject *parent)
    : QObject(parent)
    , m_looper(looper)
    , m_label(label)
    , m_direct(std::make_shared<std::atomic<quint64>>(0))
{
}

bool ZoProtocolLease::take(const void *taker, const QString &name)
{
    QMutexLocker lock(&m_mutex);
    if (m_taker && m_taker != taker) {
        qCWarning(lcUpgrade).noquote() << m_label << "The link's protocol is held by the" << m_name
                                       << "- refused to the" << name;
        return false;
    }
    m_taker = taker;
    m_name = name;
    return true;
}

bool ZoProtocolLease::setMode(const void *taker, tds4 mode, tdu1 variant)
{
    QMutexLocker lock(&m_mutex);
    if (!taker || m_taker != taker) {
        qCWarning(lcUpgrade).noquote()
            << m_label << "A protocol change from a part not holding the link was refused;"
            << (m_name.isEmpty() ? QStringLiteral("nobody holds it")
                                 : QStringLiteral("held by the ") + m_name);
        return false;
    }
    apply(mode, variant);
    return true;
}

void ZoProtocolLease::release(const void *taker)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!taker || m_taker != taker)
            return;
        m_taker = nullptr;
        m_name.clear();
        apply(ZoMsgLooper::ModeApplication, 0);
    }
    Q_EMIT sigReleased();
}

bool ZoProtocolLease::isHeldBy(const void *taker) const
{
    QMutexLocker lock(&m_mutex);
    return taker && m_taker == taker;
}

QString ZoProtocolLease::holder() const
{
    QMutexLocker lock(&m_mutex);
    return m_name;
}

void ZoProtocolLease::apply(tds4 mode, tdu1 variant)
{
    if (QThread::currentThread() == m_looper) {
        ++*m_direct;
        m_looper->setProtocol(mode, variant);
        return;
    }
    // Queued behind the commands this thread sent before, as the looper's own
    // setProtocol() is; but a holder on the looper's thread may have taken
    // over and set its mode since: an older mode from here must not undo it.
    ZoMsgLooper *looper = m_looper;
    QMetaObject::invokeMethod(
        looper,
        [looper, direct = m_direct, seen = m_direct->load(), mode, variant] {
            if (*direct == seen)
                looper->setProtocol(mode, variant);
        },
        Qt::QueuedConnection);
}
