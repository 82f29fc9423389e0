#include "ZoTestCloudSim.h"

#include <QtNetwork>
#include <QtTest>

// The cloud simulator run as a program on an ephemeral loopback port and
// spoken to the way the two clients speak: JSON POSTs with their headers and
// plain GETs, through QNetworkAccessManager. What the clients get on their
// good and failing paths is checked by their own tests against this program;
// here only what they never ask: refusals of malformed requests, faults from a
// file, shutting down while a reply hangs, the host name in the certificate.
namespace {

const QString kCatalogue = "/app/api/user/firmware/getFirmware";
const QString kEditVersion = "/app/api/user/machineInfo/editVersion";
const QString kRelease = "/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl";

const char kCatalogJson[] = R"({"catalogues": [
 {"fid": 4, "branch": 3, "special": "K3Y",
  "firmwares": [{"fid": 4, "version": "9.9.9", "upgradeFile": "fw4.bin"}]}]})";

const char kReleasesJson[] = R"({"releases": [
 {"cdt": "c1", "importanceLevel": 2, "description": "normal", "version": "2.1.9.2",
  "archive": "rel.zip"}]})";

QByteArray pattern(int n, int salt)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + salt) ^ (i >> 8));
    return b;
}

struct Result
{
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int http = 0;
    QByteArray body, contentLength;
    bool sslErrors = false;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QJsonObject data() const { return json().value("data").toObject(); }
};

QJsonObject lastRequestTo(const ZoTestCloudSim &sim, const QString &path)
{
    const QList<QJsonObject> all = sim.events();
    for (auto it = all.crbegin(); it != all.crend(); ++it)
        if (it->value("path").toString() == path)
            return *it;
    return {};
}

QJsonObject catalogueQuery(int fid, int type, const QString &special)
{
    return {{"fid", fid}, {"type", type}, {"special", special}};
}

} // namespace

class TstCloudSim : public QObject
{
    Q_OBJECT

private:
    QByteArray m_fw4 = pattern(5000, 3);
    ZoTestCloudSim m_sim; // plain HTTP, no faults
    QNetworkAccessManager m_nam;

    bool serve(ZoTestCloudSim &sim)
    {
        return sim.writeFile("catalog.json", kCatalogJson)
            && sim.writeFile("releases.json", kReleasesJson)
            && sim.writeFile("files/fw4.bin", m_fw4) && sim.writeFile("releases/rel.zip", "zip");
    }

    Result wait(QNetworkReply *reply, int timeoutMs)
    {
        Result r;
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        connect(reply, &QNetworkReply::sslErrors, this, [&r] { r.sslErrors = true; });
        if (!reply->isFinished())
            loop.exec();
        r.finished = reply->isFinished();
        // Unfinished: what came before the wait ran out.
        r.body = reply->readAll();
        if (!r.finished)
            reply->abort();
        r.error = reply->error();
        r.http = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.contentLength = reply->rawHeader("Content-Length");
        reply->deleteLater();
        return r;
    }

    Result post(const QString &url, const QJsonObject &body, int timeoutMs = 10000)
    {
        QNetworkRequest req {QUrl(url)};
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json;charset=UTF-8");
        req.setRawHeader("Cache-Control", "no-cache");
        return wait(m_nam.post(req, QJsonDocument(body).toJson(QJsonDocument::Compact)), timeoutMs);
    }

    Result get(const QString &url, int timeoutMs = 10000)
    {
        QNetworkRequest req {QUrl(url)};
        req.setRawHeader("User-Agent", "RAZERAzedad 2.0");
        return wait(m_nam.get(req), timeoutMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_nam.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(serve(m_sim));
        QVERIFY(m_sim.start());
    }

    void cleanupTestCase()
    {
        QVERIFY(m_sim.stop(5000));
        for (const QJsonObject &e : m_sim.events())
            QVERIFY(e.contains("event"));
    }

    // A client that sent the wrong JSON types or keys must not pass unnoticed:
    // the simulator refuses the request and flags it in its log.
    void malformedRequestsRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonObject>("query");
        QTest::addColumn<int>("apiStatus");
        const QJsonObject report {{"deviceID", "EID-0011AABB"}, {"version", 2}, {"fid", "41"}};
        QTest::newRow("custom branch, wrong key")
            << kCatalogue << catalogueQuery(4, 3, "k3y") << 403;
        QTest::newRow("fid sent as text")
            << kCatalogue << QJsonObject {{"fid", "4"}, {"type", 1}, {"special", ""}} << 400;
        QTest::newRow("special missing")
            << kCatalogue << QJsonObject {{"fid", 4}, {"type", 1}} << 400;
        QTest::newRow("version sent as a number") << kEditVersion << report << 400;
        QTest::newRow("empty code member")
            << kRelease << QJsonObject {{"code", ""}, {"key", -1}} << 400;
        QTest::newRow("key missing") << kRelease << QJsonObject() << 400;
    }
    void malformedRequestsRefused()
    {
        QFETCH(QString, path);
        QFETCH(QJsonObject, query);
        QFETCH(int, apiStatus);
        const Result r = post(m_sim.baseUrl() + path, query);
        QCOMPARE(r.json().value("status").toInt(), apiStatus);
        QVERIFY(r.json().value("message").isString());
        QVERIFY(r.data().isEmpty());
        if (apiStatus == 400)
            QVERIFY(lastRequestTo(m_sim, path).contains("problem"));
    }

