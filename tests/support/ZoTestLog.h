#pragma once

// Collects log lines, "category: text", while it lives, so a test can check
// what was said, where (and how often) without depending on the log's
// formatting elsewhere.

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

class ZoTestLogCapture
{
public:
    ZoTestLogCapture()
    {
        instance() = this;
        m_previous = qInstallMessageHandler(&ZoTestLogCapture::handler);
    }
    ~ZoTestLogCapture()
    {
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
    }
    ZoTestLogCapture(const ZoTestLogCapture &) = delete;
    ZoTestLogCapture &operator=(const ZoTestLogCapture &) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    int count(const QString &part) const
    {
        int n = 0;
        for (const QString &l : lines())
            n += l.contains(part) ? 1 : 0;
        return n;
    }
    bool contains(const QString &part) const { return count(part) > 0; }

private:
    static ZoTestLogCapture *&instance()
    {
        static ZoTestLogCapture *p = nullptr;
        return p;
    }
    static void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
    {
        if (ZoTestLogCapture *self = instance()) {
            {
                QMutexLocker lock(&self->m_mutex);
                self->m_lines.append(
                    QString::fromLatin1(ctx.category) + QStringLiteral(": ") + msg);
            }
            // Debug chatter stays out of the test output; the rest goes on.
            if (self->m_previous && type != QtDebugMsg)
                self->m_previous(type, ctx, msg);
        }
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
