// The aircraft simulator's links (paced pty, UDP, GCPM listener), its
// scenario files and its command line.

#include "AcSimRig.h"
#include "ZoTestFiles.h"
#include "ZoTestWait.h"

#include "ZoSimGcpmListener.h"
#include "ZoSimPtyLink.h"
#include "ZoSimUdpLink.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

int openSlave(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        struct termios tio;
        ::tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Reads until count bytes came or timeoutMs passed; stamps the last byte.
QByteArray readFd(int fd, int count, int timeoutMs, std::chrono::steady_clock::time_point &lastByte)
{
    QByteArray got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        struct pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, int(n));
            lastByte = std::chrono::steady_clock::now();
        }
    }
    return got;
}

} // namespace

class tst_AcSimLinks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ptyPacing_data()
    {
        QTest::addColumn<bool>("outbound");
        QTest::newRow("aircraft to program") << true;
        QTest::newRow("program to aircraft") << false;
    }
    void ptyPacing()
    {
        QFETCH(bool, outbound);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ttyAircraft"));
        ZoSimPtyLink pty;
        QString error;
        QVERIFY2(pty.open(path, 115200, &error), qPrintable(error));
        const int fd = openSlave(path);
        QVERIFY(fd >= 0);
        const QByteArray payload = testImage(11520, 3);

        const auto start = std::chrono::steady_clock::now();
        auto last = start;
        QByteArray got;
        if (outbound) {
            std::thread reader([&] { got = readFd(fd, payload.size(), 5000, last); });
            pty.write(payload);
            zoWaitFor([&] { return pty.pendingOut() == 0; }, 5000);
            reader.join();
        } else {
            QObject::connect(&pty, &ZoSimPtyLink::received, [&](const QByteArray &b) {
                got += b;
                last = std::chrono::steady_clock::now();
            });
            std::thread writer([&] {
                int off = 0;
                while (off < payload.size()) {
                    const ssize_t n
                        = ::write(fd, payload.constData() + off, size_t(payload.size() - off));
                    if (n > 0)
                        off += int(n);
                    else
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            zoWaitFor([&] { return got.size() >= payload.size(); }, 5000);
            writer.join();
        }
        ::close(fd);
        QCOMPARE(got, payload);
        const double seconds = std::chrono::duration<double>(last - start).count();
        qInfo("11520 bytes at 115200 baud took %.4f s", seconds);
        // 1.00 s +- 3 %; the upper bound has slack for a loaded build machine,
        // the lower one none: pacing must never run early.
        QVERIFY2(seconds >= 0.97 && seconds <= 1.10, qPrintable(QString::number(seconds)));
    }

    void telemetryGivesWayOnABusyLine()
    {
        ZoSimPtyLink pty;
        QString error;
        QVERIFY(pty.open(QString(), 9600, &error));
        for (int i = 0; i < 100; ++i)
            pty.write(QByteArray(20, 'T'), true);
        QVERIFY(pty.pendingOut() <= ZoSimPtyLink::kBusyLine + 20);
        const qint64 before = pty.pendingOut();
        pty.write(QByteArray(100, 'R')); // a reply always gets in line
        QCOMPARE(pty.pendingOut(), before + 100);
    }

    void udpAnswersTheLastSender()
    {
        ZoSimUdpLink udp;
        QString error;
        QVERIFY(!udp.open(QHostAddress(QStringLiteral("192.0.2.1")), 0, &error)); // loopback only
        QVERIFY2(udp.open(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        QUdpSocket program, other;
        QVERIFY(program.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QVERIFY(other.bind(QHostAddress(QHostAddress::LocalHost), 0));
        udp.setPeer(QHostAddress::LocalHost, program.localPort());
        udp.setPeer(QHostAddress(QStringLiteral("192.0.2.7")), 9); // refused: stays on loopback
        QByteArray received;
        connect(&udp, &ZoSimUdpLink::received, [&](const QByteArray &b) { received = b; });
        // Telemetry goes to the configured peer before anyone has spoken,
        udp.write(QByteArray("first"));
        QTRY_VERIFY_WITH_TIMEOUT(program.hasPendingDatagrams(), 2000);
        QCOMPARE(program.receiveDatagram().data(), QByteArray("first"));
        // and from then on to the last sender.
        other.writeDatagram(kVersionRequest, QHostAddress::LocalHost, udp.port());
        QTRY_COMPARE_WITH_TIMEOUT(received, kVersionRequest, 2000);
        udp.write(QByteArray("second"));
        QTRY_VERIFY_WITH_TIMEOUT(other.hasPendingDatagrams(), 2000);
        QCOMPARE(other.receiveDatagram().data(), QByteArray("second"));
        QTest::qWait(30);
        QVERIFY(!program.hasPendingDatagrams());
    }

    void gcpm_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("detail"); // the command, ADDRESS:PORT, or part of the reason
        auto row = [](const char *name, const char *hex, const char *event, const char *detail) {
            QTest::newRow(name) << hexBytes(hex) << QString::fromLatin1(event)
                                << QString::fromLatin1(detail);
        };
        row("poll", "AB EF 03 05 9F 7D", "gcpm", "poll");
        row("announce", "AB EF 09 03 05 00 A8 C0 72 1F 53 FF", "gcpm", "192.168.0.5:8050");
        row("bad crc", "AB EF 03 05 9F 7E", "gcpmError", "bad CRC");
        row("length", "AB EF 04 05 9F 7D", "gcpmError", "length byte");
        row("header", "AB EE 03 05 9F 7D", "gcpmError", "bad header");
        row("short", "AB EF 03", "gcpmError", "shorter");
        row("announce missing port", "AB EF 07 03 05 00 A8 C0", "gcpmError", "");
    }
    void gcpm()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, event);
        QFETCH(QString, detail);
        ZoSimEventLog log;
        log.setSilent(true);
        QList<QJsonObject> events;
        connect(&log, &ZoSimEventLog::logged, [&](const QJsonObject &o) { events << o; });
        ZoSimGcpmListener gcpm(&log);
        QString error;
        QVERIFY(!gcpm.open(QHostAddress(QStringLiteral("192.0.2.1")), 0, false, &error));
        QVERIFY2(gcpm.open(QHostAddress::LocalHost, 0, false, &error), qPrintable(error));
        QUdpSocket program;
        program.writeDatagram(datagram, QHostAddress::LocalHost, gcpm.port());
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, 2000);
        const QJsonObject e = events.first();
        QCOMPARE(zoText(e, "event"), event);
        const QString got = event != QLatin1String("gcpm") ? zoText(e, "reason")
            : e.contains(QStringLiteral("port"))
            ? zoText(e, "address") + QLatin1Char(':') + QString::number(zoNum(e, "port"))
            : zoText(e, "cmd");
        QVERIFY2(
            event == QLatin1String("gcpm") ? got == detail : got.contains(detail), qPrintable(got));
    }

    void scenarioFiles_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");
        QTest::newRow("full") << QByteArray(
            R"({"telemetryMs": 50, "eraseMs": 10, "address": "8", "addressValue": "0x0A0B0C0D",
            "core": {"type": 80, "version": "2.19.3", "compileTime": "2024-05-17 13:45:09", "eid": "00 11 AA BB", "faults": {"latencyMs": 5}},
            "modules": [{"type": 77, "node": 1, "version": "1.0.4", "serial": "1234", "faults": {"refuseKey": true}}],
            "faults": {"dropAckEvery": 7}, "_comment": "ignored"})")
                              << QString();
        const auto row = [](const char *name, const char *json, const char *error) {
            QTest::newRow(name) << QByteArray(json) << QString::fromLatin1(error);
        };
        row("not json", "{core", "scenario:");
        row("typo", R"({"telemetryMS": 5})", "unknown key");
        row("type range", R"({"core": {"type": 256}})", "1 to 255");
        row("version text", R"({"core": {"version": "2.19"}})", "MAJOR.MINOR.REVISION");
        row("compile time", R"({"core": {"compileTime": "2024-13-01 00:00:00"}})", "compileTime");
        row("address", R"({"address": "6"})", "none, 4 or 8");
        row("module as core", R"({"modules": [{"type": 80}]})", "core type");
        row("module twice", R"({"modules": [{"type": 38}, {"type": 38}]})", "twice");
        row("fault value", R"({"faults": {"latencyMs": -4}})", "bad value");
        row("fault name", R"({"faults": {"lag": 4}})", "unknown fault");
        row("fraction", R"({"telemetryMs": 2.5})", "telemetryMs");
    }
    void scenarioFiles()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        ZoSimScenario sc;
        QString got;
        QCOMPARE(sc.load(json, &got), error.isEmpty());
        if (!error.isEmpty())
            QVERIFY2(got.contains(error), qPrintable(got));
        if (QByteArray(QTest::currentDataTag()) == "full") {
            QCOMPARE(sc.address, uint32_t(0x0A0B0C0D));
            QCOMPARE(sc.core.eid, hexBytes("0011AABB"));
            QCOMPARE(sc.modules.size(), 1);
            QCOMPARE(sc.modules[0].serial, uint16_t(0x1234));
            const ZoSimFaults f = sc.faultsFor(sc.modules[0]);
            QCOMPARE(f.dropAckEvery, 7);
            QVERIFY(f.refuseKey);
            QVERIFY(!sc.faultsFor(sc.core).refuseKey);
            QCOMPARE(sc.faultsFor(sc.core).latencyMs, 5);
        }
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("args"); // DIR stands for a scratch directory
        QTest::addColumn<int>("exitCode"); // 0: runs until it is stopped
        QTest::newRow("shipped scenario on every link")
            << "--scenario " TOLVANE_TEST_DATA_DIR
               "/../../tools/aircraft-sim/scenarios/default.json"
               " --udp 0 --tcp 0 --gcpm 0 --pty DIR/tty"
            << 0;
        QTest::newRow("remote bind refused") << "--udp 0 --bind 10.1.2.3" << 2;
        QTest::newRow("remote peer refused") << "--udp 0 --udp-peer 192.168.0.9:5000" << 2;
        QTest::newRow("no link") << "--core-type 80" << 2;
        QTest::newRow("bad module") << "--udp 0 --module 77:x:1.0.0" << 2;
    }
    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("events.jsonl"));
        const QString ptyPath = dir.filePath(QStringLiteral("tty"));
        QProcess p;
        p.start(QStringLiteral(TOLVANE_AIRCRAFT_SIM_EXE),
            args.replace(QLatin1String("DIR"), dir.path()).split(QLatin1Char(' '))
                + QStringList {QStringLiteral("--log"), logPath});
        if (exitCode != 0) {
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), exitCode);
            QVERIFY(!p.readAllStandardError().isEmpty());
            return;
        }
        // Stopped the way a technician stops it; the pty's name goes with it.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(ptyPath).isSymLink(), 5000);
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFileInfo(ptyPath).isSymLink());
        QStringList events;
        QSet<QString> links;
        for (const QJsonObject &o : zoReadJsonLines(logPath)) {
            QVERIFY(!o.isEmpty());
            events << zoText(o, "event");
            if (events.last() == QLatin1String("link"))
                links << zoText(o, "kind");
        }
        QCOMPARE(links,
            (QSet<QString> {QStringLiteral("udp"), QStringLiteral("tcp"), QStringLiteral("gcpm"),
                QStringLiteral("pty")}));
        QVERIFY(events.contains(QStringLiteral("aircraft")));
        QVERIFY(events.contains(QStringLiteral("exit")));
    }
};

QTEST_GUILESS_MAIN(tst_AcSimLinks)
#include "tst_acsimlinks.moc"
