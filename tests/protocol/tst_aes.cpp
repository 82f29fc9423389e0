#include "AES.h"
#include "AESCrypt.h"
#include "ZoProtocolTestUtil.h"

#include <QtTest>
#include <cstring>

class tst_AES : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void knownAnswers_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        // FIPS-197 appendix C.1 and appendix B, and the first ECB-AES128 block of
        // NIST SP 800-38A F.1.1.
        QTest::newRow("C.1") << QByteArray::fromHex("000102030405060708090a0b0c0d0e0f")
                             << QByteArray::fromHex("00112233445566778899aabbccddeeff")
                             << QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
        QTest::newRow("B") << QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c")
                           << QByteArray::fromHex("3243f6a8885a308d313198a2e0370734")
                           << QByteArray::fromHex("3925841d02dc09fbdc118597196a0b32");
        QTest::newRow("SP800-38A") << QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c")
                                   << QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a")
                                   << QByteArray::fromHex("3ad77bb40d7a3660a89ecaf32466ef97");
    }
    void knownAnswers()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, cipher);
        const AES aes(reinterpret_cast<const tdu1 *>(key.constData()));
        tdu1 out[16];
        aes.encryptBlock(reinterpret_cast<const tdu1 *>(plain.constData()), out);
        QCOMPARE(hex(out, 16), cipher.toHex());

        AESCrypt crypt;
        crypt.setKey(reinterpret_cast<const tdu1 *>(key.constData()));
        QByteArray data = plain;
        crypt.encrypt(reinterpret_cast<tdu1 *>(data.data()), data.size());
        QCOMPARE(data.toHex(), cipher.toHex());
    }

    // Blocks are encrypted on their own (no chaining), and a partial tail
    // stays inside the buffer.
    void partialTailStaysInsideTheBuffer()
    {
        const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
        AESCrypt crypt;
        crypt.setKey(reinterpret_cast<const tdu1 *>(key.constData()));
        // Exactly 36 bytes on the heap: the sanitizer build catches any write
        // into the rest of the third block.
        std::unique_ptr<tdu1[]> buf(new tdu1[36]);
        const QByteArray plain = QByteArray::fromHex(
            "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff00112233");
        std::memcpy(buf.get(), plain.constData(), 36);
        crypt.encrypt(buf.get(), 36);
        QCOMPARE(hex(buf.get(), 32), QByteArray("69c4e0d86a7b0430d8cdb78070b4c55a").repeated(2));
        // The tail is the zero-padded block's cipher, cut to four bytes.
        tdu1 padded[16] = {0x00, 0x11, 0x22, 0x33};
        AES(reinterpret_cast<const tdu1 *>(key.constData())).encryptBlock(padded);
        QCOMPARE(hex(buf.get() + 32, 4), hex(padded, 4));
    }
};

QTEST_GUILESS_MAIN(tst_AES)
#include "tst_aes.moc"
