#include "ZoTestAircraftSim.h"
#include "ZoTestCloudSim.h"
#include "ZoTestFiles.h"
#include "ZoTestFleet.h"
#include "ZoTestSysConfig.h"
#include "ZoTestXvfb.h"

#include <QDir>
#include <QImage>
#include <QSet>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

// The Tolvane program as a user starts it, on a private X display: copied
// alone with the updater beside it, so that it reads only the dictionaries
// inside it, its configuration in a working directory of its own, against
// both simulators on loopback. What the program did is read from the simulators' logs and
// from the screen; the window is closed with its own close button.
namespace {

const QString kTitle = QStringLiteral("Tolvane Firmware Upgrade"); // WndAppName in English

// The core, its data board, a CAN module and a serial-bus module.
const QList<ZoTestDevice> kFleet {
    zoTestFleet()[0], zoTestFleet()[1], zoTestFleet()[2], zoTestFleet()[4]};

QByteArray sysconfig(
    quint16 udpPort, quint16 localUdpPort, quint16 tcpPort, const QString &language)
{
    return zoTestSysConfig(QString::asprintf("0||115200|8|0|1|127.0.0.1|%d|%d|127.0.0.1|%d|0",
                               udpPort, localUdpPort, tcpPort),
        language);
}

// The programs whose parent is `pid`, from /proc.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> out;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 child = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const QByteArray stat = zoReadFile(QStringLiteral("/proc/%1/stat").arg(child));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            out << child;
    }
    return out;
}

QString nameOf(qint64 pid)
{
    return QString::fromLocal8Bit(zoReadFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed());
}

bool running(qint64 pid)
{
    const QByteArray stat = zoReadFile(QStringLiteral("/proc/%1/stat").arg(pid));
    // A zombie has ended; only its parent's wait is missing.
    return !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}

QList<QJsonObject> routed(const ZoTestCloudSim &cloud, const QString &route)
{
    QList<QJsonObject> out;
    for (const QJsonObject &r : cloud.requests())
        if (zoText(r, "route") == route)
            out << r;
    return out;
}

// Pixels of `colour` in the rectangle: the upgrade button, enabled, is the
// only block of this blue in the window's lower right corner.
int pixelsOf(const QImage &image, const QRect &area, QRgb colour)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

} // namespace

class TstTolvaneXvfb : public QObject
{
    Q_OBJECT

    ZoTestXvfb xvfb;
    QUdpSocket gcpmSink;
    QTemporaryDir work;
    QProcess program;

    QString programLog() const { return work.filePath(QStringLiteral("tolvane.log")); }

