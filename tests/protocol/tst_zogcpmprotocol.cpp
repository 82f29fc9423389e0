#include "ZoGcpmProtocol.h"
#include "ZoProtocolTestUtil.h"

#include <QtTest>

class TstZoGcpmProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void frames_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("frame");
        // CRC-16/XMODEM worked out by hand over AB EF 03 xx.
        QTest::newRow("poll") << 0x05 << QByteArray::fromHex("abef03059f7d");
        QTest::newRow("poll 01") << 0x01 << QByteArray::fromHex("abef03011b3d");
        QTest::newRow("poll 06") << 0x06 << QByteArray::fromHex("abef0306fc4d");
    }
    void frames()
    {
        QFETCH(int, command);
        QFETCH(QByteArray, frame);
        ZoGcpmProtocol p;
        tdu1 len = 0;
        const tdu1 *cmd = command == 5 ? p.makePoll(len)
            : command == 1             ? p.makePoll01(len)
                                       : p.makePoll06(len);
        QCOMPARE(int(len), 1);
        QCOMPARE(int(cmd[0]), command);
        tdu2 flen = len;
        const tdu1 *f = p.buildFrame(cmd, flen);
        QCOMPARE(bytes(f, flen), frame);
        QVERIFY(p.checkCrc(f, tdu1(flen)));
        QVERIFY(p.isHeader(f));
        QCOMPARE(int(p.frameLength(f)), frame.size());
    }

    void announce()
    {
        ZoGcpmProtocol p;
        // 192.168.0.5 little-endian, port 8050 little-endian.
        const tdu1 args[6] = {0x05, 0x00, 0xA8, 0xC0, 0x72, 0x1F};
        tdu1 len = 6;
        const tdu1 *cmd = p.makeAnnounce(args, len);
        QVERIFY(cmd);
        QCOMPARE(int(len), 7);
        tdu2 flen = len;
        const tdu1 *f = p.buildFrame(cmd, flen);
        QCOMPARE(int(flen), 12);
        QCOMPARE(bytes(f, 10), QByteArray::fromHex("abef09030500a8c0721f"));
        QCOMPARE(ZoGcpmProtocol::crc16(f, 10), tdu2(f[10] | (f[11] << 8)));
        QVERIFY(p.checkCrc(f, 12));
        tdu1 broken[12];
        memcpy(broken, f, 12);
        broken[5] ^= 1;
        QVERIFY(!p.checkCrc(broken, 12));
    }

    void refused_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("nullArgs");
        QTest::newRow("five") << 5 << false;
        QTest::newRow("seven") << 7 << false;
        QTest::newRow("null") << 6 << true;
    }
    void refused()
    {
        QFETCH(int, length);
        QFETCH(bool, nullArgs);
        ZoGcpmProtocol p;
        const tdu1 args[8] = {};
        tdu1 len = tdu1(length);
        QVERIFY(!p.makeAnnounce(nullArgs ? nullptr : args, len));
    }

    void endpointFromEnvironment()
    {
        qunsetenv("TOLVANE_GCPM_HOST");
        qunsetenv("TOLVANE_GCPM_PORT");
        ZoGcpmTarget d = ZoGcpmTarget::fromEnvironment();
        QCOMPARE(d.address, QStringLiteral("192.168.0.100"));
        QCOMPARE(int(d.port), 8000);
        qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
        qputenv("TOLVANE_GCPM_PORT", "4321");
        d = ZoGcpmTarget::fromEnvironment();
        QCOMPARE(d.address, QStringLiteral("127.0.0.1"));
        QCOMPARE(int(d.port), 4321);
        qputenv("TOLVANE_GCPM_PORT", "70000");
        QCOMPARE(int(ZoGcpmTarget::fromEnvironment().port), 8000);
        qputenv("TOLVANE_GCPM_PORT", "1");
    }
};

QTEST_GUILESS_MAIN(TstZoGcpmProtocol)
#include "tst_zogcpmprotocol.moc"
