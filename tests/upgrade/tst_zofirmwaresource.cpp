#include "ZoFRMFileStore.h"
#include "ZoFirmwareSource.h"
#include "ZoTestFirmware.h"
#include "ZoTestHttpServer.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QtTest>

// Where targets come from, against an HTTP peer on 127.0.0.1 that plays the
// cloud: a catalogue whose entries name files on the same peer. The test
// applies what arrives to the store, as the engine does.
namespace {

const QByteArray CataloguePath = "/app/api/user/firmware/getFirmware";
const QByteArray ReportPath = "/app/api/user/machineInfo/editVersion";

ZoFRMFileInfo file(int type, int bytes)
{
    ZoFRMFileInfo f;
    f.fid = tdu1(type);
    f.version = {tdu1(type), 1, 9, 0};
    if (bytes >= 0)
        f.setBytes(zoTestFirmwareBytes(tdu4(bytes), f.version, bytes, char(type)));
    return f;
}

QString sha(const ZoFRMFileInfo &f)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(f.bytes(), QCryptographicHash::Sha256).toHex());
}

} // namespace

class TstZoFirmwareSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The source: "cloud T..." a catalogue of fid 80 listing types T with a
    // file each ("T-" none named; how the cloud fails is its client's test),
    // "status 500", or
    // "local T..." offline files ("T*" one without bytes). After the arrow:
    // what arrived in order and how the fetch ended; then, per type, what the
    // store gives ("none": no file); then the requests the peer saw.
    void fetch_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("catalogue and its files")
            << "cloud 80 38 -> 38 80 ok ; 80 38 ; catalogue fw38 fw80";
        QTest::newRow("an entry without a file") << "cloud 80 38- -> 80 ok ; 80 ; catalogue fw80";
        QTest::newRow("cloud refuses") << "status 500 -> failed ; none ; catalogue";
        QTest::newRow("offline files stand in") << "local 80 38 -> 80 38 ok ; 80 38 ; ";
        QTest::newRow("offline, a file without bytes") << "local 80 38* -> 80 38 ok ; 80 38 ; ";
        QTest::newRow("offline, nothing") << "local -> ok ; none ; ";
    }

    void fetch()
    {
        QFETCH(QString, row);
        const QStringList in = row.section(QStringLiteral(" -> "), 0, 0).split(QLatin1Char(' '));
        const QStringList out = row.section(QStringLiteral(" -> "), 1).split(QStringLiteral(" ; "));
        ZoTestHttpServer cloud;
        QVERIFY(cloud.listen());
        ZoFRMFileStore store;
        ZoFirmwareSource source(&store, cloud.url(QString()));
        QMap<int, ZoFRMFileInfo> files;
        QList<ZoFRMFileInfo> offered; // in the row's order
        QJsonArray entries;
        for (const QString &t : in.mid(1)) {
            const int type = t.left(2).toInt();
            const ZoFRMFileInfo f = file(type, t.endsWith(QLatin1Char('*')) ? -1 : 200 + type);
            files.insert(type, f);
            offered << f;
            const QByteArray path = "/fw" + QByteArray::number(type) + ".bin";
            QJsonObject e {{QStringLiteral("fid"), type},
                {QStringLiteral("version"), QStringLiteral("1.9.0")}};
            if (!t.endsWith(QLatin1Char('-')))
                e.insert(QStringLiteral("upgradePath"), cloud.url(QString::fromLatin1(path)));
            cloud.setResponse(path, {200, f.bytes(), {}, -1, 0, 0});
            entries.append(e);
        }
        const QJsonObject catalogue {{QStringLiteral("status"), 200},
            {QStringLiteral("message"), QStringLiteral("success")},
            {QStringLiteral("data"), QJsonObject {{QStringLiteral("firmwares"), entries}}}};
        cloud.setResponse(CataloguePath,
            {in[0] == QLatin1String("status") ? 500 : 200, QJsonDocument(catalogue).toJson(), {},
                -1, 0, 0});
        if (in[0] == QLatin1String("local"))
            source.setLocalFirmware(offered);

        QStringList events;
        connect(&source, &ZoFirmwareSource::sigTargetReady, this, [&](const ZoFRMFileInfo &f) {
            events << QString::number(f.fid);
            store.setFRMFileInfo(f);
        });
        connect(&source, &ZoFirmwareSource::sigFetchFinished, this,
            [&](bool ok) { events << QLatin1String(ok ? "ok" : "failed"); });
        source.fetch(80, ZoFirmwareSource::CloudCustom, QStringLiteral("key"));
        QVERIFY(events.isEmpty()); // queued, offline too
        QTRY_VERIFY_WITH_TIMEOUT(
            events.contains(QLatin1String("ok")) || events.contains(QLatin1String("failed")), 5000);
        QVERIFY(!source.hasRequestInFlight());
        QCOMPARE(events.join(QLatin1Char(' ')), out[0]);

        QStringList found;
        for (const int type : {80, 38}) {
            bool has = false;
            const ZoFRMFileInfo f = source.file(tdu1(type), has);
            if (has)
                found << QString::number(type);
            // The digest of the bytes, none without them.
            QCOMPARE(source.fileSha256(tdu1(type)),
                has && !f.bytes().isNull() ? sha(files[type]) : QString());
        }
        QCOMPARE(found.isEmpty() ? QStringLiteral("none") : found.join(QLatin1Char(' ')), out[1]);

        QStringList asked;
        for (const ZoTestHttpServer::Request &r : cloud.requests())
            asked << (r.path == CataloguePath ? QStringLiteral("catalogue")
                                              : QString::fromLatin1(r.path.mid(1).chopped(4)));
        QCOMPARE(asked.join(QLatin1Char(' ')), out.value(2).trimmed());
        if (!asked.isEmpty())
            QCOMPARE(
                cloud.requests()[0].body, QByteArray(R"({"fid":80,"special":"key","type":3})"));
    }

    // A flashed device's version goes to the cloud unless reporting is off.
    void report()
    {
        ZoTestHttpServer cloud;
        QVERIFY(cloud.listen());
        cloud.setResponse(
            ReportPath, {200, R"({"status":200,"message":"success","data":{}})", {}, -1, 0, 0});
        ZoFRMFileStore store;
        ZoFirmwareSource source(&store, cloud.url(QString()));
        QVERIFY(source.versionReporting());
        source.setVersionReporting(false);
        source.reportVersion({80, 1, 9, 0}, QStringLiteral("A1"));
        QVERIFY(!source.hasRequestInFlight());
        source.setVersionReporting(true);
        source.reportVersion({80, 1, 9, 0}, QStringLiteral("A1"));
        QVERIFY(source.hasRequestInFlight());
        QTRY_VERIFY(!source.hasRequestInFlight());
        QCOMPARE(cloud.requests().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstZoFirmwareSource)
#include "tst_zofirmwaresource.moc"
