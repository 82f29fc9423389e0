#include <QtNetwork>
#include <QtTest>

// The cloud simulator run as a program on an ephemeral loopback port and
// spoken to the way the two clients speak: JSON POSTs with their headers and
// plain GETs, through QNetworkAccessManager.
namespace {

const QString kCatalogue = "/app/api/user/firmware/getFirmware";
const QString kEditVersion = "/app/api/user/machineInfo/editVersion";
const QString kRelease = "/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl";

const char kCatalogJson[] = R"({"catalogues": [
 {"fid": 4, "branch": 1, "firmwares": [
   {"fid": 4, "nickName": "飞控", "nickNameEn": "Core", "upgradeDescription": "说明",
    "UpgradeDescriptionEn": "Core notes", "version": "2.3.1", "upgradeFile": "fw4.bin",
    "pathFile": "fw4.txt"},
   {"fid": 44, "type": 1, "nickName": "数据板", "nickNameEn": "Board", "upgradeDescription": "",
    "UpgradeDescriptionEn": "Board notes", "version": "1.0.12", "pathFile": "fw44.txt"}]},
 {"fid": 4, "branch": 2, "firmwares": [{"fid": 4, "version": "2.4.0", "upgradeFile": "fw4.bin"}]},
 {"fid": 4, "branch": 3, "special": "K3Y",
  "firmwares": [{"fid": 4, "version": "9.9.9", "upgradeFile": "fw4.bin"}]}]})";

const char kReleasesJson[] = R"({"releases": [
 {"match": {"code": "BETA"}, "cdt": "c3", "description": "beta", "version": "3.0.0.1", "archive": "rel.zip"},
 {"match": {"key": 7}, "cdt": "c2", "importanceLevel": 1, "description": "forced",
  "version": "2.2.0.0", "archive": "rel.zip"},
 {"cdt": "c1", "importanceLevel": 2, "description": "normal", "version": "2.1.9.2", "archive": "rel.zip"}]})";

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
    qint64 elapsedMs = 0;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QJsonObject data() const { return json().value("data").toObject(); }
};

class Sim
{
public:
    ~Sim() { stop(); }

    bool start(const QString &root, const QStringList &extra)
    {
        m_log = root + "/events.log";
        QFile::remove(m_log);
        m_proc.start(TOLVANE_CLOUDSIM_EXE, QStringList {"--root", root, "--log", m_log} + extra);
        QElapsedTimer t;
        t.start();
        while (!m_proc.canReadLine() && t.elapsed() < 5000)
            m_proc.waitForReadyRead(100);
        const QByteArray line = m_proc.readLine().trimmed();
        port = line.startsWith("LISTENING ") ? line.mid(10).toInt() : 0;
        return port > 0;
    }

    // Whether the process ended within the bound after SIGTERM.
    bool stop(int boundMs = 5000)
    {
        if (m_proc.state() == QProcess::NotRunning)
            return true;
        m_proc.terminate();
        if (m_proc.waitForFinished(boundMs))
            return true;
        m_proc.kill();
        m_proc.waitForFinished(2000);
        return false;
    }

    // The event log; a line that is not a JSON object becomes an empty object.
    QList<QJsonObject> events() const
    {
        QList<QJsonObject> out;
        QFile f(m_log);
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &line : f.readAll().split('\n'))
                if (!line.isEmpty())
                    out.append(QJsonDocument::fromJson(line).object());
        return out;
    }

    QJsonObject lastRequestTo(const QString &path) const
    {
        const QList<QJsonObject> all = events();
        for (auto it = all.crbegin(); it != all.crend(); ++it)
            if (it->value("path").toString() == path)
                return *it;
        return {};
    }

    QString base(const QString &scheme = "http", const QString &host = "127.0.0.1") const
    {
        return QStringLiteral("%1://%2:%3").arg(scheme, host).arg(port);
    }

    int port = 0;

private:
    QProcess m_proc;
    QString m_log;
};

QJsonObject catalogueQuery(int fid, int type, const QString &special)
{
    return {{"fid", fid}, {"type", type}, {"special", special}};
}

} // namespace

