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
    info.setDataCopy(bytes);
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
            info.setDataCopy(file);
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
            // The buffer holds one byte more than the file, zeroed.
            QCOMPARE(info.data[info.size], tdu1(0));
        } else {
            QCOMPARE(int(version.type), 1);
            QCOMPARE(length, tdu4(77));
        }
    }

    void replaceAndLookups()
    {
        // The sanitizer build reports the first buffer as a leak unless the
        // replacement released it.
        ZoFRMFileStore store;
        QVERIFY(store.setFRMFileInfo(record(4, QByteArray(100, 'a'))));
        QVERIFY(store.setFRMFileInfo(record(4, firmwareFile(0, 0))));
        store.setFRMFileInfo(record(44, QByteArray(20, 'y')));
        ZoFRMFileInfo empty;
        empty.fid = 45;
        store.setFRMFileInfo(empty); // no data is allowed
        QCOMPARE(store.count(), 3);
        bool found = false;
        QCOMPARE(zoTestBytes(store.getFRMFileInfo(4, found)), firmwareFile(0, 0));
        QVERIFY(found);
        QCOMPARE(store.getFRMFileInfo(44, found).size, tdu4(20));
        QVERIFY(found);
        QVERIFY(!store.getFRMFileInfo(45, found).hasHeader());
        QVERIFY(found);

        const ZoFRMFileInfo missing = store.getFRMFileInfo(4 + 256, found);
        QVERIFY(!found);
        QVERIFY(missing.size == 0 && missing.data == nullptr && missing.fid == 0);
    }

    void storingFetchedRecordAgainKeepsBuffer()
    {
        ZoFRMFileStore store;
        store.setFRMFileInfo(record(44, QByteArray("firmware")));
        bool found = false;
        ZoFRMFileInfo again = store.getFRMFileInfo(44, found);
        again.nickNameEn = QStringLiteral("renamed");
        QVERIFY(store.setFRMFileInfo(again));
        const ZoFRMFileInfo got = store.getFRMFileInfo(44, found);
        QCOMPARE(got.nickNameEn, QStringLiteral("renamed"));
        QCOMPARE(zoTestBytes(got), QByteArray("firmware"));
    }

    // A copied buffer belongs to its records: a copy fetched before the store
    // replaced the record stays readable, even after the store is gone, and a
    // record never stored frees its buffer by itself (the sanitizer build reports
    // a leak or a double free otherwise). A buffer set by hand is still the
    // store's to free.
    void bufferOwnership()
    {
        ZoFRMFileInfo kept;
        {
            ZoFRMFileStore store;
            store.setFRMFileInfo(record(4, QByteArray("first")));
            bool found = false;
            kept = store.getFRMFileInfo(4, found);
            QVERIFY(kept.ownsData());
            store.setFRMFileInfo(record(4, QByteArray("second")));
            QCOMPARE(zoTestBytes(kept), QByteArray("first"));
            QCOMPARE(zoTestBytes(store.getFRMFileInfo(4, found)), QByteArray("second"));

            for (const char *text : {"by hand", "by hand again"}) {
                ZoFRMFileInfo byHand;
                byHand.fid = 5;
                byHand.size = tdu4(qstrlen(text));
                byHand.data = ZoFRMFileInfo::allocData(byHand.size);
                memcpy(byHand.data, text, byHand.size);
                QVERIFY(!byHand.ownsData());
                store.setFRMFileInfo(byHand);
            }
            QCOMPARE(zoTestBytes(store.getFRMFileInfo(5, found)), QByteArray("by hand again"));

            // Only the buffer the owner made counts as owned.
            ZoFRMFileInfo repointed = record(6, QByteArray("owned"));
            repointed.data = ZoFRMFileInfo::allocData(1);
            repointed.size = 1;
            QVERIFY(!repointed.ownsData());
            store.setFRMFileInfo(repointed);

            const ZoFRMFileInfo passing = record(7, QByteArray(1000, 'p'));
            const ZoFRMFileInfo copy = passing;
            QVERIFY(copy.data == passing.data && copy.ownsData());
        }
        QCOMPARE(zoTestBytes(kept), QByteArray("first"));
    }
};

QTEST_GUILESS_MAIN(tst_ZoFRMFileStore)
#include "tst_zofrmfilestore.moc"
