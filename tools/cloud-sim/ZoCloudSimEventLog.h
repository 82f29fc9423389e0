#pragma once

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <cstdio>
#include <mutex>

// One JSON object per line, flushed at once, so a test or a script reading the
// log while the simulator runs sees every request as soon as it was handled.
// Safe to call from every server thread.
class ZoCloudSimEventLog
{
public:
    ZoCloudSimEventLog();
    ~ZoCloudSimEventLog();
    ZoCloudSimEventLog(const ZoCloudSimEventLog &) = delete;
    ZoCloudSimEventLog &operator=(const ZoCloudSimEventLog &) = delete;

    // Empty path: standard output.
    bool open(const QString &path, QString *error);

    // Adds "t" (milliseconds since start) and writes the event.
    void write(QJsonObject event);

private:
    std::mutex m_mutex;
    std::FILE *m_file = nullptr;
    bool m_ownsFile = false;
    std::chrono::steady_clock::time_point m_start;
};
