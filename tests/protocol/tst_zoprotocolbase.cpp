#include "ZoFcsProtocolBase.h"
#include "ZoProtocolTestUtil.h"

#include <QtTest>
#include <atomic>
#include <cstring>
#include <thread>

class tst_ZoProtocolBase : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void crcKnownValues_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("crc");
        QTest::newRow("check string") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("empty") << QByteArray() << 0xFFFF;
        QTest::newRow("version request frame")
            << QByteArray::fromHex("ab0e0910020500e20100") << 0xEFF6;
    }
    void crcKnownValues()
    {
        QFETCH(QByteArray, data);
        QTEST(int(ZoProtocolBase::crc16(u(data), tdu2(data.size()))), "crc");
    }

    void crcMatchesBitwiseForEveryLength()
    {
        QByteArray data(300, 0);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char((i * 131 + 7) ^ (i >> 3));
        for (int n = 0; n <= data.size(); ++n)
            QCOMPARE(ZoProtocolBase::crc16(u(data), tdu2(n)), referenceCrc(data.left(n)));
    }

    void feed_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("left");
        auto row
            = [](const char *name, const QList<QByteArray> &chunks, const QStringList &expected,
                  int left = 0) { QTest::newRow(name) << chunks << expected << left; };

        const QByteArray version = QByteArray::fromHex("ab0e0910020500e20100f6ef");
        const QByteArray reply = QByteArray::fromHex("ab0e08e2042c01020377f8");
        const QByteArray empty = QByteArray::fromHex("ab0e028581");

        // How frames are cut from any stream is the cutter's test; these show
        // this protocol's header, length bias and CRC check set up on it.
        row("two in one chunk", {version + reply}, {good(version), good(reply)});
        row("empty body", {empty}, {good(empty)});
        row("trailing bytes wait", {reply + reply.left(4)}, {good(reply)}, 4);
        QByteArray corrupt = reply;
        corrupt[5] = char(corrupt[5] ^ 0x40);
        row("bad crc then good", {corrupt + reply}, {bad(corrupt), good(reply)});
        row("257-byte frame is not held", {QByteArray::fromHex("ab0efe") + reply}, {good(reply)});
        row("257-byte chunk is dropped with the accumulator",
            {reply.left(3), QByteArray(257, 'z'), reply}, {good(reply)});
        const QByteArray full = appFrame(QByteArray(251, char(0x11))); // length byte 253: 256 bytes
        row("256-byte frame in two chunks", {full.left(100), full.mid(100)}, {good(full)});
    }
    void feed()
    {
        QFETCH(QList<QByteArray>, chunks);
        ZoFcsProtocolBase codec;
        ZoTestFrames rec;
        codec.setReceiver(&rec);
        for (const QByteArray &c : chunks)
            codec.feed(u(c), c.size());
        QTEST(rec.events, "expected");
        QTEST(codec.bufferedCount(), "left");
    }

    void ringWrapsAfterTenFrames()
    {
        ZoFcsProtocolBase codec;
        ZoTestFrames rec;
        codec.setReceiver(&rec);
        const QByteArray f = appFrame(QByteArray::fromHex("e20100"));
        const QByteArray tenFrames = f.repeated(10);
        codec.feed(u(tenFrames), 37);
        codec.feed(u(tenFrames) + 37, tenFrames.size() - 37);
        QCOMPARE(rec.events.size(), 10);
        QCOMPARE(rec.events.count(good(f)), 10);
        // Ten different slots, and the ring is back where it started.
        QCOMPARE(QSet<const tdu1 *>(rec.pointers.begin(), rec.pointers.end()).size(), 10);
        QCOMPARE(codec.currentSlot(), rec.pointers[0]);
    }

    void walkers_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("count");
        // Offset and reported data length of each sub-message subMessageOf finds.
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<QList<int>>("lengths");

        const auto row = [](const char *name, const QByteArray &frame, int count,
                             const QList<int> &offsets, const QList<int> &lengths) {
            QTest::newRow(name) << frame << count << offsets << lengths;
        };
        const auto body = [](const char *h) { return appFrame(QByteArray::fromHex(h)); };
        row("empty body", body(""), 1, {3}, {0});
        row("sequence + version", body("10020500e20100"), 2, {3, 7}, {2, 1});
        row("three, one empty", body("0100e2020a0bbb0107"), 3, {3, 5, 9}, {0, 2, 1});
        row("rest of two bytes is not counted", body("e20100aaaa"), 1, {3, 6}, {1, 0});
        // Claims 200 data bytes: counted and found, but only the 2 bytes the
        // frame holds are reported.
        row("length byte beyond the body", body("e20100ebc80102"), 2, {3, 6}, {1, 2});
        row("first sub-message longer than the body", body("e2ff01"), 1, {3}, {1});
        row("length byte below 2", QByteArray::fromHex("ab0e01ffff"), 0, {}, {});
    }
    void walkers()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QList<int>, offsets);
        QFETCH(QList<int>, lengths);

        // Exactly the frame's bytes on the heap: the sanitizer build catches any
        // read past them.
        std::unique_ptr<tdu1[]> exact(new tdu1[size_t(frame.size())]);
        std::memcpy(exact.get(), frame.constData(), size_t(frame.size()));
        const tdu1 *f = exact.get();
        const tdu2 avail = tdu2(frame.size());

        QTEST(int(ZoProtocolBase::subMessageCountOf(f, avail)), "count");
        for (int i = 0; i <= offsets.size(); ++i) {
            tdu1 len = 0xAA;
            const tdu1 *sub = ZoProtocolBase::subMessageOf(f, tdu1(i), len, avail);
            if (i == offsets.size()) {
                QVERIFY(!sub);
                break;
            }
            QVERIFY(sub);
            QCOMPARE(int(sub - f), offsets[i]);
            QCOMPARE(int(len), lengths[i]);
        }
    }

    void buildFrameBytes()
    {
        ZoFcsProtocolBase codec;
        const QByteArray seq = QByteArray::fromHex("10020500");
        tdu1 len = 0;
        const tdu1 *cmd = codec.makeVersionRequest(len);
        const tdu1 *frame = codec.buildFrame(u(seq), tdu1(seq.size()), cmd, len);
        QCOMPARE(bytes(frame, len).toHex(), QByteArray("ab0e0910020500e20100f6ef"));
        QCOMPARE(int(codec.subMessageCount(true)), 2);
        QCOMPARE(int(codec.subMessageAt(1, true) - frame), 7);
        QVERIFY(!codec.subMessageAt(2, true));

        const QByteArray payload = QByteArray::fromHex("2c010203");
        len = tdu1(payload.size());
        frame = codec.buildFrame(0x0EAB, 0xE2, u(payload), len);
        QCOMPARE(bytes(frame, len).toHex(), QByteArray("ab0e08e2042c01020377f8"));

        len = 0;
        frame = codec.buildFrame(nullptr, 0, nullptr, len);
        QCOMPARE(bytes(frame, len).toHex(), QByteArray("ab0e028581"));

        // Address prefix then sequence, joined as the looper does.
        const QByteArray address = QByteArray::fromHex("00087856341200000000");
        tdu1 b = tdu1(seq.size());
        const tdu1 *joined = codec.concat(u(address), address.size(), u(seq), b);
        QCOMPARE(bytes(joined, b), address + seq);
        b = 2;
        const tdu1 *sub
            = codec.makeSubMessage(0x9B, u(QByteArray::fromHex("a0fc")), 2, u(payload), b);
        QCOMPARE(bytes(sub, b).toHex(), QByteArray("9b04a0fc2c01"));

        // A frame never exceeds 255 bytes: larger requests are refused.
        const QByteArray body(250, char(1));
        len = 250;
        QVERIFY(codec.buildFrame(nullptr, 0, u(body), len));
        QCOMPARE(int(len), 255);
        len = 248;
        QVERIFY(!codec.buildFrame(u(body), 3, u(body), len));
        QCOMPARE(int(len), 0);
        len = 249;
        QVERIFY(!codec.buildFrame(0x0EAB, 1, u(body), len));
        len = 254;
        QVERIFY(!codec.makeSubMessage(1, u(body), len));
        len = 5;
        QVERIFY(!codec.concat(u(body), 251, u(body), len));
    }

    void buildersAreSafeWithSharedAndConcurrentUse()
    {
        ZoFcsProtocolBase codec;
        // A builder's input may be the scratch buffer it writes to.
        tdu1 len = 0;
        const tdu1 *seq = codec.makeSequence(0, len);
        const QByteArray before = bytes(seq, len);
        const tdu1 *wrapped = codec.makeSubMessage(0x5B, seq, len);
        QCOMPARE(bytes(wrapped, len).toHex(), (QByteArray::fromHex("5b04") + before).toHex());

        // The GUI thread builds commands while the looper frames others; neither
        // may see the other's bytes.
        std::atomic<int> mismatches {0};
        auto gui = [&] {
            for (int i = 0; i < 20000; ++i) {
                tdu1 n = 0;
                const tdu1 *p = codec.makeFlagQuery(tdu1(i & 0xF), 3, n);
                if (n != 12 || p[0] != 0x20 || p[2] != tdu1((i & 0xF) * 16 + 3))
                    ++mismatches;
            }
        };
        auto worker = [&] {
            const QByteArray s = QByteArray::fromHex("10020100");
            for (int i = 0; i < 20000; ++i) {
                tdu1 b = tdu1(s.size());
                const tdu1 *prefix = codec.concat(u(s), 0, u(s), b);
                tdu1 n = 0;
                const tdu1 *cmd = codec.makeVersionRequest(n);
                const tdu1 *f = codec.buildFrame(prefix, b, cmd, n);
                if (!f || n != 12 || f[7] != 0xE2 || !codec.checkCrc(f, n))
                    ++mismatches;
            }
        };
        std::thread t1(gui);
        std::thread t2(worker);
        t1.join();
        t2.join();
        QCOMPARE(mismatches.load(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ZoProtocolBase)
#include "tst_zoprotocolbase.moc"
