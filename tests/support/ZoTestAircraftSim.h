#pragma once

// tolvane-aircraft-sim run as the program it is, on loopback ports or a
// pseudo-terminal, with its JSON-lines event log in a temporary directory.
// Header only: the test's CMake entry names the program and the scenario
// directory (TOLVANE_AIRCRAFT_SIM, TOLVANE_AIRCRAFT_SCENARIOS).

#include "ZoTestFiles.h"

#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

class ZoTestAircraftSim
{
public:
    enum Link { Udp, Tcp, Pty };

    ~ZoTestAircraftSim()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill(); // and QProcess waits for it
    }

    // `scenario` is a file name in the scenario directory, or an absolute path.
    bool start(Link link, const QString &scenario, const QStringList &extra = {},
        const QString &telemetryMs = QStringLiteral("50"))
    {
        if (!dir.isValid())
            return false;
        logPath = dir.filePath(QStringLiteral("events.jsonl"));
        if (ptyPath.isEmpty())
            ptyPath = dir.filePath(QStringLiteral("ttyAircraft"));
        const QString file = QFileInfo(scenario).isAbsolute()
            ? scenario
            : QStringLiteral(TOLVANE_AIRCRAFT_SCENARIOS "/") + scenario;
        QStringList args {QStringLiteral("--scenario"), file, QStringLiteral("--telemetry-ms"),
            telemetryMs, QStringLiteral("--erase-ms"), QStringLiteral("60"),
            QStringLiteral("--log"), logPath};
        if (link == Udp) {
            // Telemetry needs a destination before the program says anything:
            // reserve a port for the program and name it as the simulator's peer.
            QUdpSocket probe;
            if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
                return false;
            programUdpPort = probe.localPort();
            probe.close();
            args << QStringLiteral("--udp") << QStringLiteral("0") << QStringLiteral("--udp-peer")
                 << QStringLiteral("127.0.0.1:%1").arg(programUdpPort);
        } else if (link == Tcp) {
            args << QStringLiteral("--tcp") << QString::number(tcpPort);
        } else {
            args << QStringLiteral("--pty") << ptyPath;
        }
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(TOLVANE_AIRCRAFT_SIM), args + extra);
        if (!process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
            [&] {
                if (link == Pty)
                    return QFileInfo(ptyPath).isSymLink() && !events("aircraft").isEmpty();
                for (const QJsonObject &o : events("link"))
                    if (o.value(QLatin1String("state")).toString() == QLatin1String("listening"))
                        port = quint16(o.value(QLatin1String("port")).toInt());
                return port != 0 && !events("aircraft").isEmpty();
            },
            5000);
    }

    // A loopback port nobody listens on: the link that leads nowhere.
    static quint16 deadPort()
    {
        QTcpServer server;
        server.listen(QHostAddress(QHostAddress::LocalHost), 0);
        return server.serverPort(); // closed again when the server goes
    }

    // The logged events, in order: all of them, or those of one kind (of
    // one device, of one command) when these are given.
    QList<QJsonObject> events(const char *name = nullptr, const QString &dev = QString(),
        const QString &cmd = QString()) const
    {
        QList<QJsonObject> r;
        for (const QJsonObject &o : zoReadJsonLines(logPath))
            if ((!name || zoText(o, "event") == QLatin1String(name))
                && (dev.isNull() || zoText(o, "dev") == dev)
                && (cmd.isNull() || zoText(o, "cmd") == cmd))
                r << o;
        return r;
    }

    QTemporaryDir dir;
    QProcess process;
    QString logPath;
    QString ptyPath; // set before start(): where the pseudo-terminal's symlink goes
    quint16 port = 0;
    quint16 programUdpPort = 0;
    quint16 tcpPort = 0; // set before start(): the port to listen on (0: any free one)
};
