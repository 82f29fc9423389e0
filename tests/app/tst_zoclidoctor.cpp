#include "ZoCliDoctor.h"
#include "ZoCliSerialCulprits.h"
#include "ZoSerialStableNames.h"
#include "ZoTestFiles.h"
#include "ZoTestHttpServer.h"
#include "ZoTestPty.h"
#include "ZoTestSysConfig.h"

#include <QProcess>
#include <QSerialPort>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// tolvane-cli --doctor: each check against a scratch folder, a pty standing in
// for an adapter and servers on loopback; then the program's own lines.
namespace {

using Doctor = ZoCliDoctor;

const QByteArray kSysConfig = zoTestSysConfig(
    QStringLiteral("0||115200|8|0|1|127.0.0.1|6075|6075|127.0.0.1|8050|8050"), QString());

// One letter per finding: o(k), w(arn), F(ail); and every finding that is not
// ok carries a fix.
QString levels(const QList<Doctor::Finding> &findings)
{
    QString s;
    for (const Doctor::Finding &f : findings) {
        s += f.level == Doctor::Ok    ? QLatin1Char('o')
            : f.level == Doctor::Warn ? QLatin1Char('w')
                                      : QLatin1Char('F');
        if (f.level != Doctor::Ok && f.fix.isEmpty())
            s += QLatin1Char('!');
    }
    return s;
}

ZoPlaneConfig link(ZoPlaneConfig::LinkType type, const QString &where)
{
    ZoPlaneConfig l;
    l.type = type;
    (type == ZoPlaneConfig::LinkSerialPort   ? l.com
            : type == ZoPlaneConfig::LinkUdp ? l.host
                                             : l.TcpServerHost)
        = where;
    return l;
}

} // namespace

