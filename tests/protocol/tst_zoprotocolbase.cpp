#include "ZoFcsProtocolBase.h"

#include <QtTest>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

struct Recorder : IReceivePackage
{
    QStringList events;
    QList<const tdu1 *> pointers;
    void onPackage(const tdu1 *frame, tdu2 length) override
    {
        events << QStringLiteral("G:")
                + QString::fromLatin1(
                    QByteArray(reinterpret_cast<const char *>(frame), length).toHex());
        pointers << frame;
    }
    void onBadPackage(const tdu1 *frame, tdu2 length) override
    {
        events << QStringLiteral("B:")
                + QString::fromLatin1(
                    QByteArray(reinterpret_cast<const char *>(frame), length).toHex());
        pointers << frame;
    }
};

// Bit-at-a-time CRC-16/MODBUS, the way the algorithm is written down.
tdu2 referenceCrc(const QByteArray &b)
{
    tdu2 crc = 0xFFFF;
    for (char ch : b) {
        crc ^= tdu1(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? tdu2((crc >> 1) ^ 0xA001) : tdu2(crc >> 1);
    }
    return crc;
}

QByteArray frameOf(const QByteArray &body)
{
    QByteArray f = QByteArray::fromHex("ab0e");
    f.append(char(body.size() + 2));
    f.append(body);
    const tdu2 crc = referenceCrc(f);
    f.append(char(crc & 0xFF));
    f.append(char(crc >> 8));
    return f;
}

QString good(const QByteArray &frame)
{
    return QStringLiteral("G:") + QString::fromLatin1(frame.toHex());
}
QString bad(const QByteArray &frame)
{
    return QStringLiteral("B:") + QString::fromLatin1(frame.toHex());
}

const tdu1 *u(const QByteArray &b)
{
    return reinterpret_cast<const tdu1 *>(b.constData());
}

} // namespace

class tst_ZoProtocolBase : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void crcKnownValues_data();
    void crcKnownValues();
    void crcMatchesBitwiseForEveryLength();
    void feed_data();
    void feed();
    void splitAtEveryPosition();
    void accumulatorStaysBoundedOnNoise();
    void ringWrapsAfterTenFrames();
    void walkers_data();
    void walkers();
    void buildFrameBytes();
    void buildersRefuseOversize();
    void buildersAcceptTheirOwnScratchAsInput();
    void buildersArePerThread();
    void markCurrentSlot();
    void assignCarriesAHalfFrame();
};

void tst_ZoProtocolBase::crcKnownValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crc");
    QTest::newRow("check string") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("empty") << QByteArray() << 0xFFFF;
    QTest::newRow("version request frame") << QByteArray::fromHex("ab0e0910020500e20100") << 0xEFF6;
    QTest::newRow("empty frame") << QByteArray::fromHex("ab0e02") << 0x8185;
    QByteArray all(256, 0);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QTest::newRow("256 bytes 00..ff") << all << 0xDE6C;
    QTest::newRow("256 bytes ff") << QByteArray(256, char(0xFF)) << 0x30FF;
}

void tst_ZoProtocolBase::crcKnownValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crc);
    QCOMPARE(int(ZoProtocolBase::crc16(u(data), tdu2(data.size()))), crc);
}

void tst_ZoProtocolBase::crcMatchesBitwiseForEveryLength()
{
    QByteArray data(300, 0);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + 7) ^ (i >> 3));
    for (int n = 0; n <= data.size(); ++n)
        QCOMPARE(ZoProtocolBase::crc16(u(data), tdu2(n)), referenceCrc(data.left(n)));
}

