#include "ZoFRMFileInfo.h"
#include "ZoFRMFileStore.h"
#include "ZoTestFirmware.h"

#include <QtTest>

namespace {

// A firmware file: image length at 16, version at 22, compile time at 30.
QByteArray firmwareFile(int imageBytes, tdu4 declaredLength)
{
    return zoTestFirmwareBytes(declaredLength, {44, 2, 20, 7}, imageBytes, 0x5A,
        zoTestTime(QStringLiteral("2025-12-06 21:30:59")));
}

ZoFRMFileInfo record(tdu1 fid, const QByteArray &bytes)
{
    ZoFRMFileInfo info;
    info.fid = fid;
    info.version = tVersion {fid, 1, 2, 3};
    info.setBytes(bytes);
    return info;
}

} // namespace

class tst_ZoFRMFileStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void header_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no data at all
        QTest::addColumn<bool>("hasHeader");
        QTest::addColumn<int>("available");

        QTest::newRow("no data") << QByteArray() << false << 0;
        QTest::newRow("47 bytes") << firmwareFile(0, 0).left(47) << false << 0;
        QTest::newRow("exactly the header") << firmwareFile(0, 0) << true << 0;
        QTest::newRow("10 image bytes") << firmwareFile(10, 10) << true << 10;
        QTest::newRow("header claims more than present")
            << firmwareFile(3, 0x04030201) << true << 3;
    }
    void header()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, hasHeader);
        QFETCH(int, available);

        ZoFRMFileInfo info;
        if (!file.isNull())
            info.setBytes(file);
        tVersion version {1, 1, 1, 1};
        tFcsDateTime when;
        tdu4 length = 77;
        QCOMPARE(info.headerVersion(version), hasHeader);
        QCOMPARE(info.headerCompileTime(when), hasHeader);
        QCOMPARE(info.headerImageLength(length), hasHeader);
        QCOMPARE(info.availableImageSize(), tdu4(available));
        if (hasHeader) {
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(&version), 4), file.mid(22, 4));
            QCOMPARE(int(when.year), 2025);
            QCOMPARE(int(when.month), 12);
            QCOMPARE(int(when.second), 59);
            QCOMPARE(length, file.size() == 51 ? tdu4(0x04030201) : tdu4(file.size() - 48));
        } else {
            QCOMPARE(int(version.type), 1);
            QCOMPARE(length, tdu4(77));
        }
    }

    void replaceAndLookups()
    {
        ZoFRMFileStore store;
        QVERIFY(store.setFRMFileInfo(record(4, QByteArray(100, 'a'))));
        QVERIFY(store.setFRMFileInfo(record(4, firmwareFile(0, 0))));
        store.setFRMFileInfo(record(44, QByteArray(20, 'y')));
        ZoFRMFileInfo empty;
        empty.fid = 45;
        store.setFRMFileInfo(empty); // no data is allowed
        QCOMPARE(store.count(), 3);
        bool found = false;
        QCOMPARE(store.getFRMFileInfo(4, found).bytes(), firmwareFile(0, 0));
        QVERIFY(found);
        QCOMPARE(store.getFRMFileInfo(44, found).size(), tdu4(20));
        QVERIFY(found);
        QVERIFY(!store.getFRMFileInfo(45, found).hasHeader());
        QVERIFY(found);

        const ZoFRMFileInfo missing = store.getFRMFileInfo(4 + 256, found);
        QVERIFY(!found);
        QVERIFY(missing.bytes().isNull() && missing.fid == 0);
    }

    // A transfer keeps the record it started with: a copy fetched before the
    // store replaced the record still reads its own bytes, even once the
    // store is gone.
    void copiesOutliveReplacement()
    {
        ZoFRMFileInfo kept;
        {
            ZoFRMFileStore store;
            store.setFRMFileInfo(record(4, QByteArray("first")));
            bool found = false;
            kept = store.getFRMFileInfo(4, found);
            store.setFRMFileInfo(record(4, QByteArray("second")));
            QCOMPARE(kept.bytes(), QByteArray("first"));
            QCOMPARE(store.getFRMFileInfo(4, found).bytes(), QByteArray("second"));
        }
        QCOMPARE(kept.bytes(), QByteArray("first"));
    }
};

QTEST_GUILESS_MAIN(tst_ZoFRMFileStore)
#include "tst_zofrmfilestore.moc"
