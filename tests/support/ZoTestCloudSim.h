#pragma once

// tolvane-cloud-sim run as the program it is, on 127.0.0.1 and an ephemeral
// port, serving a temporary directory of the test's own and logging what it
// received there. Header only: the test's CMake entry names the program and
// its certificate directory (TOLVANE_CLOUDSIM, TOLVANE_CLOUDSIM_CERT_DIR).

#include "ZoTestFiles.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class ZoTestCloudSim
{
public:
    ~ZoTestCloudSim()
    {
        if (!stop(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    static QString certPath()
    {
        return QStringLiteral(TOLVANE_CLOUDSIM_CERT_DIR "/cloudsim-cert.pem");
    }

    // faults: "PATH:kind[=value][,...]" as the simulator's --fault takes
    // them; arguments: further ones for the program ("--config", FILE).
    bool start(
        bool https = false, const QStringList &faults = {}, const QStringList &arguments = {})
    {
        QStringList args = QStringList {QStringLiteral("--port"), QStringLiteral("0"),
                               QStringLiteral("--root"), m_dir.path(), QStringLiteral("--log"),
                               logPath()}
            + arguments;
        if (https)
            args << QStringLiteral("--https") << QStringLiteral("--cert") << certPath()
                 << QStringLiteral("--key")
                 << QStringLiteral(TOLVANE_CLOUDSIM_CERT_DIR "/cloudsim-key.pem");
        for (const QString &fault : faults)
            args << QStringLiteral("--fault") << fault;
        m_https = https;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(TOLVANE_CLOUDSIM), args);
        while (m_process.canReadLine() || m_process.waitForReadyRead(5000)) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("LISTENING ")) {
                m_port = line.mid(10).toInt();
                return m_port > 0;
            }
        }
        return false;
    }

    QString baseUrl() const
    {
        return QString::asprintf("%s://127.0.0.1:%d", m_https ? "https" : "http", m_port);
    }

    QString filePath(const QString &relativePath) const { return m_dir.filePath(relativePath); }

    // A file below the served directory ("catalog.json", "files/fw4.bin").
    bool writeFile(const QString &relativePath, const QByteArray &bytes)
    {
        return zoWriteFile(m_dir.filePath(relativePath), bytes);
    }

    // Whether the program ended within the bound after SIGTERM.
    bool stop(int boundMs)
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.terminate();
        return m_process.waitForFinished(boundMs);
    }

    // Every line of the log, in order; one that is not a JSON object is an empty one.
    QList<QJsonObject> events() const { return zoReadJsonLines(logPath()); }

    // The requests the simulator handled, in order.
    QList<QJsonObject> requests() const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &event : events())
            if (zoText(event, "event") == QLatin1String("request"))
                out << event;
        return out;
    }

    // "METHOD /path" of each request, in order.
    QStringList paths() const
    {
        QStringList out;
        for (const QJsonObject &r : requests())
            out << zoText(r, "method") + QLatin1Char(' ') + zoText(r, "path");
        return out;
    }

private:
    QString logPath() const { return m_dir.filePath(QStringLiteral("sim.jsonl")); }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    bool m_https = false;
};