void tst_ZoProtocolBase::feed_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("left");

    const QByteArray version = QByteArray::fromHex("ab0e0910020500e20100f6ef");
    const QByteArray reply = QByteArray::fromHex("ab0e08e2042c01020377f8");
    const QByteArray empty = QByteArray::fromHex("ab0e028581");

    QTest::newRow("one frame") << QList<QByteArray> {version} << QStringList {good(version)} << 0;
    QList<QByteArray> bytes;
    for (char c : version)
        bytes << QByteArray(1, c);
    QTest::newRow("byte by byte") << bytes << QStringList {good(version)} << 0;
    QTest::newRow("two in one chunk")
        << QList<QByteArray> {version + reply} << QStringList {good(version), good(reply)} << 0;
    QTest::newRow("garbage before header")
        << QList<QByteArray> {QByteArray::fromHex("00ff0eab") + reply} << QStringList {good(reply)}
        << 0;
    QTest::newRow("header split over two chunks, no header in the first")
        << QList<QByteArray> {QByteArray::fromHex("1234ab"), reply.mid(1)}
        << QStringList {good(reply)} << 0;
    QTest::newRow("empty body") << QList<QByteArray> {empty} << QStringList {good(empty)} << 0;
    QTest::newRow("trailing bytes wait")
        << QList<QByteArray> {reply + reply.left(4)} << QStringList {good(reply)} << 4;

    // A frame whose CRC is wrong and that hides a complete frame after its
    // header: the rejected frame costs two bytes, the inner one is found.
    QByteArray outer = QByteArray::fromHex("ab0e") + char(reply.size() + 2) + reply + "xx";
    QTest::newRow("bad crc hides a good frame")
        << QList<QByteArray> {outer} << QStringList {bad(outer), good(reply)} << 1;
    QByteArray corrupt = reply;
    corrupt[5] = char(corrupt[5] ^ 0x40);
    QTest::newRow("bad crc then good")
        << QList<QByteArray> {corrupt + reply} << QStringList {bad(corrupt), good(reply)} << 0;
    QTest::newRow("length 0 header is skipped") << QList<QByteArray> {QByteArray::fromHex("ab0e00"),
        reply} << QStringList {good(reply)} << 0;
    QTest::newRow("length 1 header is skipped")
        << QList<QByteArray> {QByteArray::fromHex("ab0e01") + reply} << QStringList {good(reply)}
        << 0;
    QTest::newRow("257-byte frame is not held")
        << QList<QByteArray> {QByteArray::fromHex("ab0efe") + reply} << QStringList {good(reply)}
        << 0;
    QTest::newRow("258-byte frame is not held") << QList<QByteArray> {QByteArray::fromHex("ab0eff"),
        reply} << QStringList {good(reply)} << 0;
    QTest::newRow("257-byte chunk is dropped whole")
        << QList<QByteArray> {reply.left(3), QByteArray(257, 'z'), reply}
        << QStringList {good(reply)} << 0;

    QByteArray big(250, 0);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i);
    big[0] = char(0x5B);
    big[1] = char(248);
    const QByteArray longest = frameOf(big); // 255 bytes, length byte 252
    QTest::newRow("255-byte frame, split 200 + 55")
        << QList<QByteArray> {longest.left(200), longest.mid(200)} << QStringList {good(longest)}
        << 0;
    const QByteArray full = frameOf(QByteArray(251, char(0x11))); // length byte 253: 256 bytes
    QTest::newRow("256-byte frame")
        << QList<QByteArray> {full.left(100), full.mid(100)} << QStringList {good(full)} << 0;
}

void tst_ZoProtocolBase::feed()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, expected);
    QFETCH(int, left);
    ZoFcsProtocolBase codec;
    Recorder rec;
    codec.setReceiver(&rec);
    for (const QByteArray &c : chunks)
        codec.feed(u(c), c.size());
    QCOMPARE(rec.events, expected);
    QCOMPARE(codec.bufferedCount(), left);
}

// Every possible cut of a stream of three frames delivers the same three.
void tst_ZoProtocolBase::splitAtEveryPosition()
{
    const QByteArray a = frameOf(QByteArray::fromHex("e20401020304"));
    const QByteArray b = frameOf(QByteArray::fromHex("100205000e0101"));
    const QByteArray c = frameOf(QByteArray::fromHex("abab0e0e"));
    const QByteArray stream = QByteArray("\x0e\xab\x01", 3) + a + b + c;
    for (int i = 0; i <= stream.size(); ++i) {
        for (int j = i; j <= stream.size(); j += 3) {
            ZoFcsProtocolBase codec;
            Recorder rec;
            codec.setReceiver(&rec);
            const QByteArray parts[3] = {stream.left(i), stream.mid(i, j - i), stream.mid(j)};
            for (const QByteArray &p : parts)
                codec.feed(u(p), p.size());
            QCOMPARE(rec.events, QStringList({good(a), good(b), good(c)}));
        }
    }
}