    // Ends the program and whatever it started, by their ids, however the
    // test went.
    void stopProgram()
    {
        if (program.state() == QProcess::NotRunning)
            return;
        for (qint64 child : childrenOf(program.processId()))
            ::kill(pid_t(child), SIGKILL);
        program.terminate();
        if (!program.waitForFinished(5000)) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    QImage grab(const QString &window, const QString &path) const
    {
        if (xvfb.run(QStringLiteral(TOLVANE_XSHOT), {path, window}).isNull())
            return QImage();
        return QImage(path);
    }

    // The program started from its folder as a user starts it, against
    // `fleet` on the aircraft simulator and a cloud offering their firmware;
    // the id of its window once it shows.
    QString launch(ZoTestCloudSim &cloud, ZoTestAircraftSim &sim, const QList<ZoTestDevice> &fleet,
        const QStringList &simArgs = {}, const QString &language = QStringLiteral("en_US"),
        const QString &title = kTitle)
    {
        const QString scenario = work.filePath(QStringLiteral("scenario.json"));
        const QString field = work.filePath(QStringLiteral("field"));
        const QString bin = work.filePath(QStringLiteral("bin"));
        if (!zoTestServeCatalogue(cloud, fleet) || !zoTestWriteScenario(scenario, fleet)
            || !sim.start(ZoTestAircraftSim::Udp, scenario, simArgs)
            || !QDir(field).removeRecursively() || !QDir(bin).removeRecursively()
            || !QDir().mkpath(bin)
            || !QFile::copy(QStringLiteral(TOLVANE_PROGRAM), bin + QStringLiteral("/Tolvane"))
            || !QFile::copy(
                QStringLiteral(TOLVANE_UPDATER), bin + QStringLiteral("/ZoHaldenUpdate"))
            || !zoWriteFile(field + QStringLiteral("/sysconfig.xml"),
                sysconfig(sim.port, sim.programUdpPort, ZoTestAircraftSim::deadPort(), language))
            || !zoWriteFile(field + QStringLiteral("/busdevcfg.xml"),
                "<busdevcfg><tunex><NodeId>2</NodeId></tunex></busdevcfg>"))
            return QString();

        QProcessEnvironment env = xvfb.environment();
        env.insert(QStringLiteral("TOLVANE_CLOUD_URL"), cloud.baseUrl());
        env.insert(QStringLiteral("TOLVANE_GCPM_HOST"), QStringLiteral("127.0.0.1"));
        env.insert(QStringLiteral("TOLVANE_GCPM_PORT"), QString::number(gcpmSink.localPort()));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(field);
        program.setStandardOutputFile(programLog());
        program.setStandardErrorFile(programLog(), QIODevice::Append);
        program.start(bin + QStringLiteral("/Tolvane"), QStringList());
        if (!program.waitForStarted(5000))
            return QString();
        return xvfb.waitForWindow(QLatin1Char('^') + title + QLatin1Char('$'), 30000);
    }

    // On screen: the upgrade button turns blue once the aircraft was found,
    // every unit read and the core's catalogue fetched. The last picture is
    // left at `shot`; the button's centre, or a null point.
    QPoint waitForOffer(const QString &window, const QString &shot, QImage &image) const
    {
        const QRgb enabledBlue = qRgb(0x0A, 0x74, 0xC4);
        QRect corner;
        (void)QTest::qWaitFor(
            [&] {
                image = grab(window, shot);
                corner = QRect(image.width() - 200, image.height() - 60, 200, 60);
                return !image.isNull() && pixelsOf(image, corner, enabledBlue) > 100 * 25;
            },
            40000);
        QRect button;
        for (int y = corner.top(); !image.isNull() && y <= corner.bottom(); ++y)
            for (int x = corner.left(); x <= corner.right(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == (enabledBlue & 0xFFFFFF))
                    button |= QRect(x, y, 1, 1);
        return button.width() > 100 ? button.center() : QPoint();
    }

    bool click(const QString &window, QPoint at) const
    {
        const QString move = QString::asprintf("mousemove --window %s %d %d sleep 0.3 click 1",
            window.toLatin1().constData(), at.x(), at.y());
        return !xvfb.run(QStringLiteral("xdotool"), move.split(QLatin1Char(' '))).isNull();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!ZoTestXvfb::available())
            QSKIP("Xvfb and xdotool are needed (scripts/install-deps.sh)");
        QVERIFY(xvfb.start());
        QVERIFY(gcpmSink.bind(QHostAddress(QHostAddress::LocalHost), 0));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qWarning().noquote() << "Tolvane's output:\n"
                    + QString::fromLocal8Bit(zoReadFile(programLog()));
        stopProgram();
    }

    // Started from its folder, the program first lets the updater ask the
    // cloud for a newer release of itself (there is none), then opens its
    // window, finds the aircraft over UDP, reads every unit's version and
    // fetches the core's catalogue; the window then offers the upgrade. The
    // close button ends the program with nothing left running.
    void startsSearchesOffersAndCloses()
    {
        ZoTestCloudSim cloud;
        QVERIFY(cloud.start());
        QVERIFY(cloud.writeFile(QStringLiteral("releases.json"),
            R"({"releases":[{"match":{"key":7},"cdt":"2026-11-20 10:15:00","importanceLevel":2,
                "description":"current","version":"2.1.9.2","archive":"Tolvane-2.1.9.2.zip"}]})"));

        ZoTestAircraftSim sim;
        const QString window = launch(cloud, sim, kFleet);
        QVERIFY2(!window.isEmpty(), "no window titled from the dictionary inside the program");
        // The updater ran before the window, from beside the program, with
        // the program's version and channel and the cloud address it was given.
        const QList<QJsonObject> releaseChecks
            = routed(cloud, QStringLiteral("getSoftwareUpgradeUrl"));
        QCOMPARE(releaseChecks.size(), 1);
        QCOMPARE(zoNum(releaseChecks[0].value(QLatin1String("body")).toObject(), "key"), 7);
        QCOMPARE(zoText(releaseChecks[0], "release"), QStringLiteral("2.1.9.2"));
        for (qint64 child : childrenOf(program.processId()))
            QVERIFY2(nameOf(child) != QLatin1String("ZoHaldenUpdate"), "the updater still runs");