    void fileOutsideRootRefused()
    {
        const Result r = get(m_sim.baseUrl() + "/files/..%2Fcatalog.json");
        QCOMPARE(r.http, 404);
        QVERIFY(!r.body.contains("catalogues"));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault"); // a --fault flag, or a --config file when it is JSON
        QTest::addColumn<QString>("path");
        QTest::newRow("hang") << kCatalogue + ":hang=30" << kCatalogue;
        QTest::newRow("config file, prefix pattern")
            << "{\"faults\": {\"/files/*\": {\"drop\": true}}}" << "/files/fw4.bin";
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, path);
        ZoTestCloudSim sim;
        QVERIFY(serve(sim));
        if (fault.startsWith('{')) {
            QVERIFY(sim.writeFile("faults.json", fault.toUtf8()));
            QVERIFY(sim.start(false, {}, {"--config", sim.filePath("faults.json")}));
        } else {
            QVERIFY(sim.start(false, {fault}));
        }
        const Result r = path == kCatalogue
            ? post(sim.baseUrl() + path, catalogueQuery(4, 3, "K3Y"), 1500)
            : get(sim.baseUrl() + path);
        QVERIFY(!lastRequestTo(sim, path).value("fault").toString().isEmpty());
        if (path == kCatalogue) {
            QVERIFY(!r.finished);
            QVERIFY(sim.stop(3000)); // a hanging reply must not keep the simulator alive
        } else {
            QVERIFY(r.finished && r.error != QNetworkReply::NoError);
            QCOMPARE(r.contentLength, QByteArray::number(m_fw4.size()));
            QVERIFY(r.body.size() < m_fw4.size() && m_fw4.startsWith(r.body));
        }
    }

    void badFaultFlags_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("message");
        QTest::newRow("stallAt alone") << "/files/*:stallAt=10"
                                       << "stallAt of /files/* needs stall";
        QTest::newRow("rate of nothing") << "/files/*:rate=0"
                                         << "bad value for fault rate";
        QTest::newRow("stall of nothing") << "/files/*:stall=0"
                                          << "bad value for fault stall";
        QTest::newRow("rate in words") << "/files/*:rate=fast"
                                       << "rate needs a number";
    }
    void badFaultFlags()
    {
        QFETCH(QString, flag);
        QFETCH(QString, message);
        QTemporaryDir root;
        QProcess sim;
        sim.start(TOLVANE_CLOUDSIM, {"--root", root.path(), "--port", "0", "--fault", flag});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
        QVERIFY(!sim.readAllStandardOutput().contains("LISTENING"));
    }

    // Trusted through the CA list, never by ignoring TLS errors, also when the
    // address names the host instead of its IP.
    void httpsByHostName()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("Qt has no TLS backend");
        ZoTestCloudSim sim;
        QVERIFY(serve(sim));
        QVERIFY(sim.start(true));
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setCaCertificates(
            conf.caCertificates() + QSslCertificate::fromPath(ZoTestCloudSim::certPath()));
        const QString base = sim.baseUrl().replace("127.0.0.1", "localhost");
        QNetworkRequest req {QUrl(base + kRelease)};
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json;charset=UTF-8");
        req.setSslConfiguration(conf);
        const Result r = wait(m_nam.post(req, "{\"key\":-1}"), 10000);
        QVERIFY(!r.sslErrors);
        QCOMPARE(r.error, QNetworkReply::NoError);
        QCOMPARE(r.data().value("url").toString(), base + "/releases/rel.zip");
    }
};

QTEST_GUILESS_MAIN(TstCloudSim)
#include "tst_cloudsim.moc"
