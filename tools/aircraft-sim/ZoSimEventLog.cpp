#include "ZoSimEventLog.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

ZoSimEventLog::ZoSimEventLog(QObject *parent)
    : QObject(parent)
{
    m_clock.start();
}

ZoSimEventLog::~ZoSimEventLog() = default;

bool ZoSimEventLog::open(const QString &path, QString *error)
{
    auto f = std::make_unique<QFile>();
    bool ok;
    if (path.isEmpty() || path == QLatin1String("-")) {
        ok = f->open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    } else {
        f->setFileName(path);
        // Append to a regular file; a pipe or a device cannot seek to its end.
        const QFileInfo fi(path);
        const bool regular = !fi.exists() || fi.isFile();
        ok = f->open(regular ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly);
    }
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot open the event log %1: %2").arg(path, f->errorString());
        return false;
    }
    m_file = std::move(f);
    return true;
}

void ZoSimEventLog::log(const QString &event, QJsonObject fields)
{
    fields[QStringLiteral("t")] = m_clock.elapsed();
    fields[QStringLiteral("event")] = event;
    if (!m_silent) {
        if (!m_file) {
            QString ignored;
            open(QString(), &ignored);
        }
        if (m_file) {
            m_file->write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
            m_file->flush();
        }
    }
    Q_EMIT logged(fields);
}