        // What the search asks of each unit is the engine's test. The last
        // picture stays in the build tree to be looked at.
        const QString shot = QStringLiteral(TOLVANE_BINARY_DIR "/tests/tst_tolvanexvfb.png");
        QImage image;
        const bool offered = !waitForOffer(window, shot, image).isNull();
        QVERIFY2(!image.isNull(), qPrintable(shot));
        QVERIFY2(image.width() >= 720 && image.height() >= 640, qPrintable(shot));
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                colours << image.pixel(x, y);
        QVERIFY2(colours.size() > 50, qPrintable(shot)); // text, icons, not a blank fill
        QVERIFY2(offered,
            qPrintable(shot + QLatin1String(" after ") + cloud.paths().join(QLatin1Char(' '))));

        // The close button, right in the title row (12 px margin, 30 x 26,
        // the row 34 px high under a 4 px margin). The pointer rests on it a
        // moment first, as a hand would: a press that arrives together with
        // the motion is at times not taken as a click.
        QVERIFY(click(window, QPoint(image.width() - 12 - 15, 4 + 17)));
        const qint64 pid = program.processId();
        const QList<qint64> children = childrenOf(pid);
        QVERIFY2(program.waitForFinished(10000), "the close button did not end the program");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!running(pid));
        // A helper the process started on its way out (a sanitizer's
        // symbolizer) sees its pipe close with the parent and ends a moment
        // later; what is still there after that was left behind.
        for (qint64 child : children)
            QVERIFY2(
                QTest::qWaitFor([&] { return !running(child); }, 5000), qPrintable(nameOf(child)));
        QVERIFY(xvfb.windows(kTitle).isEmpty());
        QVERIFY(!zoReadFile(programLog()).contains("QString::arg"));
    }

    // Chinese, with no dictionary folder anywhere: the title and every text
    // come from inside the program, none of them missing its places.
    void chineseFromInsideTheProgram()
    {
        ZoTestCloudSim cloud;
        QVERIFY(cloud.start());
        ZoTestAircraftSim sim;
        const QString window = launch(cloud, sim, kFleet, {}, QStringLiteral("zh_CN"),
            QString::fromUtf8("Tolvane \xe5\x9b\xba\xe4\xbb\xb6\xe5\x8d\x87\xe7\xba\xa7"));
        QVERIFY2(!window.isEmpty(), "no window titled in Chinese");
        const QString shot = QStringLiteral(TOLVANE_BINARY_DIR "/tests/tst_tolvanexvfb-zh.png");
        QImage image;
        QVERIFY2(!waitForOffer(window, shot, image).isNull(), qPrintable(shot));
        QVERIFY(!zoReadFile(programLog()).contains("QString::arg"));
    }

    // A core an earlier run left in its bootloader, and no journal: the
    // window finds it by asking its bootloader, offers the upgrade, and ends
    // with the core confirmed on its target.
    void coreInBootloaderIsFlashed()
    {
        ZoTestCloudSim cloud;
        QVERIFY(cloud.start());
        ZoTestAircraftSim sim;
        const ZoTestDevice core = kFleet[0];
        const QString window = launch(
            cloud, sim, {core}, {QStringLiteral("--fault"), QStringLiteral("core:bootloader")});
        const QString shot = QStringLiteral(TOLVANE_BINARY_DIR "/tests/tst_tolvanexvfb-core.png");
        QImage image;
        const QPoint upgrade = waitForOffer(window, shot, image);
        QVERIFY2(!upgrade.isNull(), qPrintable(shot));
        QVERIFY(click(window, upgrade));
        QVERIFY(!xvfb.waitForWindow(QStringLiteral("^Information$"), 60000).isEmpty());
        grab(window, shot); // the end of the run, to be looked at
        QCOMPARE(zoText(sim.events("verify", QStringLiteral("core")).value(0), "sha256"),
            zoTestImageSha(zoTestSampleFile(core.file)));
        // Upgraded is the core's own word: what it reports after the flash is
        // what the cloud hears.
        QTRY_COMPARE_WITH_TIMEOUT(routed(cloud, QStringLiteral("editVersion")).size(), 1, 5000);
        const QJsonObject told = routed(cloud, QStringLiteral("editVersion"))[0];
        QCOMPARE(zoText(told.value(QLatin1String("body")).toObject(), "version"), core.to);
    }
};

QTEST_GUILESS_MAIN(TstTolvaneXvfb)
#include "tst_tolvanexvfb.moc"