class TestZoCliDoctor : public QObject
{
    Q_OBJECT

private slots:
    // The folder, then sysconfig.xml and busdevcfg.xml.
    void configuration_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const char *setup, const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(setup) << QString::fromLatin1(expected);
        };
        row("both files", "files", "ooo");
        row("no files", "", "oww");
        row("no folder", "gone", "F");
        row("read-only folder", "files,readonly", "Foo");
        row("sysconfig.xml a folder", "files,sysdir", "oFo");
        row("malformed busdevcfg.xml", "files,badxml", "oow");
        row("working directory's file unused", "files,peruser", "ooow");
    }

    void configuration()
    {
        QFETCH(QString, setup);
        QFETCH(QString, expected);
        if (setup.contains(QLatin1String("readonly")) && geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir tmp;
        const QString dir = tmp.filePath(QStringLiteral("cfg"));
        if (!setup.contains(QLatin1String("gone")))
            QVERIFY(QDir().mkpath(dir));
        if (setup.contains(QLatin1String("files"))) {
            if (setup.contains(QLatin1String("sysdir")))
                QVERIFY(QDir(dir).mkdir(QStringLiteral("sysconfig.xml")));
            else
                QVERIFY(zoWriteFile(dir + QStringLiteral("/sysconfig.xml"), kSysConfig));
            QVERIFY(zoWriteFile(dir + QStringLiteral("/busdevcfg.xml"),
                setup.contains(QLatin1String("badxml")) ? "<busdevcfg><tunex>" : "<busdevcfg/>"));
        }
        if (setup.contains(QLatin1String("readonly")))
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        const QString here = QDir::currentPath();
        if (setup.contains(QLatin1String("peruser"))) {
            QVERIFY(zoWriteFile(tmp.filePath(QStringLiteral("sysconfig.xml")), kSysConfig));
            QVERIFY(QDir::setCurrent(tmp.path()));
        }
        const Doctor doctor(
            dir, ZoPlaneConfig(), false, QString(), setup.contains(QLatin1String("peruser")));
        const QList<Doctor::Finding> findings = doctor.checkConfiguration();
        QDir::setCurrent(here);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(levels(findings), expected);
        QCOMPARE(Doctor::exitCode(findings), expected.contains(QLatin1Char('F')) ? 6 : 0);
    }

    // A pty stands in for the adapter; a second QSerialPort on it is the
    // other program holding it. Only the link's own port blocks; the link's
    // port is checked by name where the enumeration does not list it.
    void serialPort_data()
    {
        QTest::addColumn<bool>("linkIsPort");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("held");
        QTest::addColumn<bool>("noRights");
        QTest::addColumn<QString>("expected");
        QTest::newRow("link's port, free") << true << true << false << false << "o";
        QTest::newRow("link's port, unlisted") << true << false << false << false << "o";
        QTest::newRow("link's port, held") << true << true << true << false << "F";
        QTest::newRow("other port, held") << false << true << true << false << "w";
        QTest::newRow("link's port, no rights") << true << true << false << true << "F";
    }

    void serialPort()
    {
        QFETCH(bool, linkIsPort);
        QFETCH(bool, listed);
        QFETCH(bool, held);
        QFETCH(bool, noRights);
        if (noRights && geteuid() == 0)
            QSKIP("root opens any node");
        ZoTestPty pty;
        QVERIFY(pty.isValid());
        QSerialPort holder;
        holder.setPortName(pty.slaveName());
        if (held)
            QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
        if (noRights)
            QVERIFY(QFile::setPermissions(pty.slaveName(), {}));
        QList<Doctor::Port> ports;
        if (listed)
            ports.append({pty.slaveName(), QFileInfo(pty.slaveName()).fileName()});
        const Doctor doctor(QString(),
            link(linkIsPort ? ZoPlaneConfig::LinkSerialPort : ZoPlaneConfig::LinkUdp,
                pty.slaveName()),
            false, QString());
        const QList<Doctor::Finding> findings = doctor.checkSerialPorts(ports);
        QTEST(levels(findings), "expected");
        QCOMPARE(findings.first().text.contains(QLatin1String("busy")), held);
        QCOMPARE(
            findings.first().text.contains(QLatin1String("cannot open it read-write")), noRights);
        // Nothing is left open: the holder's open succeeds after the check.
        if (!held && !noRights)
            QVERIFY(holder.open(QIODevice::ReadWrite));
    }

    void noSerialPort()
    {
        const Doctor serial(
            QString(), link(ZoPlaneConfig::LinkSerialPort, QString()), true, QString());
        QCOMPARE(levels(serial.checkSerialPorts({})), QStringLiteral("F"));
        const Doctor udp(QString(), link(ZoPlaneConfig::LinkUdp, QString()), true, QString());
        QCOMPARE(levels(udp.checkSerialPorts({})), QStringLiteral("o"));
    }

    // The test network holds loopback only.
    void network_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("fixNames");
        const auto row = [](const char *name, int type, const char *host, const char *expected,
                             const char *fix) {
            QTest::newRow(name) << type << QString::fromLatin1(host)
                                << QString::fromLatin1(expected) << QString::fromLatin1(fix);
        };
        row("udp on loopback", ZoPlaneConfig::LinkUdp, "127.0.0.1", "o", "");
        row("tcp in 127/8", ZoPlaneConfig::LinkTcpClient, "127.3.4.5", "o", "");
        row("udp elsewhere", ZoPlaneConfig::LinkUdp, "198.51.100.7", "w", "198.51.100.0/24");
        row("host name", ZoPlaneConfig::LinkUdp, "aircraft", "w", "IPv4");
        row("serial", ZoPlaneConfig::LinkSerialPort, "", "", "");
    }

    void network()
    {
        QFETCH(int, type);
        QFETCH(QString, host);
        QFETCH(QString, fixNames);
        const Doctor doctor(QString(), link(ZoPlaneConfig::LinkType(type), host), true, QString());
        const QList<Doctor::Finding> findings = doctor.checkNetwork();
        QTEST(levels(findings), "expected");
        if (!fixNames.isEmpty())
            QVERIFY2(findings.first().fix.contains(fixNames), qPrintable(findings.first().fix));
    }

    // Any HTTP answer counts; a refused connection or silence does not.
    void cloud_data()
    {
        QTest::addColumn<int>("status"); // 0: nothing listens; -1: listens, never answers
        QTest::addColumn<QString>("expected");
        QTest::newRow("200") << 200 << "o";
        QTest::newRow("503") << 503 << "o";
        QTest::newRow("refused") << 0 << "w";
        QTest::newRow("silent") << -1 << "w";
    }

    void cloud()
    {
        QFETCH(int, status);
        ZoTestHttpServer http;
        QVERIFY(http.listen());
        http.setResponse("/", {status, "hello", {}});
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QString url = http.url(QString());
        if (status <= 0)
            url = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
        if (status == 0)
            silent.close();
        QElapsedTimer clock;
        clock.start();
        const Doctor::Finding f = Doctor(QString(), ZoPlaneConfig(), true, url).checkCloud(1000);
        QTEST(levels({f}), "expected");
        QVERIFY(clock.elapsed() < 3000);
    }

    // The serial culprits against a scratch tree standing for /, one finding
    // per line: brltty, then each FTDI adapter's latency timer, each port's
    // stable name, the serial groups. Tree: "rule" brltty's udev rule, "run"
    // brltty running, "ch340" such an adapter plugged in, "ftdi=N" ttyUSB0's
    // latency timer, "twins" a second identical adapter, "listed" the user in
    // dialout, "held" by this login. Link: its port, or none for UDP.
    void culprits_data()
    {
        QTest::addColumn<QString>("tree");
        QTest::addColumn<QString>("linkPort");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("says"); // in the finding that is not ok
        const auto row = [](const char *n, const char *tree, const char *port, const char *expected,
                             const char *says) {
            QTest::newRow(n) << QString::fromLatin1(tree) << QString::fromLatin1(port)
                             << QString::fromLatin1(expected) << QString::fromLatin1(says);
        };
        row("nothing amiss", "ftdi=1", "", "o o o", "");
        row("brltty's rule, nothing claimed", "rule", "", "w o", "sudo apt remove brltty");
        row("brltty holds a CH340, serial link", "run ch340", "/dev/ttyUSB0", "F o",
            "plugged in now: 1a86:7523");
        row("brltty holds a CH340, UDP link", "run ch340", "", "w o", "85-brltty.rules");
        row("FTDI at 16 ms", "ftdi=16", "", "o w o", "ATTR{latency_timer}=\"1\"");
        row("twins, link by number", "twins", "/dev/ttyUSB0", "o w o",
            "--link serial:/dev/serial/by-id/usb-FTDI_A-if00-port0");
        row("twins, link by stable name", "twins", "/dev/serial/by-id/usb-FTDI_A-if00-port0",
            "o o o", "");
        row("dialout after this login", "listed", "", "o o w", "log out and in");
        row("dialout held", "listed held", "", "o o o", "");
    }
    void culprits()
    {
        QFETCH(QString, tree);
        QFETCH(QString, linkPort);
        QTemporaryDir root;
        const auto put = [&](const QString &path, const QByteArray &text) {
            QVERIFY(QDir(root.path()).mkpath(QFileInfo(root.path() + path).path()));
            QVERIFY(zoWriteFile(root.path() + path, text));
        };
        QList<Doctor::Port> ports;
        const int adapters = tree.contains(QLatin1String("twins")) ? 2 : 1;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("dev/serial/by-id")));
        for (int i = 0; i < adapters; ++i) {
            const QString node = QStringLiteral("/dev/ttyUSB%1").arg(i);
            ports.append({node, node.mid(5), true, 0x0403, 0x6001});
            QVERIFY(QFile::link(QStringLiteral("../..") + node.mid(4),
                root.path()
                    + QStringLiteral("/dev/serial/by-id/usb-FTDI_%1-if00-port0")
                          .arg(QLatin1Char('A' + i))));
        }
        for (const QString &t : tree.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (t == QLatin1String("rule"))
                put(QStringLiteral("/usr/lib/udev/rules.d/85-brltty.rules"), "# claims\n");
            if (t == QLatin1String("run"))
                put(QStringLiteral("/proc/412/comm"), "brltty\n");
            if (t == QLatin1String("ch340")) {
                put(QStringLiteral("/sys/bus/usb/devices/1-2/idVendor"), "1a86\n");
                put(QStringLiteral("/sys/bus/usb/devices/1-2/idProduct"), "7523\n");
            }
            if (t.startsWith(QLatin1String("ftdi=")))
                put(QStringLiteral("/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"),
                    t.mid(5).toLatin1());
            if (t == QLatin1String("listed"))
                put(QStringLiteral("/etc/group"), "root:x:0:\ndialout:x:20:ops,tech\n");
        }
        ZoCliSerialCulprits::System system;
        system.root = root.path();
        system.user = QStringLiteral("tech");
        if (tree.contains(QLatin1String("held")))
            system.loginGroups << QStringLiteral("dialout");
        const ZoCliSerialCulprits culprits(system, !linkPort.isEmpty(), linkPort);
        const QList<Doctor::Finding> findings = culprits.run(ports);
        QFETCH(QString, says);
        QString text;
        for (const Doctor::Finding &f : findings)
            if (f.level != Doctor::Ok)
                text += f.text + QLatin1Char(' ') + f.fix;
        QFETCH(QString, expected);
        QCOMPARE(levels(findings), expected.remove(QLatin1Char(' ')));
        QVERIFY2(says.isEmpty() ? text.isEmpty() : text.contains(says), qPrintable(text));
        // The link's stable name opens the node the adapter has now.
        QCOMPARE(ZoSerialStableNames(root.path())
                     .nodeOf(QStringLiteral("/dev/serial/by-id/usb-FTDI_A-if00-port0")),
            QStringLiteral("/dev/ttyUSB0"));
    }

    // The program: every line a finding; FAIL lines and only they make exit 6.
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("sysconfigIsFolder");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("usable folder") << QStringList {QStringLiteral("--doctor")} << false << 0;
        QTest::newRow("sysconfig.xml a folder")
            << QStringList {QStringLiteral("--doctor")} << true << 6;
        QTest::newRow("with --upgrade")
            << QStringList {QStringLiteral("--doctor"), QStringLiteral("--upgrade")} << false << 2;
    }

    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, sysconfigIsFolder);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        QVERIFY(zoWriteFile(dir.filePath(QStringLiteral("busdevcfg.xml")), "<busdevcfg/>"));
        if (sysconfigIsFolder)
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sysconfig.xml")));
        else
            QVERIFY(zoWriteFile(dir.filePath(QStringLiteral("sysconfig.xml")), kSysConfig));
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(TOLVANE_CLI), arguments);
        QVERIFY(p.waitForFinished(30000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QCOMPARE(p.exitCode(), exitCode);
        if (exitCode == 2)
            return;
        const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 6);
        const QRegularExpression shape(QStringLiteral("^(ok   |warn |FAIL )[a-z]+[ :]"));
        for (const QString &line : lines)
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
        QCOMPARE(out.contains(QLatin1String("\nFAIL ")) || out.startsWith(QLatin1String("FAIL ")),
            exitCode == 6);
        if (!sysconfigIsFolder) // the link stored in the file, not the default
            QVERIFY(out.contains(QLatin1String("ok   network udp 127.0.0.1: in 127.0.0.0/8")));
    }
};

QTEST_GUILESS_MAIN(TestZoCliDoctor)
#include "tst_zoclidoctor.moc"
