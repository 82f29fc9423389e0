#include "ZoTestFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The firmware packer checked against files worked out by hand: bytes 0-15
// zero, length at 16, two zero bytes, type/major/minor/revision at 22, four
// zero bytes, compile time (year little-endian, month, day, hour, minute,
// second) at 30, zero up to 48, then the image.
class TstFwPack : public QObject
{
    Q_OBJECT

private:
    static int run(const QStringList &args)
    {
        QProcess p;
        p.start(TOLVANE_FWPACK_EXE, args);
        if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        return p.exitCode();
    }

private Q_SLOTS:
    void layout_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QByteArray>("image"); // given with --image when there is no --size
        QTest::addColumn<QByteArray>("expected");
        const QByteArray zero16 = "00000000000000000000000000000000";

        QTest::newRow("seeded image")
            << "--type 41 --version 2.20.1 --compile-time 2026-10-12T09:30:05 --size 20 --seed 0"
            << QByteArray()
            << QByteArray::fromHex(zero16
                   + "14000000 0000 29021401 00000000 ea070a0c091e05"
                     "0000000000000000000000"
                     // SplitMix64 from seed 0: e220a8397b1dcdaf,
                     // 6e789e6aa1b965f4, 06c45d188009454f (cut)
                     "afcd1d7b39a820e2 f465b9a16a9e786e 4f450980");
        QTest::newRow("image file, length field overridden, default compile time")
            << "--type 0x56 --version 1.255.0 --length-field 0x12345678"
            << QByteArray("\x01\x02\x03", 3)
            << QByteArray::fromHex(zero16
                   + "78563412 0000 5601ff00 00000000 ea070101000000"
                     "0000000000000000000000 010203");
        QTest::newRow("empty image is just the header")
            << "--type 255 --version 0.0.9 --compile-time 1999-12-31T23:59:58 --size 0"
            << QByteArray()
            << QByteArray::fromHex(zero16
                   + "00000000 0000 ff000009 00000000 cf070c1f173b3a"
                     "0000000000000000000000");
    }
    void layout()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, image);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        QStringList argv = args.split(' ');
        if (!argv.contains("--size")) {
            QVERIFY(zoWriteFile(dir.filePath("image.raw"), image));
            argv << "--image" << dir.filePath("image.raw");
        }
        const QString out = dir.filePath("fw.bin");
        QCOMPARE(run(argv << "-o" << out), 0);
        QCOMPARE(zoReadFile(out).toHex(), expected.toHex());
    }

    void refused_data()
    {
        QTest::addColumn<QString>("args");
        QTest::newRow("two-part version") << "--type 41 --size 8 --version 2.20";
        QTest::newRow("version part above 255") << "--type 41 --size 8 --version 2.256.0";
        QTest::newRow("type above 255") << "--type 256 --size 8 --version 1.0.0";
        QTest::newRow("no image source") << "--type 41 --version 1.0.0";
        QTest::newRow("bad compile time")
            << "--type 41 --size 8 --version 1.0.0 --compile-time 2026-13-01T00:00:00";
    }
    void refused()
    {
        QFETCH(QString, args);
        QTemporaryDir dir;
        const QString out = dir.filePath("fw.bin");
        QCOMPARE(run(args.split(' ') << "-o" << out), 2);
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_GUILESS_MAIN(TstFwPack)
#include "tst_fwpack.moc"
