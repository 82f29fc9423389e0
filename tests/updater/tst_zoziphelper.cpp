#include "ZoTestFiles.h"
#include "ZoTestLog.h"
#include "ZoTestZip.h"
#include "ZoZipHelper.h"

#include <QTemporaryDir>
#include <QtTest>

#include <unzip.h>

namespace {

// Records the helper's signals in the order they came.
struct Recorder
{
    QStringList events;
    explicit Recorder(ZoZipHelper &zip)
    {
        QObject::connect(&zip, &ZoZipHelper::sigUpZipProgress, [this](tds8 n, tds8 total) {
            events << QStringLiteral("progress %1/%2").arg(n).arg(total);
        });
        QObject::connect(&zip, &ZoZipHelper::sigUpZipFinished,
            [this](bool ok) { events << QStringLiteral("finished %1").arg(ok); });
    }
};

} // namespace

class tst_ZoZipHelper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        m_zip = m_tmp->filePath(QStringLiteral("release.zip"));
        m_dest = m_tmp->filePath(QStringLiteral("app")) + QLatin1Char('/');
    }

    void extractsTreeWithProgress()
    {
        const QByteArray big = QByteArray("0123456789abcdef").repeated(5000); // spans copy buffers
        QVERIFY(zoWriteTestZip(m_zip,
            {{"plugins/", {}}, {"plugins/codecs/libx.so", big}, {"Tolvane.exe", "program"}}));
        ZoTestLogCapture log;
        ZoZipHelper zip;
        Recorder rec(zip);

        QVERIFY(zip.upzip(m_zip, m_dest)); // the destination does not exist yet

        QCOMPARE(rec.events,
            QStringList({"progress 1/3", "progress 2/3", "progress 3/3", "finished 1"}));
        QCOMPARE(zoTreeOf(m_dest),
            QStringList({"Tolvane.exe", "plugins", "plugins/codecs", "plugins/codecs/libx.so"}));
        QCOMPARE(zoReadFile(m_dest + "plugins/codecs/libx.so"), big);
        QCOMPARE(zoReadFile(m_dest + "Tolvane.exe"), QByteArray("program"));
        // The directory entry cannot be opened as a file; that is said, not fatal.
        QCOMPARE(log.count("ZoZipHelper::upzip() - Fail to open Writing File"), 1);
    }

    void replacesAndTruncatesExistingFile()
    {
        QVERIFY(zoWriteFile(m_dest + "config/app.ini", QByteArray(4096, 'x')));
        QVERIFY(zoWriteFile(m_dest + "keep.txt", "untouched"));
        QVERIFY(zoWriteTestZip(m_zip, {{"config/app.ini", "short=1\n"}}));

        ZoTestLogCapture log;
        ZoZipHelper zip;
        QVERIFY(zip.upzip(m_zip, m_dest));
        QCOMPARE(zoReadFile(m_dest + "config/app.ini"), QByteArray("short=1\n"));
        QCOMPARE(zoReadFile(m_dest + "keep.txt"), QByteArray("untouched"));
        QVERIFY(log.contains("ZoZipHelper::upzip() - file had existed!!"));
    }

    void keepsUnixPermissions()
    {
        QVERIFY(zoWriteTestZip(m_zip,
            {{"updateExeDir/ZoHaldenUpdate", "program", {}, true, 0755},
                {"readonly.txt", "r", {}, true, 0444}, {"fromdos.txt", "d"}}));
        ZoZipHelper zip;
        QVERIFY(zip.upzip(m_zip, m_dest));
        const QFileInfo program(m_dest + "updateExeDir/ZoHaldenUpdate");
        QVERIFY(program.isExecutable());
        QVERIFY(program.permission(QFile::ExeOther));
        // Still replaceable by the next release.
        QVERIFY(QFileInfo(m_dest + "readonly.txt").isWritable());
        QVERIFY(!QFileInfo(m_dest + "readonly.txt").isExecutable());
        QVERIFY(!QFileInfo(m_dest + "fromdos.txt").isExecutable());
    }

    void keepsEntryDate_data()
    {
        QTest::addColumn<QDateTime>("stamp");
        QTest::newRow("december") << QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58));
        QTest::newRow("dos epoch") << QDateTime(QDate(1980, 1, 1), QTime(0, 0, 0));
    }
    void keepsEntryDate()
    {
        QFETCH(QDateTime, stamp);
        QVERIFY(zoWriteTestZip(m_zip, {{"a/dated.bin", QByteArray(30000, 'd'), stamp}}));
        ZoZipHelper zip;
        QVERIFY(zip.upzip(m_zip, m_dest));
        const QFileInfo fi(m_dest + "a/dated.bin");
        QCOMPARE(fi.lastModified(), stamp);
    }

    void damagedArchiveWritesNothing()
    {
        // An installation the damaged release would have half replaced.
        QVERIFY(zoWriteFile(m_dest + "first.txt", "old one"));
        QVERIFY(zoWriteFile(m_dest + "lib/third.txt", "old three"));
        const QStringList before = zoTreeOf(m_dest);

        const QByteArray marker = "CORRUPT-ME-" + QByteArray(200, 'm');
        QVERIFY(zoWriteTestZip(m_zip,
            {{"first.txt", "one", {}, false}, {"new/second.txt", "two"},
                {"lib/third.txt", marker, {}, false}}));
        QByteArray bytes = zoReadFile(m_zip);
        const int at = bytes.indexOf(marker);
        QVERIFY(at > 0);
        bytes[at + 3] = 'X'; // stored data no longer matches its CRC
        QVERIFY(zoWriteFile(m_zip, bytes));

        ZoTestLogCapture log;
        ZoZipHelper zip;
        Recorder rec(zip);
        QVERIFY(!zip.upzip(m_zip, m_dest));
        QCOMPARE(rec.events, QStringList({"finished 0"}));
        QVERIFY(log.contains(QStringLiteral("ZoZipHelper::upzip() - Fail to unzCloseCurrentFile %1")
                                 .arg(UNZ_CRCERROR)));
        QCOMPARE(zoTreeOf(m_dest), before);
        QCOMPARE(zoReadFile(m_dest + "first.txt"), QByteArray("old one"));
        QCOMPARE(zoReadFile(m_dest + "lib/third.txt"), QByteArray("old three"));
    }

    void longNameIsNotCut()
    {
        // Longer than the 256-byte name buffer; cut short it would name another file.
        const QByteArray name = QByteArray(120, 'a') + '/' + QByteArray(120, 'b') + '/'
            + QByteArray(60, 'c') + ".txt";
        QVERIFY(zoWriteTestZip(m_zip, {{name, "deep"}}));
        ZoZipHelper zip;
        QVERIFY(zip.upzip(m_zip, m_dest));
        QCOMPARE(zoTreeOf(m_dest).size(), 3);
        QCOMPARE(zoReadFile(m_dest + QString::fromLatin1(name)), QByteArray("deep"));
    }

    void refusesEntriesOutsideDestination_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("linkOut"); // the installation holds a link "lib" to outside

        QTest::newRow("parent") << QByteArray("../x") << false;
        QTest::newRow("deep parent") << QByteArray("a/../../x") << false;
        QTest::newRow("backslash parent") << QByteArray("a\\..\\..\\x") << false;
        QTest::newRow("bare parent") << QByteArray("..") << false;
        QTest::newRow("absolute") << QByteArray("@ABS@/x") << false;
        QTest::newRow("drive") << QByteArray("C:\\x") << false;
        QTest::newRow("drive relative") << QByteArray("c:x") << false;
        QTest::newRow("through link") << QByteArray("lib/x") << true;
        QTest::newRow("through link, new dir") << QByteArray("lib/sub/x") << true;
    }
    void refusesEntriesOutsideDestination()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, linkOut);
        const QString outside = m_tmp->filePath("outside");
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(QDir().mkpath(m_dest));
        if (linkOut)
            QVERIFY(QFile::link(outside, m_dest + "lib"));
        name.replace("@ABS@", QFile::encodeName(outside));

        QVERIFY(zoWriteTestZip(m_zip, {{"before.txt", "b"}, {name, "evil"}, {"after.txt", "a"}}));
        ZoTestLogCapture log;
        ZoZipHelper zip;
        Recorder rec(zip);
        QVERIFY(zip.upzip(m_zip, m_dest));

        QCOMPARE(rec.events,
            QStringList({"progress 1/3", "progress 2/3", "progress 3/3", "finished 1"}));
        QVERIFY(log.contains("ZoZipHelper::upzip() - Refuse entry outside the destination:"));
        // Nothing landed anywhere but in the destination, and there only the two
        // harmless files.
        QStringList expected = {"app", "app/after.txt", "app/before.txt", "outside", "release.zip"};
        if (linkOut)
            expected << "app/lib";
        expected.sort();
        QCOMPARE(zoTreeOf(m_tmp->path()), expected);
    }

    void earlyFailureReportsFinished_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("archive missing") << "missing";
        QTest::newRow("not an archive") << "garbage";
        QTest::newRow("destination cannot be made") << "blocked";
    }
    void earlyFailureReportsFinished()
    {
        QFETCH(QString, what);
        QString dest = m_dest;
        if (what == "garbage")
            QVERIFY(zoWriteFile(m_zip, QByteArray(1000, 'g')));
        if (what == "blocked") {
            QVERIFY(zoWriteTestZip(m_zip, {{"a.txt", "a"}}));
            QVERIFY(zoWriteFile(m_tmp->filePath("plain"), "file"));
            dest = m_tmp->filePath("plain/app/");
        }
        ZoZipHelper zip;
        Recorder rec(zip);
        QVERIFY(!zip.upzip(m_zip, dest));
        // The form waits for this signal with its button disabled.
        QCOMPARE(rec.events, QStringList({"finished 0"}));
    }

    void brokenCentralDirectoryFails()
    {
        QVERIFY(zoWriteTestZip(m_zip, {{"one.txt", "1"}, {"two.txt", "2"}, {"three.txt", "3"}}));
        QByteArray bytes = zoReadFile(m_zip);
        // Break the second central directory record: the walk cannot reach the
        // end, so nothing of it may be installed.
        const int first = bytes.indexOf("PK\x01\x02");
        const int second = bytes.indexOf("PK\x01\x02", first + 4);
        QVERIFY(second > first && first > 0);
        bytes[second + 2] = 'Z';
        QVERIFY(zoWriteFile(m_zip, bytes));

        ZoZipHelper zip;
        Recorder rec(zip);
        QVERIFY(!zip.upzip(m_zip, m_dest));
        QCOMPARE(rec.events, QStringList({"finished 0"}));
        QVERIFY(!QFile::exists(m_dest + "one.txt"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_zip;
    QString m_dest;
};

QTEST_GUILESS_MAIN(tst_ZoZipHelper)
#include "tst_zoziphelper.moc"
