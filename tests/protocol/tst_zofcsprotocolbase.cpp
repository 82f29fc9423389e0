#include "ZoFcsProtocolBase.h"
#include "ZoProtocolTestUtil.h"

#include <QtTest>
#include <cstring>

class tst_ZoFcsProtocolBase : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void builders_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");

        // One of each shape: the fixed requests (D0, D1, E5) and the other
        // data-carrying commands (FE, 5C, 5D) are built like those here.
        static ZoFcsProtocolBase c;
        const QByteArray d3 = QByteArray::fromHex("a1b2c3");
        const QByteArray can = QByteArray::fromHex("f206ff4d10ffff");
        tdu1 n = 0;
        auto row = [&n](const char *name, const tdu1 *p, const char *hex) {
            QTest::newRow(name) << bytes(p, n) << QByteArray::fromHex(hex);
        };
        row("version request", c.makeVersionRequest(n), "e20100");
        row("compile time request", c.makeCompileTimeRequest(n), "e30100");
        row("enter bootloader", c.makeEnterBootloader(n), "e1080000000000000000");
        row("enter bootloader short", c.makeEnterBootloaderShort(n), "e100");
        row("identity request", c.makeIdentityRequest(n), "eb020000");
        row("EA", c.makeRequestEA(7, 9, n), "ea020709");
        row("92 without data", c.makeCommand92(0x33, nullptr, n), "9209330000000000000000");
        n = 3;
        row("92 with data", c.makeCommand92(0x33, u(d3), n), "920433a1b2c3");
        row("flag query", c.makeFlagQuery(2, 3, n), "200a23000000000000000000");
        n = 3;
        row("CA", c.makeCommandCA(u(d3), n), "ca03a1b2c3");
        row("E4", c.makeCommandE4(0x42, n), "e41042000000000000000000000000000000");
        row("DA", c.makeCommandDA(0x1234, n), "da023412");
        n = tdu1(can.size());
        row("CAN send", c.makeCanSend(u(can), n), "5b07f206ff4d10ffff");
        row("5E", c.makeCommand5E(5, n), "5e0105");
        n = 2;
        row("BUS send", c.makeBusSend(0xFA, u(QByteArray::fromHex("4d02")), n), "9b04a0fa4d02");
    }
    void builders()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built.toHex(), expected.toHex());
    }

    void busSendLimit()
    {
        ZoFcsProtocolBase c;
        const QByteArray data(249, char(0x5A));
        tdu1 n = 249;
        QVERIFY(!c.makeBusSend(0xFC, u(data), n));
        QCOMPARE(int(n), 0);
        n = 248;
        const tdu1 *p = c.makeBusSend(0xFC, u(data), n);
        QCOMPARE(int(n), 252);
        QCOMPARE(bytes(p, 4).toHex(), QByteArray("9bfaa0fc"));
        QCOMPARE(int(p[251]), 0x5A);
        // 252 bytes exceed what one frame carries (250): refused, not overrun.
        QVERIFY(!c.buildFrame(nullptr, 0, p, n));
    }

    void sequenceCounterIsProcessWide()
    {
        ZoFcsProtocolBase a;
        ZoFcsProtocolBase b;
        const tdu4 start = ZoFcsProtocolBase::sequenceCounter();
        tdu1 n = 0;
        const tdu1 *p = a.makeSequence(0x11, n);
        QCOMPARE(bytes(p, n), QByteArray::fromHex("1002") + char(start & 0xFF) + char(0x11));
        p = b.makeSequence(0, n);
        QCOMPARE(int(p[2]), int((start + 1) & 0xFF));
        for (int i = 0; i < 300; ++i)
            a.makeSequence(0, n);
        QCOMPARE(ZoFcsProtocolBase::sequenceCounter(), start + 302);
    }

    void parsers_data()
    {
        QTest::addColumn<QString>("parser");
        QTest::addColumn<QByteArray>("sub");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("decoded");

        auto row = [](const char *name, const char *parser, const char *hex, int result,
                       const char *decoded = "") {
            QTest::newRow(name) << QString::fromLatin1(parser) << QByteArray::fromHex(hex) << result
                                << QByteArray::fromHex(decoded);
        };
        row("version", "version", "e2042c010203", 0, "2c010203");
        row("version status 0", "version", "e20100", -2);
        row("version status 5", "version", "e20105", 5);
        row("version length 3", "version", "e203010203", -1);
        row("version wrong type", "version", "e3042c010203", -1);
        row("version cut off", "version", "e2042c01", -2);
        row("compile time", "time", "e307e9070c06151e3b", 0, "e9070c06151e3b");
        row("compile time status", "time", "e30109", 9);
        row("compile time length 6", "time", "e306e9070c06151e", -1);
        row("compile time cut off", "time", "e307e907", -2);
        row("identity", "identity", "eb0612ab34cd56ef", 0, "12ab34cd56ef00");
        row("identity status", "identity", "eb0103", 3);
        row("identity status 0 is no text", "identity", "eb0100", -2);
        row("identity empty", "identity", "eb00", 0, "00");
        row("identity cut off", "identity", "eb100102", -2);
        row("status", "status", "400103", 3);
        row("status wrong length", "status", "40020300", -2);
        row("status wrong type", "status", "410103", -1);
        row("flag count 10", "flagcount", "200a230001000200000003ff", 4, "230001000200000003ff");
        row("flag count 1", "flagcount", "200102", 512);
        row("flag count 3", "flagcount", "2003010203", -2);
        row("E5", "E5", "e510000102030405060708090a0b0c0d0e0f", 0,
            "000102030405060708090a0b0c0d0e0f");
        row("E5 15", "E5", "e50f000102030405060708090a0b0c0d0e", -2);
        row("CAN reply", "can", "5f0af1003102341201020305", 0, "f1003102341201020305");
        row("CAN reply one byte", "can", "5f01f1", -2);
        row("CAN reply cut off", "can", "5f08f100", -2);
        row("CAN wrong type", "can", "5e03f10000", -1);
    }
    void parsers()
    {
        QFETCH(QString, parser);
        QFETCH(QByteArray, sub);
        QFETCH(QByteArray, decoded);

        // Exactly the sub-message's bytes on the heap, so a parser that reads
        // past a cut-off sub-message is caught by the sanitizer build.
        std::unique_ptr<tdu1[]> exact(new tdu1[size_t(sub.size())]);
        std::memcpy(exact.get(), sub.constData(), size_t(sub.size()));
        const tdu1 *s = exact.get();
        const tdu2 avail = tdu2(sub.size());
        ZoFcsProtocolBase c;
        int r = 0x7FFF;
        QByteArray out;
        tdu1 buf[255] = {};
        if (parser == QLatin1String("version")) {
            tVersion v;
            if ((r = c.parseVersion(s, v, avail)) == 0)
                out = bytes(reinterpret_cast<const tdu1 *>(&v), 4);
        } else if (parser == QLatin1String("time")) {
            tFcsDateTime t;
            if ((r = c.parseCompileTime(s, t, avail)) == 0)
                out = bytes(reinterpret_cast<const tdu1 *>(&t), 7);
        } else if (parser == QLatin1String("identity")) {
            std::unique_ptr<tdu1[]> text;
            tdu1 len = 0;
            r = c.parseIdentity(s, text, len, avail);
            QCOMPARE(bool(text), r == 0); // decoded always comes with a text
            if (r == 0)
                out = bytes(text.get(), len + 1);
        } else if (parser == QLatin1String("status")) {
            r = c.parseStatus(s, 0x40, avail);
        } else if (parser == QLatin1String("flagcount")) {
            r = c.parseFlagQueryCount(s, buf, avail);
            if (sub.size() == 12)
                out = bytes(buf, 10);
        } else if (parser == QLatin1String("E5")) {
            if ((r = c.parseE5(s, buf, avail)) == 0)
                out = bytes(buf, 16);
        } else if (parser == QLatin1String("can")) {
            tdu2 id = 0;
            tdu2 len = 0;
            if ((r = c.parseCanReply(s, id, buf, len, avail)) == 0) {
                out = bytes(buf, len);
                QCOMPARE(int(id), int(tdu1(sub[2])) | (int(tdu1(sub[3])) << 8));
            }
        }
        QTEST(r, "result");
        QCOMPARE(out.toHex(), decoded.toHex());
    }
};

QTEST_GUILESS_MAIN(tst_ZoFcsProtocolBase)
#include "tst_zofcsprotocolbase.moc"
