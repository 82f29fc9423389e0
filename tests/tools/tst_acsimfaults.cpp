// The aircraft simulator's failure switches, observed to act at the exact
// block or device they name. That the program survives them (dropped and
// corrupted replies, a stall, a cut line) is the upgrade's test against it.

#include "AcSimRig.h"

#include "ZoSimTcpLink.h"

#include <QtTest>

namespace {

const QByteArray kKey = hexBytes("00112233445566778899AABBCCDDEEFF");
const QByteArray kEraseAck = hexBytes("EB 90 07 7F 58 81 21");

QByteArray coreKeyFrame()
{
    const uint8_t ver[4] = {80, 2, 20, 0};
    const uint8_t tm[7] = {0xE9, 0x07, 1, 1, 1, 1, 1};
    return bootRequest('!', keyPayload(kKey, firmwareHeader(1024, ver, tm)));
}

QByteArray coreBlock(int index)
{
    const QByteArray idx = QByteArray().append(char(index & 0xFF)).append(char(index >> 8));
    return bootRequest('1', idx + encrypt(kKey, testImage(128, index)));
}

// Block index of a core acknowledgement, -1 for anything else.
int ackIndex(const QByteArray &f)
{
    if (f.size() != 9 || uint8_t(f[5]) != 0x81 || f[6] != '1')
        return -1;
    return uint8_t(f[7]) | (uint8_t(f[8]) << 8);
}

// Sends blocks 0, 4, 8, ... and returns the acknowledged indices.
QList<int> sendBlocks(AcSimRig &rig, int count)
{
    QList<int> acked;
    for (int i = 0; i < count; ++i) {
        rig.send(coreBlock(i * 4));
        const int a = ackIndex(rig.take(80));
        if (a >= 0)
            acked << a;
    }
    return acked;
}

} // namespace

