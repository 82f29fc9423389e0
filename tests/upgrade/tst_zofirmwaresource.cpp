#include "ZoFRMFileStore.h"
#include "ZoFirmwareSource.h"
#include "ZoTestFirmware.h"
#include "ZoTestHttpServer.h"

#include <QCryptographicHash>
#include <QtTest>

// Where targets come from, against an HTTP peer on 127.0.0.1 that plays the
// cloud: a catalogue whose entries name files on the same peer. The test
// applies what arrives to the store, as the engine does. How the cloud's
// answers are read (an entry without a file, bad bodies) is its client's test.
class TstZoFirmwareSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The source: "cloud T..." a catalogue of fid 80 listing types T with a
    // file each, version reports on; "refused" a catalogue answered with
    // status 500, "local T..." offline files ("T*" one without bytes), both
    // with reports off. After the arrow: what arrived in order and how the
    // fetch ended; the types the store gives; the requests the peer saw, a
    // flashed device's version report last.
    void fetch_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("catalogue and its files")
            << "cloud 80 38 -> 38 80 ok; 80 38; cat fw38 fw80 report";
        QTest::newRow("cloud refuses, reports off") << "refused -> failed; ; cat";
        QTest::newRow("offline files stand in") << "local 80 38* -> 80 38 ok; 80 38; ";
    }

    void fetch()
    {
        QFETCH(QString, row);
        const QStringList f = row.split(QRegularExpression(" *(;|->) *"));
        const QStringList in = f[0].split(' ');
        ZoTestHttpServer cloud;
        QVERIFY(cloud.listen());
        ZoFRMFileStore store;
        ZoFirmwareSource source(&store, cloud.url(QString()));
        QMap<int, QString> sha; // of the bytes offered, none without
        QList<ZoFRMFileInfo> offered;
        QStringList entries;
        for (const QString &t : in.mid(1)) {
            const int type = t.left(2).toInt();
            ZoFRMFileInfo file;
            file.fid = tdu1(type);
            file.version = {tdu1(type), 1, 9, 0};
            if (!t.endsWith('*')) {
                file.setBytes(
                    zoTestFirmwareBytes(200 + type, file.version, 200 + type, char(type)));
                sha[type]
                    = QCryptographicHash::hash(file.bytes(), QCryptographicHash::Sha256).toHex();
            }
            offered << file;
            const QString path = QStringLiteral("/fw%1.bin").arg(type);
            cloud.setResponse(path.toLatin1(), {200, file.bytes(), {}, -1, 0, 0});
            entries << QString(R"({"fid":%1,"version":"1.9.0","upgradePath":"%2"})")
                           .arg(type)
                           .arg(cloud.url(path));
        }
        const QString catalogue = R"({"status":200,"message":"success","data":{"firmwares":[%1]}})";
        cloud.setResponse("/app/api/user/firmware/getFirmware",
            {in[0] == "refused" ? 500 : 200, catalogue.arg(entries.join(',')).toUtf8(), {}, -1, 0,
                0});
        cloud.setResponse("/app/api/user/machineInfo/editVersion",
            {200, R"({"status":200,"message":"success","data":{}})", {}, -1, 0, 0});
        if (in[0] == "local")
            source.setLocalFirmware(offered);
        QVERIFY(source.versionReporting());
        source.setVersionReporting(in[0] == "cloud");

        QStringList events;
        connect(&source, &ZoFirmwareSource::sigTargetReady, this, [&](const ZoFRMFileInfo &t) {
            events << QString::number(t.fid);
            store.setFRMFileInfo(t);
        });
        connect(&source, &ZoFirmwareSource::sigFetchFinished, this,
            [&](bool ok) { events << (ok ? "ok" : "failed"); });
        source.fetch(80, ZoFirmwareSource::CloudCustom, "key");
        QVERIFY(events.isEmpty()); // queued, offline too
        QTRY_VERIFY_WITH_TIMEOUT(events.contains("ok") || events.contains("failed"), 5000);
        QVERIFY(!source.hasRequestInFlight());
        QCOMPARE(events.join(' '), f[1]);
        for (const int type : {80, 38}) {
            bool has = false;
            source.file(tdu1(type), has);
            QCOMPARE(has, f[2].contains(QString::number(type)));
            QCOMPARE(source.fileSha256(tdu1(type)), has ? sha.value(type) : QString());
        }
        source.reportVersion({80, 1, 9, 0}, "A1");
        QTRY_VERIFY(!source.hasRequestInFlight());
        QStringList asked;
        for (const ZoTestHttpServer::Request &r : cloud.requests())
            asked << (r.path.startsWith("/fw")       ? QString(r.path.mid(1).chopped(4))
                    : r.path.endsWith("editVersion") ? "report"
                                                     : "cat");
        QCOMPARE(asked.join(' '), f[3]);
        if (!asked.isEmpty())
            QCOMPARE(
                cloud.requests()[0].body, QByteArray(R"({"fid":80,"special":"key","type":3})"));
    }
};

QTEST_GUILESS_MAIN(TstZoFirmwareSource)
#include "tst_zofirmwaresource.moc"