void tst_ZoProtocolBase::accumulatorStaysBoundedOnNoise()
{
    ZoFcsProtocolBase codec;
    Recorder rec;
    codec.setReceiver(&rec);
    // Headers that keep claiming long frames, and no CRC that ever matches:
    // the codec must keep discarding and never hold more than a frame.
    QByteArray noise;
    for (int i = 0; i < 256; ++i)
        noise.append(char(i % 3 == 0 ? 0xAB : i % 3 == 1 ? 0x0E : 0xF0 + i % 16));
    for (int round = 0; round < 200; ++round) {
        codec.feed(u(noise), noise.size());
        QVERIFY(codec.bufferedCount() <= ZoProtocolBase::MaxChunk);
    }
    const QByteArray f = frameOf(QByteArray::fromHex("e20401020304"));
    rec.events.clear();
    // Flush whatever partial header is pending with bytes that start none.
    const QByteArray flush(256, char(0x55));
    for (int i = 0; i < 3; ++i)
        codec.feed(u(flush), flush.size());
    codec.feed(u(f), f.size());
    QCOMPARE(rec.events.last(), good(f));
}

void tst_ZoProtocolBase::ringWrapsAfterTenFrames()
{
    ZoFcsProtocolBase codec;
    Recorder rec;
    codec.setReceiver(&rec);
    const QByteArray f = frameOf(QByteArray::fromHex("e20100"));
    QByteArray twoFrames = f + f;
    for (int i = 0; i < 5; ++i)
        codec.feed(u(twoFrames), twoFrames.size());
    QCOMPARE(rec.pointers.size(), 10);
    QCOMPARE(int(codec.slotIndex()), 0);
    for (int i = 1; i < 10; ++i)
        QCOMPARE(rec.pointers[i] - rec.pointers[i - 1], ptrdiff_t(ZoProtocolBase::SlotSize));
    QCOMPARE(codec.currentSlot(), rec.pointers[0]);
}

void tst_ZoProtocolBase::walkers_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("count");
    // Offset and reported data length of each sub-message subMessageOf finds.
    QTest::addColumn<QList<int>>("offsets");
    QTest::addColumn<QList<int>>("lengths");

    QTest::newRow("empty body") << frameOf({}) << 1 << QList<int> {3} << QList<int> {0};
    QTest::newRow("one") << frameOf(QByteArray::fromHex("e20100")) << 1 << QList<int> {3}
                         << QList<int> {1};
    QTest::newRow("sequence + version") << frameOf(QByteArray::fromHex("10020500e20100")) << 2
                                        << QList<int> {3, 7} << QList<int> {2, 1};
    QTest::newRow("three, one empty") << frameOf(QByteArray::fromHex("0100e2020a0bbb0107")) << 3
                                      << QList<int> {3, 5, 9} << QList<int> {0, 2, 1};
    QTest::newRow("rest of two bytes is not counted")
        << frameOf(QByteArray::fromHex("e20100aaaa")) << 1 << QList<int> {3, 6}
        << QList<int> {1, 0};
    // The second sub-message claims 200 data bytes; it is counted and found,
    // but only the 2 bytes the frame holds are reported.
    QTest::newRow("length byte beyond the body") << frameOf(QByteArray::fromHex("e20100ebc80102"))
                                                 << 2 << QList<int> {3, 6} << QList<int> {1, 2};
    QTest::newRow("first sub-message longer than the body")
        << frameOf(QByteArray::fromHex("e2ff01")) << 1 << QList<int> {3} << QList<int> {1};
    QTest::newRow("length byte below 2")
        << QByteArray::fromHex("ab0e01ffff") << 0 << QList<int> {} << QList<int> {};
}

