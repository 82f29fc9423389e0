#include "ZoFrameCutter.h"
#include "ZoProtocolTestUtil.h"

#include <QtTest>

namespace {

// The check of these tests: the last byte of a good frame is 0x5A.
bool lastIs5A(void *context, const tdu1 *frame, tdu2 length)
{
    ++*static_cast<int *>(context);
    return frame[length - 1] == 0x5A;
}

// Feeds `bytes` in chunks of at most MaxChunk and checks after each that no
// more than a chunk stays behind.
bool feedAll(ZoFrameCutter &cutter, const QByteArray &bytes)
{
    for (int at = 0; at < bytes.size(); at += ZoFrameCutter::MaxChunk) {
        const QByteArray c = bytes.mid(at, ZoFrameCutter::MaxChunk);
        if (!cutter.feed(u(c), c.size()) || cutter.bufferedCount() < 0
            || cutter.bufferedCount() >= ZoFrameCutter::MaxChunk)
            return false;
    }
    return true;
}

} // namespace

class tst_ZoFrameCutter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splitAtEveryPosition_data()
    {
        QTest::addColumn<int>("header"); // first byte in the high half
        QTest::addColumn<int>("bias");
        QTest::addColumn<int>("minFrame");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("expected");

        // Length byte + 3, checked: the longest frame (length byte 253) fills a
        // slot. The garbage holds a lone header byte, a length below the
        // shortest frame, one above a slot and a frame the check refuses, which
        // costs only its header.
        {
            const QByteArray longest
                = QByteArray::fromHex("ab0efd") + QByteArray(252, char(0xAB)) + char(0x5A);
            const QByteArray shortest = QByteArray::fromHex("ab0e025a5a");
            const QByteArray refused = QByteArray::fromHex("ab0e021122");
            const QByteArray stream = QByteArray::fromHex("0eab01ab0e01ab0eff") + refused + shortest
                + longest + QByteArray::fromHex("ab0efe") + shortest + QByteArray::fromHex("ab");
            QTest::newRow("length + 3, checked")
                << 0xAB0E << 3 << 5 << true << stream
                << QStringList {bad(refused), good(shortest), good(longest), good(shortest)};
        }
        // The length byte as it is, every frame taken: the longest frame is 255
        // bytes, and only lengths below the shortest frame mark a false header.
        {
            const QByteArray longest = QByteArray::fromHex("eb90ff") + QByteArray(252, char(0x90));
            const QByteArray shortest = QByteArray::fromHex("eb9006ffff50");
            const QByteArray stream = QByteArray::fromHex("90eb01eb9005eb") + longest
                + QByteArray::fromHex("eb9000") + shortest + QByteArray::fromHex("eb90");
            QTest::newRow("length as is, unchecked") << 0xEB90 << 0 << 6 << false << stream
                                                     << QStringList {good(longest), good(shortest)};
        }
    }
    // Wherever the stream is cut in two (each piece fed in chunks of the largest
    // size allowed), the same frames come out and less than a chunk is ever held.
    void splitAtEveryPosition()
    {
        QFETCH(int, header);
        QFETCH(int, bias);
        QFETCH(int, minFrame);
        QFETCH(bool, checked);
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, expected);
        for (int i = 0; i <= stream.size(); ++i) {
            int checks = 0;
            ZoFrameCutter cutter(tdu1(header >> 8), tdu1(header), bias, minFrame,
                checked ? &lastIs5A : nullptr, &checks);
            ZoTestFrames rec;
            cutter.setReceiver(&rec);
            QVERIFY2(feedAll(cutter, stream.left(i)) && feedAll(cutter, stream.mid(i)),
                qPrintable(QStringLiteral("split at %1").arg(i)));
            QCOMPARE(rec.events, expected);
            QCOMPARE(checks, checked ? expected.size() : 0);
        }
    }

    // The copy finishes the frame the original had begun, then goes on with its
    // own header and receiver.
    void assignCarriesAHalfFrame()
    {
        const QByteArray frame = QByteArray::fromHex("ab0e05010203045a");
        ZoFrameCutter from(0xAB, 0x0E, 3, 5);
        QVERIFY(from.feed(u(frame), 5));
        ZoFrameCutter to(0x12, 0x34, 3, 5);
        ZoTestFrames rec;
        to.setReceiver(&rec);
        to.assign(from);
        QCOMPARE(to.bufferedCount(), 5);
        const QByteArray rest = frame.mid(5) + QByteArray::fromHex("ab0e025a5a12340200ff");
        QVERIFY(to.feed(u(rest), rest.size()));
        QCOMPARE(rec.events, (QStringList {good(frame), good(QByteArray::fromHex("12340200ff"))}));
        QCOMPARE(to.slotIndex(), tdu1(from.slotIndex() + 2));
    }

    // A bootloader ack whose length byte was damaged (09 became 53) holds
    // the good acks after it until the partial frame is dropped; then they
    // come out, and a frame just begun is kept.
    void dropPartialFreesWhatFollows()
    {
        ZoFrameCutter cutter(0xEB, 0x90, 0, 6);
        ZoTestFrames rec;
        cutter.setReceiver(&rec);
        const QByteArray ack = QByteArray::fromHex("eb90090acf81316400");
        const QByteArray held = QByteArray::fromHex("eb90530acf81316400") + ack + ack.left(4);
        QVERIFY(cutter.feed(u(held), held.size()));
        QVERIFY(rec.events.isEmpty());
        cutter.dropPartial();
        QCOMPARE(rec.events, QStringList {good(ack)});
        QCOMPARE(cutter.bufferedCount(), 4);
        cutter.dropPartial(); // what is held now is overdue too: gone, nothing cut
        QVERIFY(cutter.feed(u(ack), ack.size()));
        QCOMPARE(rec.events, (QStringList {good(ack), good(ack)}));
    }
};

QTEST_GUILESS_MAIN(tst_ZoFrameCutter)
#include "tst_zoframecutter.moc"
