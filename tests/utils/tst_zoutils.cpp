#include "ZoUtils.h"

#include <QProcess>
#include <QtTest>

class TstZoUtils : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deviceName_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("airframeIn");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("airframe");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<int>("family");

        // The catalogue's rows themselves are data; these are its rules: a
        // type that fixes the airframe, one that keeps the caller's, a module
        // (no airframe), and what an unknown type falls back to.
        QTest::newRow("emba mr") << 6 << 99 << "MsgGNCEmba" << 1 << "emba.png" << 6;
        QTest::newRow("emba keeps airframe") << 21 << 99 << "MsgGNCEmba" << 99 << "emba.png" << 6;
        QTest::newRow("fuel gauge") << 39 << 7 << "MsgFuelGauge" << 0 << "fuelguage.png" << 0;
        QTest::newRow("core 12 unnamed") << 12 << 7 << "MsgUnknownDev" << 0 << "unknown.png" << 0;
        QTest::newRow("unknown") << 200 << 7 << "MsgUnknownDev" << 0 << "unknown.png" << 0;
    }
    void deviceName()
    {
        QFETCH(int, code);
        QFETCH(int, airframeIn);
        QFETCH(QString, icon);
        int out = airframeIn;
        // No dictionary is installed, so the translation is the key itself.
        QTEST(ZoUtils::deviceName(tdu1(code), out), "name");
        QTEST(out, "airframe");
        QCOMPARE(ZoUtils::iconPath(tdu1(code)), QStringLiteral(":/resource/icon/") + icon);
        QTEST(ZoUtils::coreFamily(tdu1(code)), "family");
    }

    void firmwareIdFor_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("airframe");
        QTest::addColumn<int>("fid");
        QTest::newRow("emba ag unchanged") << 8 << 258 << 8;
        QTest::newRow("drent ag") << 23 << 258 << 67;
        QTest::newRow("arno2 69 fw") << 69 << 2 << 42;
        QTest::newRow("airframe 4") << 41 << 4 << 41;
        QTest::newRow("above range") << 90 << 1 << 90;
    }
    void firmwareIdFor()
    {
        QFETCH(int, code);
        QFETCH(int, airframe);
        QTEST(int(ZoUtils::firmwareIdFor(tdu1(code), airframe)), "fid");
    }

    // The boards a core carries beside itself, found by the core they sit
    // beside: a board of another family is a plain module.
    void boards()
    {
        QVERIFY(ZoUtils::isBoardOf(44, 69) && ZoUtils::isBoardOf(45, 41));
        QVERIFY(ZoUtils::isBoardOf(83, 82) && !ZoUtils::isBoardOf(83, 41));
        QVERIFY(!ZoUtils::isBoardOf(46, 41) && !ZoUtils::isBoardOf(44, 47));
        QCOMPARE(ZoUtils::boardFor(42, ZoUtils::DataBoard), tdu1(44));
        QCOMPARE(ZoUtils::boardFor(42, ZoUtils::FeatureBoard), tdu1(45));
        QCOMPARE(ZoUtils::boardFor(81, ZoUtils::DataBoard), tdu1(83));
        QCOMPARE(ZoUtils::boardFor(81, ZoUtils::FeatureBoard), tdu1(0));
        QCOMPARE(ZoUtils::boardFor(23, ZoUtils::DataBoard), tdu1(0));
        QCOMPARE(ZoUtils::coreFamily(44), int(ZoUtils::FamilyNone));
    }

    // Expected modules as "type" or "type.node"; ignored ids as sysconfig.xml
    // writes them (node x 65536 + type).
    void moduleList_data()
    {
        QTest::addColumn<int>("core");
        QTest::addColumn<QList<tdu1>>("tunex");
        QTest::addColumn<QList<tdu1>>("servo");
        QTest::addColumn<QList<tds4>>("ignored");
        QTest::addColumn<QString>("expected");
        const QList<tds4> noIds;
        const QList<tdu1> none;
        const QList<tdu1> tunex {1, 2};
        const QList<tdu1> servo {3};
        const QString emba2 = QStringLiteral("83 46 65 92 36 37 38 57 58 79");
        QTest::newRow("emba2 nodes") << 80 << tunex << servo << noIds << emba2 + QStringLiteral(" 77.1 77.2 86.3");
        QTest::newRow("emba2, node 2 ignored")
            << 80 << tunex << none << QList<tds4> {2 * 65536 + 77} << emba2 + QStringLiteral(" 77.1");
        QTest::newRow("emba2 no nodes") << 81 << none << none << noIds << emba2 + QStringLiteral(" 77");
        QTest::newRow("arno2, 44 ignored") << 41 << none << none << QList<tds4> {44}
                                           << QStringLiteral("45 46 65 92 36 37 38 57 58 79");
        QTest::newRow("first gen core") << 23 << tunex << servo << noIds << QString();
        QTest::newRow("in range not a family") << 60 << tunex << servo << noIds << QString();
    }
    void moduleList()
    {
        QFETCH(int, core);
        QFETCH(QList<tdu1>, tunex);
        QFETCH(QList<tdu1>, servo);
        QFETCH(QList<tds4>, ignored);
        QStringList listed;
        for (const ZoDeviceKey &m : ZoUtils::moduleListFor(tdu1(core), tunex, servo, ignored))
            listed << m.text();
        QTEST(listed.join(QLatin1Char(' ')), "expected");
    }

    void sameSegment_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << QString();
        QTest::newRow("loopback is never offered") << QStringLiteral("127.0.0.9");
    }
    void sameSegment()
    {
        QFETCH(QString, address);
        QCOMPARE(ZoUtils::findIpSameNetSegmentToIds(address), QString());
    }

    // An address with a broadcast address is found from any address of its
    // /24. The private namespace holds only loopback, so one is added to lo
    // there, in a segment of its own: the looper's test adds 127.0.0.2 beside
    // it at the same time.
    void sameSegmentFindsLocalInterface()
    {
        if (qEnvironmentVariable("TOLVANE_IN_NETNS") != QLatin1String("1"))
            QSKIP("an address is only added inside the loopback-only namespace "
                  "(scripts/netns-run.sh)");
        const QString ip = QStringLiteral("ip");
        QCOMPARE(
            QProcess::execute(ip, {"addr", "add", "10.213.7.1/24", "brd", "+", "dev", "lo"}), 0);
        const QString found = ZoUtils::findIpSameNetSegmentToIds(QStringLiteral("10.213.7.250"));
        const QString otherSegment
            = ZoUtils::findIpSameNetSegmentToIds(QStringLiteral("10.213.8.1"));
        QProcess::execute(ip, {"addr", "del", "10.213.7.1/24", "dev", "lo"});
        QCOMPARE(found, QStringLiteral("10.213.7.1"));
        QCOMPARE(otherSegment, QString());
    }
};

QTEST_GUILESS_MAIN(TstZoUtils)
#include "tst_zoutils.moc"
