#include "ZoHttpHelper.h"
#include "ZoTestCloudSim.h"
#include "ZoTestLog.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const char kCheckPath[] = "/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl";

const QByteArray kTwoReleases = R"({"releases": [
  {"match": {"key": 7}, "cdt": "2026-11-28 09:00:00", "importanceLevel": 1,
   "description": "mandatory", "version": "2.1.9.3", "archive": "Tolvane-2.1.9.3.zip"},
  {"match": {"key": 3, "code": "K-42"}, "cdt": "2026-11-27 08:00:00", "importanceLevel": 2,
   "description": "coded", "version": "2.1.9.4", "archive": "Tolvane-2.1.9.4.zip"},
  {"cdt": "2026-11-20 10:15:00", "importanceLevel": 2, "description": "ordinary",
   "version": "2.1.9.2", "archive": "Tolvane-2.1.9.2.zip"}]})";

// Signals of one check, in arrival order.
struct Outcome
{
    QList<ZoHaldenUpdateInfo> offered;
    QStringList failed;
    explicit Outcome(ZoHttpHelper &h)
    {
        QObject::connect(&h, &ZoHttpHelper::sigHaldenUpgradeTipDownloaded,
            [this](const ZoHaldenUpdateInfo &i) { offered << i; });
        QObject::connect(
            &h, &ZoHttpHelper::sigDownloadFailed, [this](const QString &e) { failed << e; });
    }
    int count() const { return offered.size() + failed.size(); }
};

// Starts the simulator serving releases, with faults ("kind[=value]") on the
// check address; "untrusted" serves HTTPS under the simulator's self-signed
// certificate. Returns the check address, empty if the simulator did not start.
QString serve(ZoTestCloudSim &sim, const QByteArray &releases, QStringList faults = {})
{
    const bool https = faults.removeAll(QStringLiteral("untrusted")) > 0;
    for (QString &fault : faults)
        fault.prepend(QLatin1String(kCheckPath) + QLatin1Char(':'));
    if (!sim.writeFile(QStringLiteral("releases.json"), releases) || !sim.start(https, faults))
        return QString();
    return sim.baseUrl() + QLatin1String(kCheckPath);
}

} // namespace

class tst_ZoHttpHelper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void requestBody_data();
    void requestBody();
    void cloudReplies_data();
    void cloudReplies();
    void replyShapes_data();
    void replyShapes();
    void timeoutReportedOnce_data();
    void timeoutReportedOnce();
    void unusableAddress_data();
    void unusableAddress();
};

void tst_ZoHttpHelper::requestBody_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expectedBody");
    QTest::addColumn<QString>("expectedVersion");
    QTest::addColumn<int>("expectedLevel");

    QTest::newRow("no channel, no code") << -1 << ""
                                         << R"({"key":-1})"
                                         << "2.1.9.2" << 2;
    QTest::newRow("mandatory channel") << 7 << ""
                                       << R"({"key":7})"
                                       << "2.1.9.3" << 1;
    QTest::newRow("with code") << 3 << "K-42"
                               << R"({"code":"K-42","key":3})"
                               << "2.1.9.4" << 2;
}

void tst_ZoHttpHelper::requestBody()
{
    QFETCH(int, channel);
    QFETCH(QString, code);
    QFETCH(QString, expectedBody);

    ZoTestCloudSim sim;
    const QString url = serve(sim, kTwoReleases);
    QVERIFY(!url.isEmpty());
    ZoHttpHelper helper;
    Outcome out(helper);
    helper.checkUpgrade(channel, code, url);
    QTRY_COMPARE(out.count(), 1);

    const QList<QJsonObject> seen = sim.requests();
    QCOMPARE(sim.paths(), QStringList {QStringLiteral("POST ") + kCheckPath});
    QCOMPARE(QJsonDocument(seen[0].value("body").toObject()).toJson(QJsonDocument::Compact),
        expectedBody.toUtf8());
    QCOMPARE(
        seen[0].value("contentType").toString(), QStringLiteral("application/json;charset=UTF-8"));
    QCOMPARE(seen[0].value("cacheControl").toString(), QStringLiteral("no-cache"));
    QCOMPARE(out.failed, QStringList());
    QTEST(out.offered[0].version, "expectedVersion");
    QTEST(out.offered[0].importanceLevel, "expectedLevel");
}

void tst_ZoHttpHelper::cloudReplies_data()
{
    QTest::addColumn<QByteArray>("releases");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("errorText"); // a refused check carries the reply's error text
    QTest::addColumn<QString>("logged");

    const QByteArray noLevel = R"({"releases": [{"cdt": "c", "description": "d",
        "version": "3.0", "archive": "a.zip"}]})";
    QTest::newRow("offered") << kTwoReleases << QStringList() << true << false << "";
    QTest::newRow("no importanceLevel") << noLevel << QStringList() << true << false << "";
    QTest::newRow("empty data") << QByteArray(R"({"releases": []})") << QStringList() << false
                                << false << "";
    QTest::newRow("service status") << kTwoReleases << QStringList {"apiStatus=500"} << false
                                    << false << "Nimbra Server Reply not success:";
    QTest::newRow("http status") << kTwoReleases << QStringList {"status=503"} << false << true
                                 << "ZoHttpHelper::onUpgradeReplyFinished reply error ";
    QTest::newRow("empty body") << kTwoReleases << QStringList {"empty"} << false << false
                                << "ZoHttpHelper::onUpgradeReplyFinished reply content empty ";
    QTest::newRow("dropped mid-body") << kTwoReleases << QStringList {"drop=40"} << false << true
                                      << "ZoHttpHelper::onUpgradeReplyFinished reply error ";
    QTest::newRow("late but in time")
        << kTwoReleases << QStringList {"delay=1500"} << true << false << "";
    QTest::newRow("untrusted certificate")
        << kTwoReleases << QStringList {"untrusted"} << false << true << "SSL error: ";
}

