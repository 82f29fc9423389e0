#include "ZoLittleEndian.h"

#include <QtTest>

#include <cstdint>

class TstZoLittleEndian : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reads_data()
    {
        QTest::addColumn<int>("size"); // of the 6-byte buffer below, as the reader is told
        QTest::addColumn<qulonglong>("at");
        QTest::addColumn<bool>("ok16");
        QTest::addColumn<uint>("value16");
        QTest::addColumn<bool>("ok32");
        QTest::addColumn<uint>("value32");
        QTest::newRow("start") << 6 << 0ull << true << 0x0201u << true << 0x04030201u;
        QTest::newRow("last 32-bit value") << 6 << 2ull << true << 0x0403u << true << 0x06050403u;
        QTest::newRow("last 16-bit value") << 6 << 4ull << true << 0x0605u << false << 0u;
        QTest::newRow("one byte left") << 6 << 5ull << false << 0u << false << 0u;
        QTest::newRow("at the end") << 6 << 6ull << false << 0u << false << 0u;
        QTest::newRow("past the end") << 6 << 7ull << false << 0u << false << 0u;
        QTest::newRow("size cuts short") << 3 << 1ull << true << 0x0302u << false << 0u;
        QTest::newRow("empty") << 0 << 0ull << false << 0u << false << 0u;
        // at + 2 wraps to 0 or 1: must not pass as inside.
        QTest::newRow("wrapping position")
            << 6 << qulonglong(SIZE_MAX - 1) << false << 0u << false << 0u;
    }
    void reads()
    {
        QFETCH(int, size);
        QFETCH(qulonglong, at);
        QFETCH(bool, ok16);
        QFETCH(uint, value16);
        QFETCH(bool, ok32);
        QFETCH(uint, value32);
        const tdu1 bytes[6] = {1, 2, 3, 4, 5, 6};
        bool ok = !ok16;
        QCOMPARE(uint(ZoLittleEndian::read16(bytes, size_t(size), size_t(at), &ok)), value16);
        QCOMPARE(ok, ok16);
        ok = !ok32;
        QCOMPARE(uint(ZoLittleEndian::read32(bytes, size_t(size), size_t(at), &ok)), value32);
        QCOMPARE(ok, ok32);

        if (at <= 6) {
            const QByteArray array(reinterpret_cast<const char *>(bytes), size);
            QCOMPARE(uint(ZoLittleEndian::read16(array, int(at), &ok)), value16);
            QCOMPARE(ok, ok16);
            QCOMPARE(uint(ZoLittleEndian::read32(array, int(at), &ok)), value32);
            QCOMPARE(ok, ok32);
        }
    }

    void nothingToRead()
    {
        bool ok = true;
        QCOMPARE(ZoLittleEndian::read16(nullptr, 4, 0, &ok), tdu2(0));
        QVERIFY(!ok);
        ok = true;
        QCOMPARE(ZoLittleEndian::read32(QByteArray("abcd"), -1, &ok), tdu4(0));
        QVERIFY(!ok);
        QCOMPARE(ZoLittleEndian::read32(QByteArray("\xff\xff\xff\xff", 4), 0), 0xFFFFFFFFu);
    }
};

QTEST_GUILESS_MAIN(TstZoLittleEndian)
#include "tst_zolittleendian.moc"
