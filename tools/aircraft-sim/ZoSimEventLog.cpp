#include "ZoSimEventLog.h"

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
        ok = f->open(QIODevice::WriteOnly | QIODevice::Append);
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
