#include "AES.h"
#include "ZoFirmwareUpdateProtocol.h"
#include "ZoProtocolTestUtil.h"

#include <QtTest>

namespace {

QByteArray firmwareHeader()
{
    QByteArray h(48, 0);
    for (int i = 0; i < 48; ++i)
        h[i] = char(0xC0 + i);
    return h;
}

QByteArray encrypted(const tdu1 *key, QByteArray plain)
{
    const AES aes(key);
    for (int i = 0; i + 16 <= plain.size(); i += 16)
        aes.encryptBlock(reinterpret_cast<tdu1 *>(plain.data()) + i);
    return plain;
}

} // namespace

class tst_ZoFirmwareUpdateProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void shortCommands()
    {
        ZoFirmwareUpdateProtocol p;
        tdu1 out[8] = {};
        tdu1 cmd = 0;
        tdu1 len = 0;
        p.buildReadParameters(out, cmd, len, true);
        QCOMPARE(hex(out, len), QByteArray("eb9006ffff22"));
        QCOMPARE(int(cmd), 0x22);
        p.buildLeaveBootloader(out, len, true);
        QCOMPARE(hex(out, len), QByteArray("eb9006ffff50"));
        tdu1 untouched[8] = {};
        len = 0;
        p.buildLeaveBootloader(untouched, len, false);
        QCOMPARE(int(len), 0);
        QCOMPARE(int(untouched[0]), 0);
    }

    void keyFrame_data()
    {
        QTest::addColumn<bool>("framed");
        QTest::addColumn<bool>("addressed");
        QTest::addColumn<bool>("keyMode");
        QTest::addColumn<QByteArray>("lead");
        QTest::addColumn<int>("length");
        QTest::newRow("framed") << true << false << false << QByteArray::fromHex("eb9036") << 54;
        QTest::newRow("framed, key mode")
            << true << true << true << QByteArray::fromHex("eb9036") << 54;
        QTest::newRow("addressed")
            << false << true << false << QByteArray::fromHex("4f022130") << 52;
        QTest::newRow("addressed ignores key mode")
            << false << true << true << QByteArray::fromHex("4f022130") << 52;
        QTest::newRow("bare") << false << false << true << QByteArray::fromHex("21") << 49;
    }
    void keyFrame()
    {
        QFETCH(bool, framed);
        QFETCH(bool, addressed);
        QFETCH(bool, keyMode);
        QFETCH(QByteArray, lead);
        QFETCH(int, length);

        ZoFirmwareUpdateProtocol p;
        p.setKeyMode(keyMode ? 1 : 0);
        const QByteArray original = firmwareHeader();
        QByteArray header = original;
        std::unique_ptr<tdu1[]> out(new tdu1[size_t(length)]);
        const tdu2 n = p.buildKeyFrame(
            out.get(), reinterpret_cast<tdu1 *>(header.data()), framed, 0x4F, 2, addressed);
        QCOMPARE(int(n), length);
        QCOMPARE(hex(out.get(), lead.size()), lead.toHex());
        const tdu1 *body = out.get() + length - 48;
        // The key travels in clear, then the header's bytes 16..47 under that key.
        QCOMPARE(hex(body, 16), hex(p.sessionKey(), 16));
        QCOMPARE(hex(body + 16, 32), encrypted(p.sessionKey(), original.mid(16)).toHex());
        // The caller's header now holds exactly what was sent.
        QCOMPARE(hex(u(header), 48), hex(body, 48));
        if (framed) {
            const tdu2 crc = referenceCrc(bytes(body, 48));
            QCOMPARE(int(out[3]), crc & 0xFF);
            QCOMPARE(int(out[4]), crc >> 8);
            QCOMPARE(char(out[5]), keyMode ? '#' : '!');
        }
        QCOMPARE(int(p.buildKeyFrame(
                     nullptr, reinterpret_cast<tdu1 *>(header.data()), true, 0, 0, false)),
            0);
        QCOMPARE(int(p.buildKeyFrame(out.get(), nullptr, true, 0, 0, false)), 0);
    }

    void sessionKeysAreFreshVersion4Uuids()
    {
        ZoFirmwareUpdateProtocol p;
        QSet<QByteArray> seen;
        for (int i = 0; i < 50; ++i) {
            tdu1 key[16];
            p.makeSessionKey(key);
            // RFC 4122 byte order puts the version in byte 6 and the variant in byte 8.
            QCOMPARE(key[6] >> 4, 4);
            QCOMPARE(key[8] >> 6, 2);
            QCOMPARE(hex(key, 16), hex(p.sessionKey(), 16));
            seen.insert(hex(key, 16));
        }
        QCOMPARE(seen.size(), 50);

        // A second key frame from the same buffer re-encrypts under a new key.
        QByteArray header = firmwareHeader();
        tdu1 out[54];
        p.buildKeyFrame(out, reinterpret_cast<tdu1 *>(header.data()), true, 0, 0, false);
        const QByteArray once = header.mid(16);
        p.buildKeyFrame(out, reinterpret_cast<tdu1 *>(header.data()), true, 0, 0, false);
        QCOMPARE(header.mid(16).toHex(), encrypted(p.sessionKey(), once).toHex());
    }

    void dataFrame_data()
    {
        QTest::addColumn<bool>("framed");
        QTest::addColumn<bool>("addressed");
        QTest::addColumn<bool>("keyMode");
        QTest::addColumn<int>("n");
        QTest::addColumn<QByteArray>("lead");
        QTest::addColumn<int>("length");
        QTest::newRow("framed 64 at 0x1240")
            << true << false << false << 64 << QByteArray::fromHex("eb9048") << 72;
        QTest::newRow("framed 128, key mode")
            << true << false << true << 128 << QByteArray::fromHex("eb9088") << 136;
        QTest::newRow("addressed 64")
            << false << true << false << 64 << QByteArray::fromHex("53033142") << 70;
        QTest::newRow("bare 128") << false << false << true << 128 << QByteArray::fromHex("31")
                                  << 131;
        QTest::newRow("framed 20, a partial block")
            << true << false << false << 20 << QByteArray::fromHex("eb901c") << 28;
    }
    void dataFrame()
    {
        QFETCH(bool, framed);
        QFETCH(bool, addressed);
        QFETCH(bool, keyMode);
        QFETCH(int, n);
        QFETCH(QByteArray, lead);
        QFETCH(int, length);

        ZoFirmwareUpdateProtocol p;
        p.setKeyMode(keyMode ? 1 : 0);
        tdu1 key[16];
        p.makeSessionKey(key);
        QByteArray image(0x1240 + n, 0);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7 + (i >> 8));
        // Exactly the frame's size: no rounded-up block may be written past it.
        std::unique_ptr<tdu1[]> out(new tdu1[size_t(length)]);
        const tdu2 got
            = p.buildDataFrame(out.get(), u(image), 0x1240, tdu2(n), framed, 0x53, 3, addressed);
        QCOMPARE(int(got), length);
        QCOMPARE(hex(out.get(), lead.size()), lead.toHex());
        const int at = framed ? 6 : addressed ? 4 : 1;
        QCOMPARE(hex(out.get() + at, 2), QByteArray("9200"));
        const int whole = n & ~15;
        QCOMPARE(hex(out.get() + at + 2, whole), encrypted(key, image.mid(0x1240, whole)).toHex());
        if (framed) {
            QCOMPARE(char(out[5]), keyMode ? '2' : '1');
            const tdu2 crc = referenceCrc(bytes(out.get() + 6, n + 2));
            QCOMPARE(int(out[3]), crc & 0xFF);
            QCOMPARE(int(out[4]), crc >> 8);
        }
        QCOMPARE(int(p.buildDataFrame(out.get(), u(image), 0, 248, framed, 0, 0, addressed)), 0);
        QCOMPARE(int(p.buildDataFrame(out.get(), nullptr, 0, 64, framed, 0, 0, addressed)), 0);
    }

    void parseAck_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<int>("index");
        QTest::newRow("block ack") << QByteArray::fromHex("eb900bffff81310a00") << true << 10;
        QTest::newRow("key mode ack")
            << QByteArray::fromHex("eb900bffff81323412") << true << 0x1234;
        QTest::newRow("erase ack") << QByteArray::fromHex("eb900bffff81210a00") << true << 0;
        QTest::newRow("not a reply") << QByteArray::fromHex("eb900bffff80310a00") << true << 0;
        QTest::newRow("disabled") << QByteArray::fromHex("eb900bffff81310a00") << false << 0;
        QTest::newRow("too short") << QByteArray::fromHex("eb9008ffff8131") << true << 0;
    }
    void parseAck()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, enable);
        ZoFirmwareUpdateProtocol p;
        QTEST(int(p.parseAck(u(frame), enable, tdu2(frame.size()))), "index");
    }

    void feed_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::addColumn<int>("left");
        auto row = [](const char *name, const QList<QByteArray> &chunks,
                       const QList<QByteArray> &expected,
                       int left = 0) { QTest::newRow(name) << chunks << expected << left; };

        const QByteArray erase = QByteArray::fromHex("eb9007ffff8121");
        const QByteArray ack = QByteArray::fromHex("eb9009ffff81310a00");
        QByteArray params = QByteArray::fromHex("eb9037ffff8122");
        params.append(QByteArray(48, char(0x33)));

        // How frames are cut from any stream is the cutter's test; these show
        // this protocol's header, length as is and shortest frame set up on it.
        row("two in one chunk", {erase + ack}, {erase, ack});
        row("length 5 is skipped", {QByteArray::fromHex("eb9005"), ack}, {ack});
        row("shortest frame", {QByteArray::fromHex("eb9006ffff50")},
            {QByteArray::fromHex("eb9006ffff50")});
        row("waits for the rest", {ack + params.left(10)}, {ack}, 10);
        row("oversized chunk is dropped", {ack.left(4), QByteArray(257, char(0xEB)), erase},
            {erase});
        const QByteArray longest = QByteArray::fromHex("eb90ff") + QByteArray(252, char(0x90));
        row("255-byte frame", {longest.left(128), longest.mid(128), ack}, {longest, ack});
    }
    void feed()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, expected);
        ZoFirmwareUpdateProtocol p;
        ZoTestFrames rec;
        p.setReceiver(&rec);
        for (const QByteArray &c : chunks)
            p.feed(u(c), c.size());
        QStringList frames;
        for (const QByteArray &f : expected)
            frames << good(f);
        QCOMPARE(rec.events, frames);
        QTEST(p.bufferedCount(), "left");
    }
};

QTEST_GUILESS_MAIN(tst_ZoFirmwareUpdateProtocol)
#include "tst_zofirmwareupdateprotocol.moc"
