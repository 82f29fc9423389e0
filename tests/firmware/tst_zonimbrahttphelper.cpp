// The cloud client against tolvane-cloud-sim on loopback, over HTTP and HTTPS.

#include "ZoCloudAddress.h"
#include "ZoTestCloudClient.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString CataloguePath = QStringLiteral("/app/api/user/firmware/getFirmware");
const QString EditVersionPath = QStringLiteral("/app/api/user/machineInfo/editVersion");

// fid 4 with a firmware file and a path file, fid 44 with a path file only.
QJsonArray twoEntries()
{
    return QJsonDocument::fromJson(R"([
        {"fid": 4, "version": "2.1.9", "upgradeFile": "fw4.bin", "pathFile": "p4.bin",
         "nickName": "飞控", "nickNameEn": "Core",
         "upgradeDescription": "说明", "UpgradeDescriptionEn": "Notes"},
        {"fid": 44, "version": "1.0.3", "pathFile": "p44.bin"}])")
        .array();
}

void serveTwoEntries(
    ZoTestCloudSim &sim, const QByteArray &firmware, int branch = 1, const QString &special = {})
{
    QVERIFY(zoWriteCatalogue(sim, twoEntries(), branch, special));
    QVERIFY(sim.writeFile(QStringLiteral("files/fw4.bin"), firmware));
    QVERIFY(sim.writeFile(QStringLiteral("files/p4.bin"), "path of 4"));
    QVERIFY(sim.writeFile(QStringLiteral("files/p44.bin"), "path of 44"));
}

} // namespace

