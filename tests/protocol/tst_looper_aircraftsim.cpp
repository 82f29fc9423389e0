#include "ZoBootCommands.h"
#include "ZoMsgLooper.h"
#include "ZoTestAircraftSim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>

// The looper and both codecs against the independent aircraft simulator,
// which runs as its own process on loopback. The simulator's JSON-lines event
// log says what it received; assertions rest on those facts (sequence numbers,
// addresses, what each device answered), not on timing. The search of every
// unit on each link kind and whole transfers are driven by the upgrade
// workflow and tested with it (tests/upgrade); the decoding of each reply
// kind, byte by byte, is tst_zomsglooper's.
namespace {

// "type:major.minor.revision", the form the scenario files write versions in.
QString versionText(const tVersion &v)
{
    return QStringLiteral("%1:%2.%3.%4").arg(v.type).arg(v.major).arg(v.minor).arg(v.revision);
}
QString moduleText(const QString &version, int idx, const QString &sn)
{
    return QStringLiteral("%1 idx %2 sn %3").arg(version).arg(idx).arg(sn);
}

// ---- the simulator's side, as its scenario file describes it ----

struct Scenario
{
    tdu1 coreType = 0;
    QString version; // "type:major.minor.revision"
    QString compileTime; // "yyyy-MM-dd hh:mm:ss"
    QString eid;
    tdu4 address = 0;
    QMap<QString, QString> modules; // "type.node" -> version
};

Scenario loadScenario(const QString &file)
{
    Scenario s;
    const QJsonObject o
        = QJsonDocument::fromJson(zoReadFile(QStringLiteral(TOLVANE_AIRCRAFT_SCENARIOS "/") + file))
              .object();
    const QJsonObject core = o.value(QStringLiteral("core")).toObject();
    s.coreType = tdu1(zoNum(core, "type"));
    s.version = QStringLiteral("%1:%2").arg(s.coreType).arg(zoText(core, "version"));
    s.compileTime = zoText(core, "compileTime");
    s.eid = zoText(core, "eid").toUpper();
    s.address = tdu4(zoText(o, "addressValue").toUInt(nullptr, 0));
    for (const QJsonValue &v : o.value(QStringLiteral("modules")).toArray()) {
        const QJsonObject m = v.toObject();
        s.modules.insert(QStringLiteral("%1.%2").arg(zoNum(m, "type")).arg(zoNum(m, "node")),
            QStringLiteral("%1:%2").arg(zoNum(m, "type")).arg(zoText(m, "version")));
    }
    return s;
}

// Every signal of the looper, as the window would receive it.
struct Received
{
    QVector<bool> connection;
    QStringList versions; // versionText
    QStringList compileTimes; // "yyyy-MM-dd hh:mm:ss"
    QStringList eids;
    QStringList modules; // moduleText
};

} // namespace

class TstLooperAircraftSim : public QObject
{
    Q_OBJECT

private:
    QUdpSocket gcpmSink;
    std::unique_ptr<ZoMsgLooper> looper;
    // The workflow's own commands; whole transfers are the workflow's, tested
    // in tests/upgrade.
    std::unique_ptr<ZoBootCommands> commands;
    std::unique_ptr<ZoTestAircraftSim> sim; // one per case, stopped after the link is closed
    Received rx;

    // Opens the looper's UDP link to the simulator and waits for its first
    // telemetry frame.
    bool openLink()
    {
        rx = Received();
        const tds4 port = sim->port;
        const tds4 local = sim->programUdpPort;
        QMetaObject::invokeMethod(looper.get(), [l = looper.get(), port, local] {
            l->onOpenPlaneUdp(QStringLiteral("127.0.0.1"), port, local);
        });
        return QTest::qWaitFor([this] { return rx.connection.contains(true); }, 5000);
    }