void tst_ZoHttpHelper::cloudReplies()
{
    QFETCH(QByteArray, releases);
    QFETCH(QStringList, faults);
    QFETCH(bool, accepted);
    QFETCH(QString, logged);

    ZoTestCloudSim sim;
    const QString url = serve(sim, releases, faults);
    QVERIFY(!url.isEmpty());
    ZoTestLogCapture log;
    ZoHttpHelper helper;
    Outcome out(helper);
    helper.checkUpgrade(5, QString(), url);
    QTRY_COMPARE(out.count(), 1);

    if (accepted) {
        const ZoHaldenUpdateInfo &info = out.offered.value(0);
        QVERIFY(!info.version.isEmpty());
        QCOMPARE(info.importanceLevel, 2);
        QVERIFY(info.url.startsWith(QStringLiteral("http://127.0.0.1:")));
        QVERIFY(info.url.endsWith(QStringLiteral(".zip")));
    } else {
        QCOMPARE(out.failed.size(), 1);
        QTEST(!out.failed[0].isEmpty(), "errorText");
    }
    if (!logged.isEmpty())
        QVERIFY(log.contains(logged));
    QTest::qWait(50);
    QCOMPARE(out.count(), 1);
}

void tst_ZoHttpHelper::replyShapes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("level");

    const QByteArray data = R"("data":{"cdt":"c","version":"2.1.10","url":"http://x/a.zip",
                               "description":"notes","importanceLevel":1})";
    QTest::newRow("complete") << QByteArray(R"({"status":200,"message":"ok",)" + data + "}") << true
                              << 1;
    // The envelope's own failures are the envelope's test; what this parser
    // adds is a message it insists on and the level it reads.
    QTest::newRow("no message") << QByteArray(R"({"status":200,)" + data + "}") << false << 0;
    QTest::newRow("level as text") << QByteArray(
        R"({"status":200,"message":"ok","data":{"version":"2","importanceLevel":"1"}})")
                                   << true << 2;
    QTest::newRow("level fractional") << QByteArray(
        R"({"status":200,"message":"ok","data":{"version":"2","importanceLevel":1.5}})")
                                      << true << 2;
}

void tst_ZoHttpHelper::replyShapes()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, accepted);

    // Shapes a real service might send but the simulator never does; the
    // replies above show that the check takes its verdict from this parser.
    ZoHaldenUpdateInfo info;
    QCOMPARE(ZoHttpHelper::parseReplyBody(body, info), accepted);
    if (accepted)
        QTEST(info.importanceLevel, "level");
}

void tst_ZoHttpHelper::timeoutReportedOnce_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("answer after 4.5 s") << "delay=4500";
    QTest::newRow("no answer at all") << "hang=5";
}

void tst_ZoHttpHelper::timeoutReportedOnce()
{
    QFETCH(QString, fault);
    ZoTestCloudSim sim;
    const QString url = serve(sim, kTwoReleases, {fault});
    QVERIFY(!url.isEmpty());
    ZoTestLogCapture log;
    ZoHttpHelper helper;
    Outcome out(helper);
    QElapsedTimer clock;
    clock.start();
    helper.checkUpgrade(5, QString(), url);

    QTRY_COMPARE_WITH_TIMEOUT(out.count(), 1, 6000);
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= 2990 && took < 4000, qPrintable(QString::number(took)));
    // No translator is installed here, so the text is its key.
    QCOMPARE(out.failed, QStringList {QStringLiteral("MsgRequestTimeout")});
    // Past the moment the server would have answered: still one report.
    QTest::qWait(2200);
    QCOMPARE(out.count(), 1);
    QCOMPARE(log.count("ZoHttpHelper::onCheckTimeout"), 1);
}

void tst_ZoHttpHelper::unusableAddress_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << "";
    QTest::newRow("nobody listening") << "http://127.0.0.1:1/check";
    QTest::newRow("no scheme") << "not a url";
}

void tst_ZoHttpHelper::unusableAddress()
{
    QFETCH(QString, url);
    ZoHttpHelper helper;
    Outcome out(helper);
    helper.checkUpgrade(1, QString(), url);
    QTRY_COMPARE(out.count(), 1);
    QCOMPARE(out.failed.size(), 1);
    QVERIFY(!out.failed[0].isEmpty());
    QTest::qWait(50);
    QCOMPARE(out.count(), 1);
}

QTEST_GUILESS_MAIN(tst_ZoHttpHelper)
#include "tst_zohttphelper.moc"