class tst_ZoNimbraHttpHelper : public QObject
{
    Q_OBJECT

private slots:
    void baseAddress_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected"); // empty: the build's default
        QTest::addColumn<bool>("warns");
        QTest::newRow("unset") << QString() << QString() << false;
        QTest::newRow("loopback with port") << "http://127.0.0.1:8080/"
                                            << "http://127.0.0.1:8080" << false;
        QTest::newRow("blanks and slashes") << " https://cloud.test.invalid// "
                                            << "https://cloud.test.invalid" << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1" << QString() << true;
        QTest::newRow("no scheme") << "127.0.0.1:80" << QString() << true;
    }
    void baseAddress()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QFETCH(bool, warns);
        if (expected.isEmpty())
            expected = ZoCloudAddress::defaultBaseUrl();
        const QByteArray saved = qgetenv(ZoCloudAddress::EnvironmentVariable);
        qputenv(ZoCloudAddress::EnvironmentVariable, value.toUtf8());
        for (int i = 0; warns && i < 3; ++i) // one per resolution below
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QStringLiteral("ignoring TOLVANE_CLOUD_URL")));
        const QString base = ZoCloudAddress::baseUrl();
        const QString query = ZoCloudAddress::softwareUpgradeQueryUrl();
        const ZoNimbraHttpHelper helper;
        qputenv(ZoCloudAddress::EnvironmentVariable, saved);

        QCOMPARE(base, expected);
        QCOMPARE(query,
            expected + QStringLiteral("/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl"));
        QCOMPARE(helper.baseUrl(), expected);
    }

    void parseCatalogue_data()
    {
        QTest::addColumn<QByteArray>("firmwares"); // the JSON array
        QTest::addColumn<bool>("ok"); // with fid 4 asked for
        QTest::addColumn<QString>("entries"); // fid:type.major.minor.revision:nickName, ...

        const auto row = [](const char *name, const char *firmwares, bool ok, const char *entries) {
            QTest::newRow(name) << QByteArray(firmwares) << ok << QString::fromLatin1(entries);
        };
        row("versions keep their low byte", R"([{"fid":4,"version":"256.0.-1","nickName":"a"}])",
            true, "4:4.0.0.255:a");
        row("fid beyond a byte names its low byte",
            R"([{"fid":260,"version":"1.2.3"},{"fid":4,"version":"1.0.0"}])", true,
            "4:4.1.0.0:,260:4.1.2.3:");
        row("a later fid replaces the earlier",
            R"([{"fid":4,"version":"1.0.0","nickName":"old"},{"fid":4,"version":"1.0.1","nickName":"new"}])",
            true, "4:4.1.0.1:new");
        row("a bad element keeps the ones before",
            R"([{"fid":4,"version":"1.0.0"},{"fid":5,"version":"1.0"},{"fid":6,"version":"1.0.0"}])",
            false, "4:4.1.0.0:");
        row("four parts", R"([{"fid":4,"version":"1.2.3.4"}])", false, "");
        row("empty part", R"([{"fid":4,"version":"1..3"}])", false, "");
        row("not decimal", R"([{"fid":4,"version":"1.2.x3"}])", false, "");
        row("padded part", R"([{"fid":4,"version":"1. 2.3"}])", false, "");
    }
    void parseCatalogue()
    {
        QFETCH(QByteArray, firmwares);

        const QByteArray body
            = R"({"status":200,"message":"success","data":{"firmwares":)" + firmwares + "}}";
        ZoNimbraHttpHelper::Catalogue catalogue;
        QTEST(ZoNimbraHttpHelper::parseCatalogue(body, 4, catalogue), "ok");
        QStringList seen;
        for (const ZoFirmwareUpgInfo &e : catalogue)
            seen << QString::asprintf("%d:%d.%d.%d.%d:%s", e.fid, e.version.type, e.version.major,
                e.version.minor, e.version.revision, qUtf8Printable(e.nickName));
        QTEST(seen.join(QLatin1Char(',')), "entries");

        // The envelope around a good list decides as well.
        const QByteArray stringStatus
            = R"({"status":"200","message":"","data":{"firmwares":)" + firmwares + "}}";
        ZoNimbraHttpHelper::Catalogue none;
        QVERIFY(!ZoNimbraHttpHelper::parseCatalogue(stringStatus, 4, none));
    }

    void downloadsCatalogue_data()
    {
        QTest::addColumn<bool>("https");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("branch");
        QTest::addColumn<QString>("special");
        QTest::newRow("http development") << false << 4096 << 2 << QString();
        QTest::newRow("http custom branch") << false << 64 << 3 << QStringLiteral("K-17");
        QTest::newRow("https 2 MiB") << true << 2 * 1024 * 1024 << 1 << QString();
    }
    void downloadsCatalogue()
    {
        QFETCH(bool, https);
        QFETCH(int, size);
        QFETCH(int, branch);
        QFETCH(QString, special);

        ZoTestCloudSim sim;
        QByteArray firmware(size, Qt::Uninitialized);
        QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(firmware.data()), size / 4);
        serveTwoEntries(sim, firmware, branch, special);
        QVERIFY(sim.start(https));
        ZoTestCloudClient client(sim, 5000);

        client.helper.requestFirmware(4, branch, special);
        QTRY_COMPARE_WITH_TIMEOUT(client.events.size(), 2, 15000);
        QCOMPARE(client.events, (QStringList {"file 4", "result 1 4"}));

        const ZoFRMFileInfo &info = client.files.at(0);
        QCOMPARE(info.fid, tdu1(4));
        QCOMPARE((QList<int> {info.version.type, info.version.major, info.version.minor,
                     info.version.revision}),
            (QList<int> {4, 2, 1, 9}));
        QCOMPARE(QStringList({info.nickName, info.nickNameEn, info.upgradeDescription,
                     info.upgradeDescriptionEn}),
            QStringList({"飞控", "Core", "说明", "Notes"}));
        QVERIFY(info.bytes() == firmware);

        QCOMPARE(sim.paths(),
            (QStringList {"POST " + CataloguePath, "GET /files/fw4.bin", "GET /files/p4.bin",
                "GET /files/p44.bin"}));
        const QList<QJsonObject> requests = sim.requests();
        QCOMPARE(requests.at(0).value("body").toObject(),
            (QJsonObject {{"fid", 4}, {"type", branch}, {"special", special}}));
        QCOMPARE(zoFields(requests.at(0), "contentType cacheControl"),
            QStringLiteral("application/json;charset=UTF-8 no-cache"));
        for (int i = 1; i < requests.size(); ++i) {
            QCOMPARE(zoText(requests.at(i), "userAgent"), QStringLiteral("RAZERAzedad 2.0"));
            QVERIFY(!requests.at(i).contains("cacheControl"));
        }
    }

    void catalogueFailures_data()
    {
        QTest::addColumn<QJsonArray>("firmwares");
        QTest::addColumn<int>("requestedFid");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("log"); // a line the failure must log, "W " for a warning
        const QString cat = CataloguePath + QLatin1Char(':');
        const QJsonArray good = twoEntries();

        const auto row = [](const char *name, const QJsonArray &firmwares, int fid,
                             const QString &fault = {}, const QString &log = {}) {
            QTest::newRow(name) << firmwares << fid << fault << log;
        };
        row("unsuccessful", good, 4, cat + "apiStatus=500",
            "Nimbra Server Reply not success: 500 injected service status");
        row("HTTP error", good, 4, cat + "status=503", "W found error ....code: 503 ");
        row("dropped mid-body", good, 4, cat + "drop");
        row("catalogue hangs", good, 4, cat + "hang=3");
        row("no catalogue for the fid", good, 9);
        const QJsonObject noFile {{"fid", 4}, {"version", "1.0.0"}, {"pathFile", "p4.bin"}};
        row("missing fid",
            {QJsonObject {{"fid", 8}, {"version", "1.0.0"}, {"upgradeFile", "fw4.bin"}}}, 4);
        row("no upgradePath", {noFile}, 4);
        row("no firmwares", {}, 4);
        QJsonObject local = noFile;
        local.insert(QStringLiteral("upgradePath"), QStringLiteral("file:///etc/passwd"));
        row("local file address", {local}, 4, {},
            "W ZoNimbraHttpHelper::download refuse address file:///etc/passwd");
        // The simulator's certificate is self-signed; this client does not trust it.
        row("untrusted certificate", good, 4, "untrusted");
    }
    void catalogueFailures()
    {
        QFETCH(QJsonArray, firmwares);
        QFETCH(int, requestedFid);
        QFETCH(QString, fault);
        QFETCH(QString, log);

        ZoTestCloudSim sim;
        serveTwoEntries(sim, "firmware");
        QVERIFY(zoWriteCatalogue(sim, firmwares));
        const bool untrusted = fault == QLatin1String("untrusted");
        QVERIFY(sim.start(
            untrusted, fault.isEmpty() || untrusted ? QStringList() : QStringList {fault}));
        ZoTestCloudClient client(sim, 500, !untrusted);
        if (log.startsWith("W "))
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QRegularExpression::escape(log.mid(2))));
        else if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(log)));

        client.helper.requestFirmware(tdu1(requestedFid), 1, QString());
        QTRY_COMPARE_WITH_TIMEOUT(client.events.size(), 1, 5000);
        QTest::qWait(100);
        QCOMPARE(client.events, QStringList {"result 0 1"});
        QCOMPARE(sim.paths(), untrusted ? QStringList() : QStringList {"POST " + CataloguePath});
    }

    void fileTimeouts_data()
    {
        QTest::addColumn<QString>("hangingFile");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("expected");
        const QStringList noFile {"result 0 3"};
        const QStringList noPath {"file 4", "result 0 4"};
        QTest::newRow("firmware file") << "fw4.bin" << "hang=1" << noFile;
        QTest::newRow("path file") << "p44.bin" << "hang=1" << noPath;
        // Headers and the first bytes came, then nothing.
        QTest::newRow("firmware file stalls") << "fw4.bin" << "stall=1,stallAt=3" << noFile;
        QTest::newRow("path file stalls, slowly") << "p44.bin" << "rate=20,stall=1" << noPath;
    }
    void fileTimeouts()
    {
        QFETCH(QString, hangingFile);
        QFETCH(QString, fault);
        QFETCH(QStringList, expected);

        ZoTestCloudSim sim;
        serveTwoEntries(sim, "firmware");
        QVERIFY(sim.start(false, {"/files/" + hangingFile + ":" + fault}));
        ZoTestCloudClient client(sim, 400);

        client.helper.requestFirmware(4, 1, QString());
        QTRY_COMPARE_WITH_TIMEOUT(client.events.size(), expected.size(), 3000);
        QCOMPARE(client.events, expected);
        // The hanging reply ends after a second; it must not add a result.
        QTest::qWait(1500);
        QCOMPARE(client.events, expected);
        QVERIFY(sim.paths().endsWith("GET /files/" + hangingFile));
    }

    // The reply of a superseded catalogue request that arrives while the next
    // catalogue's firmware file is downloading must leave that download's
    // timeout running. (A reply that timed out is aborted and never arrives.)
    void staleReplyKeepsTimeout()
    {
        ZoTestCloudSim sim;
        serveTwoEntries(sim, "firmware");
        QVERIFY(sim.start(false, {CataloguePath + ":delay=1500,times=1", "/files/fw4.bin:hang=5"}));
        ZoTestCloudClient client(sim, 2000);

        client.helper.requestFirmware(4, 1, QString());
        QTRY_COMPARE_WITH_TIMEOUT(sim.requests().size(), 1, 2000);
        client.helper.requestFirmware(4, 1, QString());
        QTRY_COMPARE_WITH_TIMEOUT(client.events.size(), 1, 4000);
        QCOMPARE(client.events, QStringList {"result 0 3"});

        // The stale reply (sent 1500 ms after the first request) came while the
        // file download was running and before its timeout was due.
        const QList<QJsonObject> requests = sim.requests();
        QCOMPARE(requests.size(), 3);
        const double staleAt = requests.at(0).value("t").toDouble() + 1500;
        const double downloadAt = requests.at(2).value("t").toDouble();
        QVERIFY2(downloadAt < staleAt && staleAt < downloadAt + 2000,
            "stale reply outside the download");
    }

    void versionReport_data()
    {
        QTest::addColumn<QList<int>>("version");
        QTest::addColumn<QString>("deviceID");
        QTest::addColumn<QString>("fault"); // "dead": nothing listens
        QTest::addColumn<QJsonObject>("body"); // as the server saw it
        QTest::addColumn<QString>("error"); // part of it; empty: taken
        const QString ev = EditVersionPath + QLatin1Char(':');
        const QJsonObject plain {{"deviceID", "a"}, {"version", "1.0.0"}, {"fid", "4"}};
        const QList<int> v100 {4, 1, 0, 0};

        const auto row = [](const char *name, const QList<int> &version, const QString &deviceID,
                             const QString &fault, const QJsonObject &body, const QString &error) {
            QTest::newRow(name) << version << deviceID << fault << body << error;
        };
        row("report", {4, 2, 1, 9}, "SN-0001", {},
            {{"deviceID", "SN-0001"}, {"version", "2.1.9"}, {"fid", "4"}}, {});
        row("bytes in decimal", {44, 255, 0, 10}, "FC ÄÖ 7", {},
            {{"deviceID", "FC ÄÖ 7"}, {"version", "255.0.10"}, {"fid", "44"}}, {});
        row("slow answer within the timeout", v100, "a", ev + "delay=400", plain, {});
        row("server error", v100, "a", ev + "status=500", plain, "Internal Server Error");
        row("service refuses", v100, "a", ev + "apiStatus=403", plain, "the service answered 403");
        row("no answer", v100, "a", ev + "hang=3", plain, "no answer within 800 ms");
        row("nothing listens", v100, "a", "dead", {}, "refused");
    }
    void versionReport()
    {
        QFETCH(QList<int>, version);
        QFETCH(QString, deviceID);
        QFETCH(QString, fault);
        QFETCH(QJsonObject, body);
        QFETCH(QString, error);

        ZoTestCloudSim sim;
        const bool dead = fault == QLatin1String("dead");
        QVERIFY(sim.start(false, fault.isEmpty() || dead ? QStringList() : QStringList {fault}));
        ZoTestCloudClient client(sim, 800);
        if (dead)
            client.helper.setBaseUrl(QStringLiteral("http://127.0.0.1:1"));
        QSignalSpy reported(&client.helper, &ZoNimbraHttpHelper::sigVersionReported);
        const tVersion sent {
            tdu1(version[0]), tdu1(version[1]), tdu1(version[2]), tdu1(version[3])};

        // Twice: a failed report must not hold back the next.
        client.helper.editVersion(sent, deviceID);
        client.helper.editVersion(sent, deviceID);
        QVERIFY(client.helper.hasVersionReportsPending());
        QVERIFY(!client.helper.isRequestPending());
        QTRY_COMPARE_WITH_TIMEOUT(reported.size(), 2, 4000);
        QVERIFY2(client.clock.elapsed() < 2 * 800 + 500, "a report outlasted its timeout");
        QVERIFY(!client.helper.hasVersionReportsPending());
        for (const QList<QVariant> &outcome : qAsConst(reported)) {
            QCOMPARE(outcome.at(0).toString(), deviceID);
            const tVersion told = outcome.at(1).value<tVersion>();
            QVERIFY(told.type == sent.type && told == sent);
            QCOMPARE(outcome.at(2).toBool(), error.isEmpty());
            QVERIFY2(
                outcome.at(3).toString().contains(error), qPrintable(outcome.at(3).toString()));
        }
        QVERIFY(client.events.isEmpty()); // no catalogue result

        const QList<QJsonObject> requests = sim.requests();
        QCOMPARE(requests.size(), dead ? 0 : 2);
        for (const QJsonObject &request : requests) {
            QCOMPARE(request.value("path").toString(), EditVersionPath);
            QCOMPARE(request.value("body").toObject(), body);
        }
    }

    // Reports made before a catalogue request (one still queued then) and
    // during its slow firmware file all reach the service, in order and while
    // the file is still coming; the file is neither cut nor fetched again.
    // It takes four times the timeout in all, but is never silent for long:
    // only a pause without progress ends a download.
    void reportsBesideDownload()
    {
        ZoTestCloudSim sim;
        const QByteArray firmware(3000, '\x5a');
        serveTwoEntries(sim, firmware);
        QVERIFY(sim.start(false, {"/files/fw4.bin:rate=1500"})); // two seconds
        ZoTestCloudClient client(sim, 500);
        QObject::connect(&client.helper, &ZoNimbraHttpHelper::sigVersionReported,
            [&client](QString id, tVersion v, bool ok) {
                client.events << QStringLiteral("report %1 %2 %3").arg(id).arg(v.minor).arg(ok);
            });
        const auto report = [&client](const char *id, int minor) {
            client.helper.editVersion(tVersion {4, 1, tdu1(minor), 0}, QLatin1String(id));
        };

        report("A", 1);
        report("B", 2);
        client.helper.requestFirmware(4, 1, QString());
        QTRY_VERIFY_WITH_TIMEOUT(sim.paths().contains("GET /files/fw4.bin"), 3000);
        report("A", 3);
        report("C", 4);
        QVERIFY(client.helper.isRequestPending());
        QTRY_COMPARE_WITH_TIMEOUT(client.events.size(), 6, 8000);
        QCOMPARE(client.events,
            (QStringList {"report A 1 1", "report B 2 1", "report A 3 1", "report C 4 1", "file 4",
                "result 1 4"}));
        QVERIFY(client.files.at(0).bytes() == firmware);
        QVERIFY2(client.resultAtMs > 1500, "the download was not slow");

        QStringList told;
        for (const QJsonObject &request : sim.requests())
            if (zoText(request, "path") == EditVersionPath)
                told << zoFields(request.value("body").toObject(), "deviceID version");
        QCOMPARE(told, (QStringList {"A 1.1.0", "B 1.2.0", "A 1.3.0", "C 1.4.0"}));
        QCOMPARE(sim.paths().count("GET /files/fw4.bin"), 1);
    }

    // Made from a slot, as the engine makes them, with a queued call pending
    // that deletes an object the slot still uses (a device record the roster
    // drops): the object outlives the call, which runs no events of its own.
    void callsRunNoEvents()
    {
        ZoTestCloudSim sim;
        serveTwoEntries(sim, "firmware");
        QVERIFY(sim.start());
        ZoTestCloudClient client(sim, 2000);
        const QList<std::function<void()>> calls {
            [&] {
                client.helper.editVersion(tVersion {4, 1, 0, 0}, QStringLiteral("a"));
            },
            [&] { client.helper.requestFirmware(4, 1, QString()); }};
        int survived = -1;
        QTimer::singleShot(0, &client.helper, [&] {
            survived = 0;
            for (const std::function<void()> &call : calls) {
                QObject *object = new QObject;
                QPointer<QObject> doomed = object;
                QMetaObject::invokeMethod(
                    &client.helper, [object] { delete object; }, Qt::QueuedConnection);
                call();
                survived += doomed ? 1 : 0;
            }
        });
        QTRY_VERIFY(survived >= 0);
        QCOMPARE(survived, 2);
        QTRY_COMPARE_WITH_TIMEOUT(client.events.size(), 2, 5000);
    }
};

QTEST_GUILESS_MAIN(tst_ZoNimbraHttpHelper)
#include "tst_zonimbrahttphelper.moc"