    // Nothing the program sent was misread by the aircraft.
    bool noMisreads() const
    {
        static const QStringList misreads {"sub-message runs past the frame", "unknown sub-message",
            "CAN pass-through too short", "malformed bus pass-through",
            "malformed addressed transfer frame", "key frame is not 54 bytes",
            "data frame too short", "unknown bootloader command"};
        bool ok = sim->events("badCrc").isEmpty();
        for (const QJsonObject &o : sim->events("ignored"))
            if (misreads.contains(zoText(o, "reason"))) {
                qWarning().noquote() << QJsonDocument(o).toJson(QJsonDocument::Compact);
                ok = false;
            }
        return ok;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Every frame written is logged at debug level; keep the output readable.
        QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false"));
        // The looper announces itself while a TCP link is open: to a local
        // sink, whatever the environment says.
        QVERIFY(gcpmSink.bind(QHostAddress(QHostAddress::LocalHost), 0));
        qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
        qputenv("TOLVANE_GCPM_PORT", QByteArray::number(gcpmSink.localPort()));
        looper = std::make_unique<ZoMsgLooper>();
        ZoMsgLooper *l = looper.get();
        connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, this,
            [this](bool c) { rx.connection << c; });
        connect(l, &ZoMsgLooper::sigGNCFMVersion, this,
            [this](tVersion v) { rx.versions << versionText(v); });
        connect(l, &ZoMsgLooper::sigGNCCompileTime, this, [this](tFcsDateTime t) {
            rx.compileTimes << QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second);
        });
        connect(l, &ZoMsgLooper::sigGNCEID, this, [this](QString e) { rx.eids << e; });
        connect(l, &ZoMsgLooper::sigCANDevVersion, this, [this](tVersion v, tdu1 idx, QString sn) {
            rx.modules << moduleText(versionText(v), idx, sn);
        });
        looper->startLooper();
        QTRY_VERIFY(looper->isReady());
        commands = std::make_unique<ZoBootCommands>(l);
    }

    void cleanupTestCase()
    {
        commands.reset();
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onTerminateLooper(); });
        QVERIFY(looper->wait(3000));
        looper.reset();
    }

    void init() { sim = std::make_unique<ZoTestAircraftSim>(); }

    void cleanup()
    {
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onClosePlaneComm(); });
        (void)QTest::qWaitFor([this] { return !looper->isConnected(); }, 2000);
        looper->setProtocol(ZoMsgLooper::ModeApplication, 0);
        if (QTest::currentTestFailed()) {
            // What the aircraft saw last, to tell whose reading went wrong.
            const QList<QJsonObject> ev = sim->events();
            for (int i = std::max(0, int(ev.size()) - 25); i < ev.size(); ++i)
                qWarning().noquote() << QJsonDocument(ev[i]).toJson(QJsonDocument::Compact);
        }
        sim.reset();
    }

    // An aircraft whose frames carry an 8-byte address: the telemetry alone
    // makes the link, the core's identity reads back as the scenario gives
    // it, and every later command carries the address the aircraft announced.
    void addressedIdentity()
    {
        const QString scenario = QStringLiteral("arno2.json");
        const Scenario sc = loadScenario(scenario);
        QVERIFY(sc.coreType != 0 && sc.address != 0);
        QVERIFY(sim->start(ZoTestAircraftSim::Udp, scenario, {}));
        QVERIFY(openLink());
        QVERIFY(sim->events("request").isEmpty());

        // The version query asks for the compile time as well.
        QVERIFY(commands->coreVersionQuery() && commands->identityQuery());
        QTRY_VERIFY_WITH_TIMEOUT(
            !rx.versions.isEmpty() && !rx.compileTimes.isEmpty() && !rx.eids.isEmpty(), 3000);
        QTest::qWait(100); // and no more
        QCOMPARE(rx.versions, QStringList {sc.version});
        QCOMPARE(rx.compileTimes, QStringList {sc.compileTime});
        QCOMPARE(rx.eids, QStringList {sc.eid});

        // What the aircraft saw: one request each, numbered in order.
        int seq = -1;
        for (const char *cmd : {"version", "compileTime", "identity"}) {
            const QList<QJsonObject> r
                = sim->events("request", QStringLiteral("core"), QLatin1String(cmd));
            QCOMPARE(r.size(), 1);
            const QJsonObject &got = r.first();
            QVERIFY2(got.contains(QStringLiteral("seq")), "sequence sub-message missing");
            if (seq >= 0)
                QCOMPARE(zoNum(got, "seq"), (seq + 1) % 256);
            seq = zoNum(got, "seq");
            QCOMPARE(
                got.value(QStringLiteral("address")).toVariant().toLongLong(), qint64(sc.address));
            QVERIFY(got.value(QStringLiteral("addressOk")).toBool());
        }
        QVERIFY(noMisreads());
    }

    // A device held in its bootloader reports its stored version: the core
    // in the bootloader protocol (0x22 parameters), modules in the long
    // (CAN, bus kind 2) or short form (kinds 3 and 4).
    void bootloaderReports_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("node");
        QTest::addColumn<int>("busKind");
        QTest::newRow("core") << 80 << 0 << 1;
        QTest::newRow("CAN module 46") << 46 << 0 << 2;
        QTest::newRow("CAN board 83.0") << 83 << 0 << 3;
        QTest::newRow("bus module 86.3") << 86 << 3 << 4;
    }

    void bootloaderReports()
    {
        QFETCH(int, type);
        QFETCH(int, node);
        QFETCH(int, busKind);
        const Scenario sc = loadScenario(QStringLiteral("default.json"));
        const bool core = busKind == 1;
        const QString dev
            = core ? QStringLiteral("core") : QStringLiteral("%1.%2").arg(type).arg(node);
        const QString version = sc.modules.value(dev, sc.version);
        QVERIFY(sim->start(ZoTestAircraftSim::Udp, QStringLiteral("default.json"), {}));
        QVERIFY(openLink());

        using C = ZoBootCommands;
        QVERIFY(core ? commands->coreEnterBootloader(tdu1(type))
                     : commands->module(C::OpEnter, tdu1(type), tdu1(node)));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QJsonObject &o : sim->events("state", dev))
                    if (zoText(o, "to") == QLatin1String("bootloader"))
                        return true;
                return false;
            }(),
            3000);
        rx = Received();
        // Asked from its bootloader for its stored version, as the manual add
        // of a device that did not answer the search asks it.
        looper->setProtocol(core ? ZoMsgLooper::ModeCoreBootloader : ZoMsgLooper::ModeApplication,
            core ? 0 : tdu1(busKind));
        QVERIFY(core ? commands->coreReadParameters()
                     : commands->module(C::OpForceReport, tdu1(type), tdu1(node)));
        if (core) {
            QTRY_COMPARE_WITH_TIMEOUT(rx.versions, QStringList {version}, 3000);
        } else {
            // The long form names no device; the short form carries the index.
            const bool longForm = busKind == 2;
            const QString sn = longForm ? QString() : QString::number(node);
            QTRY_COMPARE_WITH_TIMEOUT(
                rx.modules, QStringList {moduleText(version, longForm ? 0 : node, sn)}, 3000);
        }
        QVERIFY(core ? commands->coreLeaveBootloader()
                     : commands->module(C::OpLeave, tdu1(type), tdu1(node)));
        QTRY_VERIFY_WITH_TIMEOUT(
            !sim->events("request", dev, QStringLiteral("leaveBootloader")).isEmpty(), 3000);
        QVERIFY(noMisreads());
    }
};

QTEST_GUILESS_MAIN(TstLooperAircraftSim)
#include "tst_looper_aircraftsim.moc"