class TstCloudSim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QByteArray m_fw4 = pattern(5000, 3);
    QByteArray m_archive = pattern(70000, 11);
    Sim m_sim; // plain HTTP, no faults
    QNetworkAccessManager m_nam;

    Result wait(QNetworkReply *reply, int timeoutMs)
    {
        Result r;
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        connect(reply, &QNetworkReply::sslErrors, this, [&r] { r.sslErrors = true; });
        if (!reply->isFinished())
            loop.exec();
        r.elapsedMs = t.elapsed();
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

    void writeFile(const QString &rel, const QByteArray &bytes)
    {
        QFile f(m_root.filePath(rel));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), qint64(bytes.size()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_nam.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(QDir(m_root.path()).mkpath("files"));
        QVERIFY(QDir(m_root.path()).mkpath("releases"));
        writeFile("catalog.json", kCatalogJson);
        writeFile("releases.json", kReleasesJson);
        writeFile("files/fw4.bin", m_fw4);
        writeFile("files/fw4.txt", "notes of 4\n");
        writeFile("files/fw44.txt", "notes of 44\n");
        writeFile("releases/rel.zip", m_archive);
        QVERIFY(m_sim.start(m_root.path(), {}));
    }

    void cleanupTestCase()
    {
        QVERIFY(m_sim.stop());
        for (const QJsonObject &e : m_sim.events())
            QVERIFY(e.contains("event"));
    }

    // The envelope, key names and JSON types the cloud client parses; the
    // addresses point back at the simulator.
    void catalogueEnvelope()
    {
        const Result r = post(m_sim.base() + kCatalogue, catalogueQuery(4, 1, ""));
        QCOMPARE(r.error, QNetworkReply::NoError);
        const QJsonObject o = r.json();
        QCOMPARE(o.value("status"), QJsonValue(200));
        QVERIFY(o.value("message").isString());
        const QString files = m_sim.base() + "/files/";
        const QJsonArray expected {
            QJsonObject {{"fid", 4}, {"type", 1}, {"nickName", "飞控"}, {"nickNameEn", "Core"},
                {"upgradeDescription", "说明"}, {"UpgradeDescriptionEn", "Core notes"},
                {"version", "2.3.1"}, {"upgradePath", files + "fw4.bin"},
                {"path", files + "fw4.txt"}},
            QJsonObject {{"fid", 44}, {"type", 1}, {"nickName", "数据板"}, {"nickNameEn", "Board"},
                {"upgradeDescription", ""}, {"UpgradeDescriptionEn", "Board notes"},
                {"version", "1.0.12"}, {"upgradePath", ""}, {"path", files + "fw44.txt"}}};
        QCOMPARE(r.data(), (QJsonObject {{"firmwares", expected}}));

        const QJsonObject ev = m_sim.lastRequestTo(kCatalogue);
        QCOMPARE(ev.value("method").toString(), "POST");
        QCOMPARE(ev.value("body").toObject(), catalogueQuery(4, 1, ""));
        QCOMPARE(ev.value("contentType").toString(), "application/json;charset=UTF-8");
        QCOMPARE(ev.value("cacheControl").toString(), "no-cache");
    }

    void catalogueSelection_data()
    {
        QTest::addColumn<QJsonObject>("query");
        QTest::addColumn<int>("apiStatus");
        QTest::addColumn<QString>("version"); // of the first entry when 200

        QTest::newRow("stable") << catalogueQuery(4, 1, "") << 200 << "2.3.1";
        QTest::newRow("development") << catalogueQuery(4, 2, "") << 200 << "2.4.0";
        QTest::newRow("custom, right key") << catalogueQuery(4, 3, "K3Y") << 200 << "9.9.9";
        QTest::newRow("custom, wrong key") << catalogueQuery(4, 3, "k3y") << 403 << "";
        QTest::newRow("unknown fid") << catalogueQuery(7, 1, "") << 404 << "";
        QTest::newRow("fid sent as text")
            << QJsonObject {{"fid", "4"}, {"type", 1}, {"special", ""}} << 400 << "";
        QTest::newRow("special missing") << QJsonObject {{"fid", 4}, {"type", 1}} << 400 << "";
    }
    void catalogueSelection()
    {
        QFETCH(QJsonObject, query);
        QFETCH(int, apiStatus);
        QFETCH(QString, version);
        const Result r = post(m_sim.base() + kCatalogue, query);
        QCOMPARE(r.json().value("status").toInt(), apiStatus);
        QVERIFY(r.json().value("message").isString());
        QCOMPARE(r.data().value("firmwares")[0].toObject().value("version").toString(), version);
        if (apiStatus == 400)
            QVERIFY(m_sim.lastRequestTo(kCatalogue).contains("problem"));
    }

    void fileBytesIntact_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("firmware file") << "/files/fw4.bin" << m_fw4;
        QTest::newRow("release archive") << "/releases/rel.zip" << m_archive;
    }
    void fileBytesIntact()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, bytes);
        const Result r = get(m_sim.base() + path);
        QCOMPARE(r.error, QNetworkReply::NoError);
        QCOMPARE(r.contentLength, QByteArray::number(bytes.size()));
        QVERIFY(r.body == bytes);
        QCOMPARE(m_sim.lastRequestTo(path).value("userAgent").toString(), "RAZERAzedad 2.0");
    }

    void fileOutsideRootRefused()
    {
        const Result r = get(m_sim.base() + "/files/..%2Fcatalog.json");
        QCOMPARE(r.http, 404);
        QVERIFY(!r.body.contains("catalogues"));
    }

    void editVersionRecorded()
    {
        const QJsonObject report {
            {"deviceID", "EID-0011AABB"}, {"version", "2.20.1"}, {"fid", "41"}};
        QCOMPARE(post(m_sim.base() + kEditVersion, report).json().value("status").toInt(), 200);
        const QJsonObject ev = m_sim.lastRequestTo(kEditVersion);
        QCOMPARE(ev.value("body").toObject(), report);
        QVERIFY(ev.value("recorded").toBool());

        // A version sent as a number is recorded too, and flagged.
        QJsonObject bad = report;
        bad.insert("version", 2);
        QCOMPARE(post(m_sim.base() + kEditVersion, bad).json().value("status").toInt(), 400);

        const QJsonArray reports
            = get(m_sim.base() + "/sim/editVersions").data().value("reports").toArray();
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports.at(0).toObject(), report);
        QVERIFY(reports.at(1).toObject().contains("problem"));
    }

    void releaseRecord_data()
    {
        QTest::addColumn<QJsonObject>("query");
        QTest::addColumn<int>("apiStatus");
        QTest::addColumn<QJsonObject>("data");
        const QString url = "http://127.0.0.1:%1/releases/rel.zip";

        QTest::newRow("no code, any channel")
            << QJsonObject {{"key", -1}} << 200
            << QJsonObject {{"cdt", "c1"}, {"importanceLevel", 2}, {"description", "normal"},
                   {"version", "2.1.9.2"}, {"url", url}};
        QTest::newRow("channel 7 is mandatory")
            << QJsonObject {{"key", 7}} << 200
            << QJsonObject {{"cdt", "c2"}, {"importanceLevel", 1}, {"description", "forced"},
                   {"version", "2.2.0.0"}, {"url", url}};
        QTest::newRow("code, record without importance level")
            << QJsonObject {{"code", "BETA"}, {"key", 7}} << 200
            << QJsonObject {
                   {"cdt", "c3"}, {"description", "beta"}, {"version", "3.0.0.1"}, {"url", url}};
        QTest::newRow("empty code member")
            << QJsonObject {{"code", ""}, {"key", -1}} << 400 << QJsonObject();
        QTest::newRow("key missing") << QJsonObject() << 400 << QJsonObject();
    }
    void releaseRecord()
    {
        QFETCH(QJsonObject, query);
        QFETCH(int, apiStatus);
        QFETCH(QJsonObject, data);
        if (data.contains("url"))
            data.insert("url", data.value("url").toString().arg(m_sim.port));
        const Result r = post(m_sim.base() + kRelease, query);
        QCOMPARE(r.json().value("status").toInt(), apiStatus);
        QVERIFY(r.json().value("message").isString());
        QCOMPARE(r.data(), data);
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault"); // a --fault flag, or a --config file when it is JSON
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expect");
        const QString fw = "/files/fw4.bin";
        // The HTTP and service status, malformed, empty and dropped replies
        // are the clients' failure cases, where a fault that did not act
        // would turn up as a success.
        QTest::newRow("delay") << kCatalogue + ":delay=700" << kCatalogue << "delayed";
        QTest::newRow("hang") << kCatalogue + ":hang=30" << kCatalogue << "hangs";
        QTest::newRow("first request only")
            << kCatalogue + ":status=500,times=1" << kCatalogue << "once";
        QTest::newRow("config file, prefix pattern")
            << "{\"faults\": {\"/files/*\": {\"drop\": true}}}" << fw << "dropped";
        // 5000 bytes in slices of 1000 every 100 ms.
        QTest::newRow("rate") << fw + ":rate=10000" << fw << "paced";
        QTest::newRow("stall") << fw + ":stall=30,stallAt=1000" << fw << "stalls";
        QTest::newRow("stall at the rate") << fw + ":rate=10000,stall=30" << fw << "stalls";
        QTest::newRow("chunked") << fw + ":chunked" << fw << "chunked";
        QTest::newRow("chunked at the rate") << fw + ":chunked,rate=10000" << fw << "chunked";
        QTest::newRow("chunked, stalled")
            << "{\"faults\": {\"/files/*\": {\"chunked\": true, \"stall\": 30, \"stallAt\": 1000}}}"
            << fw << "stalls";
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, path);
        QFETCH(QString, expect);
        QStringList args {"--fault", fault};
        if (fault.startsWith('{')) {
            args = QStringList {"--config", m_root.filePath("faults.json")};
            writeFile("faults.json", fault.toUtf8());
        }
        Sim sim;
        QVERIFY(sim.start(m_root.path(), args));
        const int timeoutMs = expect == "hangs" || expect == "stalls" ? 1500 : 10000;
        auto ask = [&]() {
            if (path == kCatalogue)
                return post(sim.base() + path, catalogueQuery(4, 1, ""), timeoutMs);
            if (path == kRelease)
                return post(sim.base() + path, QJsonObject {{"key", -1}}, timeoutMs);
            return get(sim.base() + path, timeoutMs);
        };
        const Result r = ask();
        QVERIFY(!sim.lastRequestTo(path).value("fault").toString().isEmpty());

        if (expect == "delayed") {
            QVERIFY2(r.elapsedMs >= 650, qPrintable(QString::number(r.elapsedMs)));
            QCOMPARE(r.json().value("status").toInt(), 200);
        } else if (expect == "dropped") {
            QVERIFY(r.finished && r.error != QNetworkReply::NoError);
            QCOMPARE(r.contentLength, QByteArray::number(m_fw4.size()));
            QVERIFY(r.body.size() < m_fw4.size() && m_fw4.startsWith(r.body));
        } else if (expect == "hangs") {
            QVERIFY(!r.finished);
            QVERIFY(sim.stop(3000)); // a hanging reply must not keep the simulator alive
        } else if (expect == "paced") {
            QCOMPARE(r.error, QNetworkReply::NoError);
            QCOMPARE(r.contentLength, QByteArray::number(m_fw4.size()));
            QVERIFY(r.body == m_fw4);
            QVERIFY2(r.elapsedMs >= 350, qPrintable(QString::number(r.elapsedMs)));
        } else if (expect == "chunked") {
            QCOMPARE(r.error, QNetworkReply::NoError);
            QVERIFY(r.contentLength.isEmpty());
            QVERIFY(r.body == m_fw4);
        } else if (expect == "stalls") {
            // Part of the body, then silence until the wait ran out.
            QVERIFY(!r.finished);
            const int sent = fault.contains("stallAt") ? 1000 : m_fw4.size() / 2;
            QCOMPARE(r.body, m_fw4.left(sent));
            QVERIFY(sim.stop(3000));
        } else {
            QCOMPARE(r.http, 500);
            QCOMPARE(ask().json().value("status").toInt(), 200);
            QVERIFY(!sim.lastRequestTo(path).contains("fault"));
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
        QProcess sim;
        sim.start(TOLVANE_CLOUDSIM_EXE, {"--root", m_root.path(), "--port", "0", "--fault", flag});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
        QVERIFY(!sim.readAllStandardOutput().contains("LISTENING"));
    }

    // Never ignoring TLS errors: the certificate is either trusted through the
    // CA list or the handshake fails.
    void https_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("host");
        QTest::newRow("untrusted certificate refused") << false << "127.0.0.1";
        QTest::newRow("trusted by IP") << true << "127.0.0.1";
        QTest::newRow("trusted by name") << true << "localhost";
    }
    void https()
    {
        QFETCH(bool, trusted);
        QFETCH(QString, host);
        if (!QSslSocket::supportsSsl())
            QSKIP("Qt has no TLS backend");
        const QString cert = TOLVANE_CLOUDSIM_CERT_DIR "/cloudsim-cert.pem";
        Sim sim;
        QVERIFY(sim.start(m_root.path(),
            {"--https", "--cert", cert, "--key", TOLVANE_CLOUDSIM_CERT_DIR "/cloudsim-key.pem"}));
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        if (trusted)
            conf.setCaCertificates(conf.caCertificates() + QSslCertificate::fromPath(cert));
        // A manager per row, so no TLS session carries over between rows.
        QNetworkAccessManager nam;
        nam.setProxy(QNetworkProxy::NoProxy);
        QNetworkRequest req {QUrl(sim.base("https", host) + kRelease)};
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json;charset=UTF-8");
        req.setSslConfiguration(conf);
        const Result r = wait(nam.post(req, "{\"key\":-1}"), 10000);
        QCOMPARE(r.sslErrors, !trusted);
        if (!trusted) {
            QCOMPARE(r.error, QNetworkReply::SslHandshakeFailedError);
            QVERIFY(sim.lastRequestTo(kRelease).isEmpty());
            return;
        }
        QCOMPARE(r.error, QNetworkReply::NoError);
        QCOMPARE(r.data().value("url").toString(), sim.base("https", host) + "/releases/rel.zip");
        QCOMPARE(sim.lastRequestTo(kRelease).value("body").toObject(), (QJsonObject {{"key", -1}}));
    }
};

QTEST_GUILESS_MAIN(TstCloudSim)
#include "tst_cloudsim.moc"