void tst_ZoProtocolBase::walkers()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, count);
    QFETCH(QList<int>, offsets);
    QFETCH(QList<int>, lengths);

    // Exactly the frame's bytes on the heap, so a read past it is caught by
    // the sanitizer build.
    std::unique_ptr<tdu1[]> exact(new tdu1[size_t(frame.size())]);
    std::memcpy(exact.get(), frame.constData(), size_t(frame.size()));
    const tdu1 *f = exact.get();
    const tdu2 avail = tdu2(frame.size());

    QCOMPARE(int(ZoProtocolBase::subMessageCountOf(f, avail)), count);
    for (int i = 0; i < offsets.size(); ++i) {
        tdu1 len = 0xAA;
        const tdu1 *sub = ZoProtocolBase::subMessageOf(f, tdu1(i), len, avail);
        QVERIFY2(sub, qPrintable(QStringLiteral("index %1").arg(i)));
        QCOMPARE(int(sub - f), offsets[i]);
        QCOMPARE(int(len), lengths[i]);
        QVERIFY(sub + 2 + len <= f + frame.size());
    }
    tdu1 len = 0;
    QVERIFY(!ZoProtocolBase::subMessageOf(f, tdu1(offsets.size()), len, avail));

    // The codec's own walker over a received frame agrees on count and starts.
    ZoFcsProtocolBase codec;
    Recorder rec;
    codec.setReceiver(&rec);
    if (count > 0) {
        codec.feed(f, frame.size());
        QCOMPARE(rec.pointers.size(), 1);
        // Step back onto the slot that holds the frame.
        for (int i = 0; i < ZoProtocolBase::SlotCount - 1; ++i) {
            const QByteArray pad = frameOf({});
            codec.feed(u(pad), pad.size());
        }
        QCOMPARE(codec.currentSlot(), rec.pointers[0]);
        QCOMPARE(int(codec.subMessageCount(false)), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(int(codec.subMessageAt(tdu1(i), false) - codec.currentSlot()), offsets[i]);
        QVERIFY(!codec.subMessageAt(tdu1(count), false));
        QCOMPARE(int(codec.frameLength(false)), frame.size());
        QCOMPARE(int(codec.dataLength(false)), frame.size() - 5);
    }
}

void tst_ZoProtocolBase::buildFrameBytes()
{
    ZoFcsProtocolBase codec;
    const QByteArray seq = QByteArray::fromHex("10020500");
    tdu1 len = 0;
    const tdu1 *cmd = codec.makeVersionRequest(len);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(cmd), len), QByteArray::fromHex("e20100"));
    const tdu1 *frame = codec.buildFrame(u(seq), tdu1(seq.size()), cmd, len);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame), len),
        QByteArray::fromHex("ab0e0910020500e20100f6ef"));
    QCOMPARE(int(codec.subMessageCount(true)), 2);
    QCOMPARE(int(codec.subMessageAt(1, true) - frame), 7);

    const QByteArray payload = QByteArray::fromHex("2c010203");
    len = tdu1(payload.size());
    frame = codec.buildFrame(0x0EAB, 0xE2, u(payload), len);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame), len),
        QByteArray::fromHex("ab0e08e2042c01020377f8"));
    QCOMPARE(int(codec.header()), 0x0EAB);

    len = 0;
    frame = codec.buildFrame(nullptr, 0, nullptr, len);
    QCOMPARE(
        QByteArray(reinterpret_cast<const char *>(frame), len), QByteArray::fromHex("ab0e028581"));

    // concat: address prefix then sequence, as the looper joins them.
    const QByteArray address = QByteArray::fromHex("00087856341200000000");
    tdu1 b = tdu1(seq.size());
    const tdu1 *joined = codec.concat(u(address), address.size(), u(seq), b);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(joined), b), address + seq);

    const QByteArray a2 = QByteArray::fromHex("a0fc");
    const QByteArray d2 = QByteArray::fromHex("0102");
    b = 2;
    const tdu1 *sub = codec.makeSubMessage(0x9B, u(a2), 2, u(d2), b);
    QCOMPARE(
        QByteArray(reinterpret_cast<const char *>(sub), b), QByteArray::fromHex("9b04a0fc0102"));
    sub = codec.makeSubMessage(0x10, b);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(sub), b), QByteArray::fromHex("1000"));
    sub = codec.makeSubMessage(0x10, tdu1(7), b);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(sub), b), QByteArray::fromHex("100107"));
}

void tst_ZoProtocolBase::buildersRefuseOversize()
{
    ZoFcsProtocolBase codec;
    const QByteArray body(250, char(1));
    tdu1 len = 250;
    QVERIFY(codec.buildFrame(nullptr, 0, u(body), len));
    QCOMPARE(int(len), 255);
    len = 248;
    QVERIFY(!codec.buildFrame(u(body), 3, u(body), len));
    QCOMPARE(int(len), 0);
    len = 249;
    QVERIFY(!codec.buildFrame(0x0EAB, 1, u(body), len));
    len = 248;
    QVERIFY(codec.buildFrame(0x0EAB, 1, u(body), len));
    QCOMPARE(int(len), 255);
    len = 254;
    QVERIFY(!codec.makeSubMessage(1, u(body), len));
    len = 5;
    QVERIFY(!codec.concat(u(body), 251, u(body), len));
}

