#include "ZoUtils.h"

#include <QNetworkInterface>
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

    void classes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("protocolClass");
        QTest::addColumn<bool>("core");
        QTest::addColumn<bool>("secondGen");
        QTest::newRow("tunex") << 77 << 4 << false << false;
        QTest::newRow("hesk") << 79 << 3 << false << false;
        QTest::newRow("core 12") << 12 << 1 << true << false;
        QTest::newRow("emba2") << 80 << 1 << true << true;
        QTest::newRow("unknown") << 200 << 2 << false << false;
    }
    void classes()
    {
        QFETCH(int, code);
        QFETCH(int, protocolClass);
        QCOMPARE(ZoUtils::protocolClass(tdu1(code)), protocolClass);
        QTEST(ZoUtils::isCore(tdu1(code)), "core");
        QTEST(ZoUtils::isSecondGenerationCore(tdu1(code)), "secondGen");
    }

    void moduleList_data()
    {
        QTest::addColumn<int>("core");
        QTest::addColumn<QList<tdu1>>("tunex");
        QTest::addColumn<QList<tdu1>>("servo");
        QTest::addColumn<QList<tds4>>("ignored");
        QTest::addColumn<QList<tds4>>("expected");
        const QList<tds4> noIds;
        const QList<tdu1> none;
        const QList<tdu1> tunex {1, 2};
        const QList<tdu1> servo {3};
        const QList<tds4> emba2 {83, 46, 65, 92, 36, 37, 38, 57, 58, 79};
        QTest::newRow("emba2 nodes")
            << 80 << tunex << servo << noIds << emba2 + QList<tds4> {65613, 131149, 196694};
        QTest::newRow("emba2, node 2 ignored")
            << 80 << tunex << none << QList<tds4> {131149} << emba2 + QList<tds4> {65613};
        QTest::newRow("emba2 no nodes") << 81 << none << none << noIds << emba2 + QList<tds4> {77};
        QTest::newRow("arno2, 44 ignored") << 41 << none << none << QList<tds4> {44}
                                           << QList<tds4> {45, 46, 65, 92, 36, 37, 38, 57, 58, 79};
        QTest::newRow("first gen core") << 23 << tunex << servo << noIds << QList<tds4> {};
        QTest::newRow("in range not a family") << 60 << tunex << servo << noIds << QList<tds4> {};
    }
    void moduleList()
    {
        QFETCH(int, core);
        QFETCH(QList<tdu1>, tunex);
        QFETCH(QList<tdu1>, servo);
        QFETCH(QList<tds4>, ignored);
        ZoUtils *u = ZoUtils::instance();
        u->buildModuleList(99, {}, {}, {});
        u->buildModuleList(tdu1(core), tunex, servo, ignored);
        QTEST(u->moduleList(), "expected");
        u->clearModuleList();
        QVERIFY(u->moduleList().isEmpty());
    }

    void ipToUInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("value");
        // The dotted-address reader has its own table.
        QTest::newRow("plain") << "192.168.0.5" << true << 0xC0A80005u;
        QTest::newRow("three parts") << "192.168.1" << false << 0u;
    }
    void ipToUInt()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        bool got = !ok;
        QTEST(uint(ZoUtils::ipToUInt(text, &got)), "value");
        QCOMPARE(got, ok);
    }

    void sameSegment_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << QString();
        QTest::newRow("two parts") << QStringLiteral("10.1");
        QTest::newRow("loopback is never offered") << QStringLiteral("127.0.0.9");
    }
    void sameSegment()
    {
        QFETCH(QString, address);
        QCOMPARE(ZoUtils::findIpSameNetSegmentToIds(address), QString());
    }

    void sameSegmentFindsLocalInterface()
    {
        // Whatever broadcast-capable IPv4 address this machine has must be
        // found from any address of its /24.
        for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &e : iface.addressEntries()) {
                if (e.ip().protocol() != QAbstractSocket::IPv4Protocol || e.broadcast().isNull()
                    || e.ip().toString() == QLatin1String("127.0.0.1"))
                    continue;
                QStringList parts = e.ip().toString().split(QLatin1Char('.'));
                parts[3] = QStringLiteral("250");
                QVERIFY(
                    !ZoUtils::findIpSameNetSegmentToIds(parts.join(QLatin1Char('.'))).isEmpty());
                return;
            }
        }
        QSKIP("no broadcast-capable IPv4 interface here (private namespace holds only loopback)");
    }
};

QTEST_GUILESS_MAIN(TstZoUtils)
#include "tst_zoutils.moc"