class tst_AcSimFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void blockFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("eraseAcked");
        QTest::addColumn<QList<int>>("acked");
        const QList<int> all {0, 4, 8, 12, 16};
        QTest::newRow("none") << QString() << true << all;
        QTest::newRow("drop every 2nd ack") << "drop-ack-every=2" << true << QList<int> {0, 8, 16};
        QTest::newRow("stall after 2 blocks")
            << "core:stall-after-blocks=2" << true << QList<int> {0, 4};
        QTest::newRow("stall after 0 blocks") << "stall-after-blocks=0" << true << QList<int> {};
        QTest::newRow("other device's fault") << "38:drop-ack-every=1" << true << all;
        // The erase itself does happen: the blocks are taken as usual.
        QTest::newRow("never ack erase") << "core:never-ack-erase" << false << all;
    }
    void blockFaults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, eraseAcked);
        ZoSimScenario sc = rigScenario();
        if (!fault.isEmpty())
            QVERIFY(sc.addFault(fault, nullptr));
        AcSimRig rig(sc);
        rig.send(appRequest(hexBytes("E1 08 00 00 00 00 00 00 00 00")) + coreKeyFrame());
        QCOMPARE(rig.take(eraseAcked ? 1000 : 150), eraseAcked ? kEraseAck : QByteArray());
        QTEST(sendBlocks(rig, 5), "acked");
        if (fault.contains(QLatin1String("stall-after-blocks=2"))) {
            // A new key frame starts a new transfer and the device answers again.
            rig.send(coreKeyFrame());
            QCOMPARE(rig.take(), kEraseAck);
            rig.send(coreBlock(0));
            QCOMPARE(ackIndex(rig.take()), 0);
        }
    }

    void latencyPerDevice()
    {
        ZoSimScenario sc = rigScenario();
        QVERIFY(sc.addFault(QStringLiteral("38.0:latency-ms=150"), nullptr));
        AcSimRig rig(sc);
        QElapsedTimer t;
        t.start();
        rig.send(canSend(0x80F0, hexBytes("26 10 FF FF 00 00 00 00")));
        rig.send(kVersionRequest);
        // The core is not delayed, so its reply overtakes the module's.
        QCOMPARE(rig.take(), kVersionReply);
        QVERIFY(t.elapsed() < 100);
        const QByteArray module = rig.take(1000);
        QCOMPARE(module, hexBytes("AB 0E 0E 5F 0A F1 00 26 10 34 12 03 01 00 00 6D 8A"));
        QVERIFY2(t.elapsed() >= 149, qPrintable(QString::number(t.elapsed())));
    }

    // The 6-byte key of bus kinds 3 and 4, and the fault that refuses it anyway.
    void refuseKey_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("coreEnters");
        QTest::addColumn<bool>("kind3Enters");
        QTest::addColumn<bool>("kind4Enters");
        const QByteArray key = hexBytes("6A 0C E3 51 97 4B");
        QTest::newRow("right key") << QString() << key << true << true << true;
        QTest::newRow("wrong key")
            << QString() << hexBytes("6A 0C E3 51 97 4C") << true << false << false;
        QTest::newRow("global") << "refuse-key" << key << false << false << false;
        QTest::newRow("one module") << "79.2:refuse-key" << key << true << false << true;
        QTest::newRow("by type") << "77:refuse-key=true" << key << true << true << false;
    }
    void refuseKey()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, key);
        QFETCH(bool, coreEnters);
        QFETCH(bool, kind3Enters);
        QFETCH(bool, kind4Enters);
        ZoSimScenario sc = rigScenario();
        if (!fault.isEmpty())
            QVERIFY(sc.addFault(fault, nullptr));
        AcSimRig rig(sc);
        rig.send(canSend(0x06F8, hexBytes("4F 02") + key));
        rig.send(busSend(0xFB, hexBytes("4D 01") + key));
        rig.send(appRequest(hexBytes("E1 08 00 00 00 00 00 00 00 00")));
        QCOMPARE(rig.aircraft->core()->inBootloader(), coreEnters);
        QCOMPARE(rig.aircraft->module(79, 2)->inBootloader(), kind3Enters);
        QCOMPARE(rig.aircraft->module(77, 1)->inBootloader(), kind4Enters);
        QCOMPARE(rig.eventsOf(QStringLiteral("refused")).size(),
            3 - coreEnters - kind3Enters - kind4Enters);
    }

    // A module an interrupted run left in its bootloader: silent to the version
    // query, it answers the force report with its stored type and version.
    void strandedModule_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("versionQuery");
        QTest::addColumn<QByteArray>("forceReport");
        QTest::addColumn<QByteArray>("reported");
        QTest::newRow("kind 2, bare 0x22")
            << "38.0:bootloader" << canSend(0x80F0, hexBytes("26 10 FF FF 00 00 00 00"))
            << canSend(0x06F1, hexBytes("22"))
            << hexBytes("81 22") + QByteArray(22, '\0') + hexBytes("26 03 01 00");
        QTest::newRow("kind 4, addressed 0x41")
            << "77:bootloader" << busSend(0xFA, hexBytes("4D FF"))
            << busSend(0xFC, hexBytes("4D 01 41 00 00 00 00 00"))
            << hexBytes("4D 01 41 04 4D 01 00 04");
    }
    void strandedModule()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, versionQuery);
        QFETCH(QByteArray, forceReport);
        QFETCH(QByteArray, reported);
        ZoSimScenario sc = rigScenario();
        QVERIFY(sc.addFault(fault, nullptr));
        AcSimRig rig(sc);
        rig.send(versionQuery);
        QCOMPARE(rig.take(50), QByteArray());
        rig.send(forceReport);
        const QByteArray report = rig.take();
        QVERIFY2(report.contains(reported), report.toHex(' ').constData());
    }

    // The line itself must stay on this machine. (Closing it mid-transfer, like
    // the other block faults, is driven through the upgrade against the program.)
    void tcpListensOnLoopbackOnly()
    {
        ZoSimEventLog log;
        log.setSilent(true);
        ZoSimAircraft aircraft(rigScenario(), &log);
        ZoSimTcpLink tcp(&aircraft, &log);
        QString error;
        QVERIFY(!tcp.listen(QHostAddress(QStringLiteral("10.0.0.1")), 0, &error));
        QVERIFY2(tcp.listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    }

    // The accepted forms are those the cases above use.
    void badFaultSpecs_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::newRow("unknown fault") << "explode=1";
        QTest::newRow("negative count") << "drop-ack-every=-1";
        QTest::newRow("unknown device") << "12.3:refuse-key";
    }
    void badFaultSpecs()
    {
        QFETCH(QString, flag);
        ZoSimScenario sc = rigScenario();
        QString error;
        QVERIFY(!sc.addFault(flag, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_AcSimFaults)
#include "tst_acsimfaults.moc"
