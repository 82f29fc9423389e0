#include "ZoPlaneSearch.h"

#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

const ZoPlaneSearch::Timings FastTimings {20, 50, 30};
const ZoDeviceKey ModA(0x21, 3);
const ZoDeviceKey ModB(0x30, 7);

// One search with every outgoing signal logged in order. The fake system
// ports are "name" or "name:flags" with n (null), i (vendor or product
// identifier), b (busy). With `answerOpens`,
// every open is answered (queued, as the looper does) with success unless
// the link is in `failing` ("udp", "tcp" or a port name); a port in it as
// "!name" refuses the user first, as the looper tells it, node "/dev/name".
struct Rig
{
    explicit Rig(const QStringList &ports = {}, bool answers = true)
        : answerOpens(answers)
    {
        search.setTimings(FastTimings);
        search.setPortEnumerator([ports] {
            QList<ZoPlaneSearch::PortCandidate> out;
            for (const QString &entry : ports) {
                const QString name = entry.section(QLatin1Char(':'), 0, 0);
                const QString flags = entry.section(QLatin1Char(':'), 1);
                out.append({name, flags.contains(QLatin1Char('n')),
                    flags.contains(QLatin1Char('i')), flags.contains(QLatin1Char('b'))});
            }
            return out;
        });
        auto s = &search;
        QObject::connect(s, &ZoPlaneSearch::sigOpenComUdp, [this](QString h, tds4 hp, tds4 lp) {
            log << QStringLiteral("udp %1 %2 %3").arg(h).arg(hp).arg(lp);
            answer(0, QStringLiteral("udp"));
        });
        QObject::connect(s, &ZoPlaneSearch::sigOpenComSerial,
            [this](QString c, tds4 b, tds4 d, tds4 p, tds4 st) {
                log << QStringLiteral("serial %1 %2 %3 %4 %5").arg(c).arg(b).arg(d).arg(p).arg(st);
                answer(1, c);
            });
        QObject::connect(
            s, &ZoPlaneSearch::sigOpenComTCPClient, [this](QString h, tds4 hp, tds4 lp) {
                log << QStringLiteral("tcp %1 %2 %3").arg(h).arg(hp).arg(lp);
                answer(2, QStringLiteral("tcp"));
            });
        QObject::connect(
            s, &ZoPlaneSearch::sigCloseCom, [this] { log << QStringLiteral("close"); });
        QObject::connect(s, &ZoPlaneSearch::sigGetFirmwareInfo, [this](tdu1 t, tdu4 id, tdu4 n) {
            log << QStringLiteral("info %1 %2 %3").arg(t).arg(id, 0, 16).arg(n);
        });
        QObject::connect(s, &ZoPlaneSearch::sigFinishSearch,
            [this](bool ok, tds4 n) { log << QStringLiteral("finish %1 %2").arg(int(ok)).arg(n); });
        QObject::connect(s, &ZoPlaneSearch::sigSerialPortDenied,
            [this](QString node) { log << QStringLiteral("denied ") + node; });
    }
    void answer(int type, const QString &link)
    {
        if (!answerOpens)
            return;
        const bool denied = failing.contains(QLatin1Char('!') + link);
        QTimer::singleShot(0, &search, [this, type, link, denied, ok = !failing.contains(link)] {
            if (denied)
                search.onSerialPortDenied(QStringLiteral("/dev/") + link);
            search.onOpenCommState(type, ok && !denied);
        });
    }
    void startAuto(const QStringList &comList = {})
    {
        search.onUpdateSearchRange(comList, QStringLiteral("127.0.0.1"), 6075, 6076,
            QStringLiteral("127.0.0.2"), 8050, 8051);
    }
    // Runs the event loop for `ms` and tells whether nothing was logged.
    bool quietFor(int ms)
    {
        const int before = log.size();
        QTest::qWait(ms);
        return log.size() == before;
    }

    ZoPlaneSearch search;
    QSignalSpy finished {&search, &ZoPlaneSearch::sigFinishSearch};
    QStringList log;
    bool answerOpens = true;
    QSet<QString> failing;
};

} // namespace

