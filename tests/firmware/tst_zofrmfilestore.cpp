#include "ZoFRMFileInfo.h"
#include "ZoFRMFileStore.h"

#include <QtTest>

namespace {

// A firmware file: image length at 16, version at 22, compile time at 30.
QByteArray firmwareFile(int imageLength, int declaredLength)
{
    QByteArray f(ZoFRMFileInfo::HeaderSize + imageLength, '\x5a');
    const unsigned len = unsigned(declaredLength);
    f[16] = char(len & 0xff);
    f[17] = char((len >> 8) & 0xff);
    f[18] = char((len >> 16) & 0xff);
    f[19] = char((len >> 24) & 0xff);
    const char version[4] = {44, 2, 20, 7};
    const char when[7] = {char(0xE9), 0x07, 12, 6, 21, 30, 59}; // 2025-12-06 21:30:59
    f.replace(22, 4, version, 4);
    f.replace(30, 7, when, 7);
    return f;
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
    void header_data();
    void header();
    void dataCopyIsTerminated();
    void replaceKeepsOnlyTheNewest();
    void storingFetchedRecordAgainKeepsBuffer();
    void separateFids();
    void missingFid();
};

void tst_ZoFRMFileStore::header_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no data at all
    QTest::addColumn<bool>("hasHeader");
    QTest::addColumn<int>("available");

    QTest::newRow("no data") << QByteArray() << false << 0;
    QTest::newRow("47 bytes") << firmwareFile(0, 0).left(47) << false << 0;
    QTest::newRow("exactly the header") << firmwareFile(0, 0) << true << 0;
    QTest::newRow("header and 10 image bytes") << firmwareFile(10, 10) << true << 10;
    QTest::newRow("header claims more than present") << firmwareFile(3, 0x04030201) << true << 3;
}

void tst_ZoFRMFileStore::header()
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
    QCOMPARE(info.hasHeader(), hasHeader);
    QCOMPARE(info.headerVersion(version), hasHeader);
    QCOMPARE(info.headerCompileTime(when), hasHeader);
    QCOMPARE(info.headerImageLength(length), hasHeader);
    QCOMPARE(info.availableImageSize(), tdu4(available));
    if (hasHeader) {
        QCOMPARE(int(version.type), 44);
        QCOMPARE(int(version.major), 2);
        QCOMPARE(int(version.minor), 20);
        QCOMPARE(int(version.revision), 7);
        QCOMPARE(int(when.year), 2025);
        QCOMPARE(int(when.month), 12);
        QCOMPARE(int(when.day), 6);
        QCOMPARE(int(when.second), 59);
        QCOMPARE(length,
            tdu4(uchar(file[16]) | uchar(file[17]) << 8 | uchar(file[18]) << 16
                | tdu4(uchar(file[19])) << 24));
    } else {
        QCOMPARE(int(version.type), 1);
        QCOMPARE(length, tdu4(77));
    }
    ZoFRMFileInfo::freeData(info.data);
}

void tst_ZoFRMFileStore::dataCopyIsTerminated()
{
    ZoFRMFileInfo info;
    info.setDataCopy(QByteArray("abc"));
    QCOMPARE(info.size, tdu4(3));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(info.data), 4), QByteArray("abc\0", 4));
    const ZoFRMFileInfo copy = info; // shares, never frees
    QCOMPARE(copy.data, info.data);
    ZoFRMFileInfo::freeData(info.data);
}

void tst_ZoFRMFileStore::replaceKeepsOnlyTheNewest()
{
    // The first buffer must be released on replacement: the sanitizer build
    // reports it as a leak otherwise.
    ZoFRMFileStore store;
    QVERIFY(store.setFRMFileInfo(record(4, QByteArray(100, 'a'))));
    QVERIFY(store.setFRMFileInfo(record(4, firmwareFile(0, 0))));
    QCOMPARE(store.count(), 1);
    bool found = false;
    const ZoFRMFileInfo got = store.getFRMFileInfo(4, found);
    QVERIFY(found);
    QCOMPARE(got.size, ZoFRMFileInfo::HeaderSize);
    QCOMPARE(got.availableImageSize(), tdu4(0));
    QCOMPARE(int(got.version.major), 1);
}

void tst_ZoFRMFileStore::storingFetchedRecordAgainKeepsBuffer()
{
    ZoFRMFileStore store;
    store.setFRMFileInfo(record(44, QByteArray("firmware")));
    bool found = false;
    ZoFRMFileInfo again = store.getFRMFileInfo(44, found);
    again.nickNameEn = QStringLiteral("renamed");
    QVERIFY(store.setFRMFileInfo(again));
    const ZoFRMFileInfo got = store.getFRMFileInfo(44, found);
    QCOMPARE(got.nickNameEn, QStringLiteral("renamed"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(got.data), int(got.size)),
        QByteArray("firmware"));
}

void tst_ZoFRMFileStore::separateFids()
{
    ZoFRMFileStore store;
    store.setFRMFileInfo(record(4, QByteArray(10, 'x')));
    store.setFRMFileInfo(record(44, QByteArray(20, 'y')));
    ZoFRMFileInfo empty;
    empty.fid = 45;
    store.setFRMFileInfo(empty); // no data is allowed
    bool found = false;
    QCOMPARE(store.getFRMFileInfo(4, found).size, tdu4(10));
    QVERIFY(found);
    QCOMPARE(store.getFRMFileInfo(44, found).size, tdu4(20));
    QVERIFY(found);
    const ZoFRMFileInfo e = store.getFRMFileInfo(45, found);
    QVERIFY(found);
    QVERIFY(e.data == nullptr);
    QVERIFY(!e.hasHeader());
}

void tst_ZoFRMFileStore::missingFid()
{
    ZoFRMFileStore store;
    store.setFRMFileInfo(record(4, QByteArray(10, 'x')));
    bool found = true;
    const ZoFRMFileInfo got = store.getFRMFileInfo(4 + 256, found);
    QVERIFY(!found);
    QCOMPARE(got.size, tdu4(0));
    QVERIFY(got.data == nullptr);
    QCOMPARE(int(got.fid), 0);
    QCOMPARE(got.version.number(), tdu4(0));
}

QTEST_GUILESS_MAIN(tst_ZoFRMFileStore)
#include "tst_zofrmfilestore.moc"
