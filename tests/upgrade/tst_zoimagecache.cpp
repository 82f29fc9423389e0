#include "ZoImageCache.h"
#include "ZoTestFiles.h"
#include "ZoTestFirmware.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString shaOf(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray image(tdu1 type, tdu1 minor, int length = 1000)
{
    return zoTestFirmwareBytes(tdu4(length), {type, 1, minor, 0}, length);
}

} // namespace

class TstZoImageCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A kept file comes back as it went in, named by its hash, once however
    // often it is kept; past the bound the file used longest ago goes.
    void keepsWithinItsBound()
    {
        QTemporaryDir dir;
        ZoImageCache cache(dir.filePath(QStringLiteral("images")), 2500);
        const QByteArray a = image(79, 1), b = image(79, 2), c = image(77, 3);
        QVERIFY(cache.keep(a) && cache.keep(a) && cache.keep(b));
        QCOMPARE(cache.bytes(), qint64(a.size() + b.size()));
        // Taking `a` makes `b` the one used longest ago.
        QFile older(QDir(cache.dir()).filePath(shaOf(b)));
        QVERIFY(older.open(QIODevice::ReadWrite));
        older.setFileTime(
            QDateTime::currentDateTimeUtc().addSecs(-60), QFileDevice::FileModificationTime);
        older.close();
        ZoFRMFileInfo file;
        QVERIFY(cache.take(shaOf(a), 79, file));
        QCOMPARE(file.bytes(), a);
        QCOMPARE(file.fid, tdu1(79));
        QCOMPARE(file.version.minor, tdu1(1));
        QVERIFY(cache.keep(c));
        QVERIFY(!cache.take(shaOf(b), 79, file));
        QVERIFY(cache.take(shaOf(a), 79, file) && cache.take(shaOf(c), 77, file));
        QVERIFY(!cache.keep(QByteArray(2501, 'x')));
    }

    // What is not the image asked for never comes out, and is removed.
    void refusesWhatDoesNotHold_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("onDisk"); // empty: as kept
        QTest::addColumn<int>("type");
        QTest::newRow("changed on disk") << image(79, 1) << image(79, 1).replace(60, 1, "y") << 79;
        QTest::newRow("another type") << image(77, 1) << QByteArray() << 79;
        QTest::newRow("image cut short") << image(79, 1).left(500) << QByteArray() << 79;
    }
    void refusesWhatDoesNotHold()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, onDisk);
        QFETCH(int, type);
        QTemporaryDir dir;
        ZoImageCache cache(dir.path());
        QVERIFY(cache.keep(bytes));
        const QString path = QDir(dir.path()).filePath(shaOf(bytes));
        QVERIFY(onDisk.isEmpty() || zoWriteFile(path, onDisk));
        ZoFRMFileInfo file;
        QString why;
        QVERIFY(!cache.take(shaOf(bytes), tdu1(type), file, &why));
        QVERIFY(!why.isEmpty());
        QVERIFY(!QFile::exists(path));
        QVERIFY(!cache.take(QStringLiteral("0123"), 79, file));
    }
};

QTEST_GUILESS_MAIN(TstZoImageCache)
#include "tst_zoimagecache.moc"
