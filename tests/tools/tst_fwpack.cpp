#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The firmware packer checked against headers worked out by hand from the
// file layout: length at 16, type/major/minor/revision at 22, compile time
// (year little-endian, month, day, hour, minute, second) at 30, rest zero.
class TstFwPack : public QObject
{
    Q_OBJECT

private:
    static int run(const QStringList &args, QString *err = nullptr)
    {
        QProcess p;
        p.start(QStringLiteral(TOLVANE_FWPACK_EXE), args);
        if (!p.waitForFinished(10000))
            return -1;
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private Q_SLOTS:
    void layout_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("image"); // written to a file when not empty and no --size
        QTest::addColumn<QByteArray>("expected");

        const QByteArray zero16(16, '\0');
        // type 41, 2.20.1, 2026-10-12 09:30:05 = EA 07 0A 0C 09 1E 05
        QTest::newRow("seeded image") << QStringList {QStringLiteral("--type"),
            QStringLiteral("41"), QStringLiteral("--version"), QStringLiteral("2.20.1"),
            QStringLiteral("--compile-time"), QStringLiteral("2026-10-12 09:30:05"),
            QStringLiteral("--size"), QStringLiteral("20"), QStringLiteral("--seed"),
            QStringLiteral("0")} << QByteArray()
                                      << zero16
                + QByteArray::fromHex("14000000"
                                      "0000"
                                      "29021401"
                                      "00000000"
                                      "ea070a0c091e05"
                                      "0000000000000000000000"
                                      // SplitMix64 from seed 0: e220a8397b1dcdaf,
                                      // 6e789e6aa1b965f4, 06c45d188009454f (cut)
                                      "afcd1d7b39a820e2"
                                      "f465b9a16a9e786e"
                                      "4f450980");
        QTest::newRow("image file, length field overridden, default compile time")
            << QStringList {QStringLiteral("--type"), QStringLiteral("0x56"),
                   QStringLiteral("--version"), QStringLiteral("1.255.0"),
                   QStringLiteral("--length-field"), QStringLiteral("0x12345678")}
            << QByteArray("\x01\x02\x03", 3)
            << zero16
                + QByteArray::fromHex("78563412"
                                      "0000"
                                      "5601ff00"
                                      "00000000"
                                      "ea070101000000"
                                      "0000000000000000000000"
                                      "010203");
        QTest::newRow("empty image is just the header") << QStringList {QStringLiteral("--type"),
            QStringLiteral("255"), QStringLiteral("--version"), QStringLiteral("0.0.9"),
            QStringLiteral("--compile-time"), QStringLiteral("1999-12-31T23:59:58"),
            QStringLiteral("--size"), QStringLiteral("0")}
                                                        << QByteArray()
                                                        << zero16
                + QByteArray::fromHex("00000000"
                                      "0000"
                                      "ff000009"
                                      "00000000"
                                      "cf070c1f173b3a"
                                      "0000000000000000000000");
    }
    void layout()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, image);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (!args.contains(QStringLiteral("--size"))) {
            QFile in(dir.filePath(QStringLiteral("image.raw")));
            QVERIFY(in.open(QIODevice::WriteOnly));
            in.write(image);
            in.close();
            args << QStringLiteral("--image") << in.fileName();
        }
        const QString out = dir.filePath(QStringLiteral("fw.bin"));
        QString err;
        QCOMPARE(run(args << QStringLiteral("-o") << out, &err), 0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().toHex(), expected.toHex());
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        const QStringList base {QStringLiteral("--type"), QStringLiteral("41"),
            QStringLiteral("--size"), QStringLiteral("8")};
        QTest::newRow("two-part version")
            << (base + QStringList {QStringLiteral("--version"), QStringLiteral("2.20")});
        QTest::newRow("version part above 255")
            << (base + QStringList {QStringLiteral("--version"), QStringLiteral("2.256.0")});
        QTest::newRow("type above 255") << QStringList {QStringLiteral("--type"),
            QStringLiteral("256"), QStringLiteral("--size"), QStringLiteral("8"),
            QStringLiteral("--version"), QStringLiteral("1.0.0")};
        QTest::newRow("no image source") << QStringList {QStringLiteral("--type"),
            QStringLiteral("41"), QStringLiteral("--version"), QStringLiteral("1.0.0")};
        QTest::newRow("bad compile time") << (base
            + QStringList {QStringLiteral("--version"), QStringLiteral("1.0.0"),
                QStringLiteral("--compile-time"), QStringLiteral("2026-13-01 00:00:00")});
    }
    void refused()
    {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("fw.bin"));
        QCOMPARE(run(args << QStringLiteral("-o") << out), 2);
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_GUILESS_MAIN(TstFwPack)
#include "tst_fwpack.moc"