void tst_ZoProtocolBase::buildersAcceptTheirOwnScratchAsInput()
{
    ZoFcsProtocolBase codec;
    tdu1 len = 0;
    const tdu1 *seq = codec.makeSequence(0, len);
    const QByteArray before(reinterpret_cast<const char *>(seq), len);
    tdu1 n = len;
    const tdu1 *wrapped = codec.makeSubMessage(0x5B, seq, n);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(wrapped), n),
        QByteArray::fromHex("5b04") + before);
    const QByteArray tail = QByteArray::fromHex("e20100");
    tdu1 t = tdu1(tail.size());
    const tdu1 *joined = codec.concat(wrapped, n, u(tail), t);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(joined), t),
        QByteArray::fromHex("5b04") + before + tail);
}

// The GUI thread builds commands while the looper frames others; neither may
// see the other's bytes.
void tst_ZoProtocolBase::buildersArePerThread()
{
    ZoFcsProtocolBase codec;
    std::atomic<int> mismatches {0};
    std::atomic<bool> go {false};
    auto gui = [&] {
        while (!go.load()) { }
        for (int i = 0; i < 20000; ++i) {
            tdu1 len = 0;
            const tdu1 *p = codec.makeFlagQuery(tdu1(i & 0xF), 3, len);
            if (len != 12 || p[0] != 0x20 || p[2] != tdu1((i & 0xF) * 16 + 3))
                ++mismatches;
        }
    };
    auto worker = [&] {
        while (!go.load()) { }
        const QByteArray seq = QByteArray::fromHex("10020100");
        for (int i = 0; i < 20000; ++i) {
            tdu1 b = tdu1(seq.size());
            const tdu1 *prefix = codec.concat(u(seq), 0, u(seq), b);
            tdu1 cmdLen = 0;
            const tdu1 *cmd = codec.makeVersionRequest(cmdLen);
            const tdu1 *f = codec.buildFrame(prefix, b, cmd, cmdLen);
            if (!f || cmdLen != 12 || f[7] != 0xE2 || !codec.checkCrc(f, cmdLen))
                ++mismatches;
        }
    };
    std::thread t1(gui);
    std::thread t2(worker);
    go = true;
    t1.join();
    t2.join();
    QCOMPARE(mismatches.load(), 0);
}

void tst_ZoProtocolBase::markCurrentSlot()
{
    ZoFcsProtocolBase codec;
    std::memset(codec.currentSlot(), 0x77, ZoProtocolBase::SlotSize);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    codec.markCurrentSlot(true, 10);
    const tdu1 *s = codec.currentSlot();
    QCOMPARE(int(s[9]), 0x77);
    for (int i = 10; i < 246; ++i)
        QCOMPARE(int(s[i]), 0);
    tds8 stamp = 0;
    std::memcpy(&stamp, s + 246, sizeof stamp);
    QVERIFY(stamp >= before && stamp <= QDateTime::currentMSecsSinceEpoch());
    QCOMPARE(char(s[254]), 'O');
    QCOMPARE(char(s[255]), 'K');
    codec.markCurrentSlot(false, 0);
    QCOMPARE(int(s[10]), 0);
    QCOMPARE(int(s[254]), 0);
    QCOMPARE(int(s[255]), 0);
}

void tst_ZoProtocolBase::assignCarriesAHalfFrame()
{
    const QByteArray f = frameOf(QByteArray::fromHex("e20401020304"));
    ZoFcsProtocolBase a;
    Recorder ra;
    a.setReceiver(&ra);
    a.feed(u(f), 6);
    ZoFcsProtocolBase b;
    Recorder rb;
    b.setReceiver(&rb);
    b.assign(a);
    b.feed(u(f) + 6, f.size() - 6);
    QCOMPARE(rb.events, QStringList {good(f)});
    QVERIFY(ra.events.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ZoProtocolBase)
#include "tst_zoprotocolbase.moc"