class tst_ZoPlaneSearch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void candidateOrder_data()
    {
        QTest::addColumn<QStringList>("ports"); // in enumeration order, see Rig
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("none") << QStringList {} << QStringList {};
        QTest::newRow("identified, then busy, then neither")
            << QStringList {"p", "b:b", "i:i"} << QStringList {"i", "b", "p"};
        QTest::newRow("enumeration order within a group; identified and busy counts once")
            << QStringList {"i1:ib", "b1:b", "i2:i", "b2:b"}
            << QStringList {"i1", "i2", "b1", "b2"};
        QTest::newRow("null skipped") << QStringList {"n:nib", "p"} << QStringList {"p"};
    }
    void candidateOrder()
    {
        QFETCH(QStringList, ports);
        QFETCH(QStringList, expected);

        Rig rig(ports, false);
        QSignalSpy active(&rig.search, &ZoPlaneSearch::sigActiveChanged);
        // The caller's list is not used: the ports are always enumerated.
        rig.startAuto({QStringLiteral("ignored")});

        QCOMPARE(rig.search.portList(), expected);
        QVERIFY(rig.search.isActive() && rig.search.isAutoMode());
        QCOMPARE(active.size(), 1);
        QCOMPARE(rig.search.progressMaximum(), 12 + expected.size());
        QCOMPARE(rig.search.progressValue(), 1);
        QCOMPARE(rig.log, QStringList {"udp 127.0.0.1 6075 6076"});
    }

    void autoSequence_data()
    {
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QStringList>("failing"); // opens answered with failure
        QTest::addColumn<QStringList>("expected");

        using L = QStringList;
        const QString udp = QStringLiteral("udp 127.0.0.1 6075 6076");
        const QString tcp = QStringLiteral("tcp 127.0.0.2 8050 8051");
        const QString a = QStringLiteral("serial A 115200 8 0 1");
        const QString b = QStringLiteral("serial B 115200 8 0 1");
        const QString close = QStringLiteral("close");
        const QString end = QStringLiteral("finish 0 0");
        // The detect timeout (20 ms) ends the UDP stage before its data wait (50 ms).
        QTest::newRow("no ports: UDP, one TCP try, end")
            << L {} << L {} << L {udp, tcp, close, end};
        QTest::newRow("each data-less open closed before the next")
            << L {"A", "B"} << L {} << L {udp, a, close, b, close, tcp, close, end};
        QTest::newRow("failed serial open moves on at once")
            << L {"A", "B"} << L {"A"} << L {udp, a, b, close, tcp, close, end};
        QTest::newRow("failed TCP open ends") << L {"A"} << L {"A", "tcp"} << L {udp, a, tcp, end};
        // Ports that refuse the user: the first is told once, as nothing is found.
        QTest::newRow("refused ports told at the end")
            << L {"A", "B"} << L {"!A", "!B"}
            << L {udp, a, b, tcp, close, QStringLiteral("denied /dev/A"), end};
        // A UDP link that cannot open still leaves the serial ports to try.
        QTest::newRow("failed UDP open goes on to the ports")
            << L {"A"} << L {"udp"} << L {udp, a, close, tcp, close, end};
    }
    void autoSequence()
    {
        QFETCH(QStringList, ports);
        QFETCH(QStringList, failing);

        Rig rig(ports);
        rig.failing = QSet<QString>(failing.begin(), failing.end());
        rig.startAuto();
        QVERIFY(rig.finished.wait(2000));
        QVERIFY(rig.quietFor(150)); // nothing opened after the TCP try
        QTEST(rig.log, "expected");
        QVERIFY(!rig.search.isActive());
    }

    void coreFoundThenModules()
    {
        Rig rig({QStringLiteral("A")}, false); // no data wait: the detect timeout alone moves on
        QSignalSpy found(&rig.search, &ZoPlaneSearch::sigPlaneConnectionFound);
        rig.startAuto();
        QTRY_COMPARE(rig.log.size(), 2); // UDP, then serial A after the detect timeout
        rig.search.onPlaneDeteced(false); // not a find
        rig.search.onSerialPortDenied(QStringLiteral("/dev/X")); // not told: found after all
        rig.search.onPlaneDeteced(true);

        QCOMPARE(found.size(), 1);
        const auto config = found.at(0).at(0).value<ZoPlaneConfig>();
        QCOMPARE(config, rig.search.candidate());
        QCOMPARE(int(config.type), int(ZoPlaneConfig::LinkSerialPort));
        QCOMPARE(config.com, QStringLiteral("A"));
        QCOMPARE(rig.log.last(), QStringLiteral("info 0 0 0"));
        // The other timers stopped: the search only asks the core again.
        QTest::qWait(45);
        QCOMPARE(rig.log.last(), QStringLiteral("info 0 0 0"));
        QVERIFY(rig.finished.isEmpty());

        rig.log.clear();
        rig.search.coreIdentified(true, true, {ModA, ModB});
        QCOMPARE(rig.log, QStringList {"info 1 21 3"}); // the first module at once
        QCOMPARE(rig.search.progressMaximum(), 2 + 2 + 1);
        rig.search.coreIdentified(true, true, {ModA}); // only one identity answer counts
        // The link blinks while the modules are asked: the pacing goes on.
        rig.search.onPlaneDeteced(true);
        QVERIFY(rig.finished.wait(1000));
        QCOMPARE(
            rig.log, QStringList({"info 1 21 3", "info 1 0 0", "info 1 30 7", "finish 1 1"}));
        QVERIFY(!rig.search.isActive());
    }

    void coreWithoutModules_data()
    {
        QTest::addColumn<bool>("hasModules");
        QTest::addColumn<QList<ZoDeviceKey>>("modules");

        QTest::newRow("no module list") << false << QList<ZoDeviceKey> {ModA};
        QTest::newRow("empty module list") << true << QList<ZoDeviceKey> {};
    }
    void coreWithoutModules()
    {
        QFETCH(bool, hasModules);
        QFETCH(QList<ZoDeviceKey>, modules);

        Rig rig({}, false);
        rig.startAuto();
        rig.search.coreIdentified(true, hasModules, modules); // core not asked yet: ignored
        rig.search.onPlaneDeteced(true);
        rig.search.coreIdentified(false, hasModules, modules); // no answer: ignored
        QVERIFY(rig.finished.isEmpty());
        rig.search.coreIdentified(true, hasModules, modules);
        QCOMPARE(rig.log.mid(1), QStringList({"info 0 0 0", "finish 1 1"}));
        QVERIFY(!rig.search.isActive());
        QVERIFY(rig.quietFor(100));
    }

    // A core whose data arrives but whose version never does is asked again at
    // the module pace, then given up: the search ends as not found instead of
    // holding the window for good.
    void silentCoreEndsSearch()
    {
        Rig rig({}, false);
        rig.startAuto();
        rig.search.onPlaneDeteced(true);
        QTRY_COMPARE(rig.finished.size(), 1);
        QCOMPARE(rig.log.count(QStringLiteral("info 0 0 0")), ZoPlaneSearch::IdentityAttempts);
        QCOMPARE(rig.log.last(), QStringLiteral("finish 0 0"));
        QVERIFY(!rig.search.isActive());
        QVERIFY(rig.quietFor(100));
    }

    void oneLink_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("open");

        QTest::newRow("serial") << 1 << "serial ttyS9 57600 7 2 2";
        QTest::newRow("udp") << 0 << "udp 127.0.0.3 100 200";
        QTest::newRow("tcp") << 2 << "tcp 127.0.0.4 300 400";
    }
    void oneLink()
    {
        QFETCH(int, type);
        QFETCH(QString, open);

        for (const bool opens : {true, false}) {
            Rig rig({QStringLiteral("A")}, false);
            if (type == 1)
                rig.search.onSearchOnSpecSPCom(QStringLiteral("ttyS9"), 57600, 7, 2, 2);
            else if (type == 0)
                rig.search.onSearchOnspecUdpCom(QStringLiteral("127.0.0.3"), 100, 200);
            else
                rig.search.onSearchOnspecTcpClientCom(QStringLiteral("127.0.0.4"), 300, 400);
            QCOMPARE(rig.log, QStringList {open});
            QVERIFY(!rig.search.isAutoMode());
            QVERIFY(rig.quietFor(100)); // no detect timer
            // The port the user chose refusing them is told at once.
            if (type == 1 && !opens)
                rig.search.onSerialPortDenied(QStringLiteral("/dev/ttyS9"));
            rig.search.onOpenCommState(type, opens);
            if (opens) {
                QVERIFY(rig.finished.wait(1000));
                QCOMPARE(rig.log, QStringList({open, "finish 0 0"}));
                QVERIFY(!rig.search.isActive());
            } else {
                // As described: nothing moves on and the search stays active
                // until the caller cancels it.
                QVERIFY(rig.quietFor(150));
                QVERIFY(rig.search.isActive());
                if (type == 1)
                    QCOMPARE(rig.log, QStringList({open, "denied /dev/ttyS9"}));
            }
        }
    }

    void inactiveIgnoresReports()
    {
        Rig rig;
        rig.search.onOpenCommState(0, true);
        rig.search.onOpenCommState(0, false);
        rig.search.onPlaneDeteced(true);
        rig.search.coreIdentified(true, true, {ModA});
        QVERIFY(rig.quietFor(150));
        QVERIFY(rig.log.isEmpty());

        rig.answerOpens = false;
        rig.startAuto();
        rig.search.cancel();
        rig.log.clear();
        rig.search.onOpenCommState(0, true); // after the end as well
        rig.search.onPlaneDeteced(true);
        QVERIFY(rig.quietFor(150));
        QVERIFY(rig.log.isEmpty());
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("coreFound");
        QTest::addColumn<QString>("finish");

        QTest::newRow("while searching") << false << "finish 0 0";
        QTest::newRow("while asking the modules") << true << "finish 0 1";
    }
    void cancel()
    {
        QFETCH(bool, coreFound);

        Rig rig;
        QSignalSpy active(&rig.search, &ZoPlaneSearch::sigActiveChanged);
        rig.startAuto();
        if (coreFound) {
            rig.search.onPlaneDeteced(true);
            rig.search.coreIdentified(true, true, {ModA, ModB});
        }
        rig.search.cancel();
        QTEST(rig.log.last(), "finish");
        QCOMPARE(rig.search.progressValue(), 0);
        QVERIFY(!rig.search.isActive());
        QCOMPARE(active.size(), 2);
        QCOMPARE(active.at(1).at(0).toBool(), false);
        QVERIFY(rig.quietFor(150)); // no timer left running
    }
};

QTEST_GUILESS_MAIN(tst_ZoPlaneSearch)
#include "tst_zoplanesearch.moc"
