#include "ZoCloudSimEventLog.h"

#include <QJsonDocument>

ZoCloudSimEventLog::ZoCloudSimEventLog()
    : m_file(stdout)
    , m_start(std::chrono::steady_clock::now())
{
}

ZoCloudSimEventLog::~ZoCloudSimEventLog()
{
    if (m_ownsFile && m_file)
        std::fclose(m_file);
}

bool ZoCloudSimEventLog::open(const QString &path, QString *error)
{
    if (path.isEmpty())
        return true;
    std::FILE *f = std::fopen(path.toLocal8Bit().constData(), "a");
    if (!f) {
        if (error)
            *error = QStringLiteral("cannot open log file %1").arg(path);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file = f;
    m_ownsFile = true;
    return true;
}

void ZoCloudSimEventLog::write(QJsonObject event)
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_start);
    event.insert(QStringLiteral("t"), static_cast<double>(elapsed.count()));
    QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact);
    line.append('\n');
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_file);
    std::fflush(m_file);
}
