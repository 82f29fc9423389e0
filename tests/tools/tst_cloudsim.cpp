#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

// The cloud simulator run as a program on an ephemeral loopback port and
// spoken to the way the two clients speak: JSON POSTs with their headers and
// plain GETs, through QNetworkAccessManager.
namespace {

const QString kCatalogue = QStringLiteral("/app/api/user/firmware/getFirmware");
const QString kEditVersion = QStringLiteral("/app/api/user/machineInfo/editVersion");
const QString kRelease = QStringLiteral("/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl");

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
 {"match": {"key": 7}, "cdt": "c2", "importanceLevel": 1, "description": "forced", "version": "2.2.0.0",
  "archive": "rel.zip"},
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
    QByteArray body;
    QByteArray contentLength;
    bool sslErrors = false;
    qint64 elapsedMs = 0;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

class Sim
{
public:
    ~Sim() { stop(); }

    bool start(const QString &root, const QStringList &extra)
    {
        m_log = root + QStringLiteral("/events.log");
        QFile::remove(m_log);
        m_proc.setProgram(QStringLiteral(TOLVANE_CLOUDSIM_EXE));
        m_proc.setArguments(
            QStringList {QStringLiteral("--root"), root, QStringLiteral("--log"), m_log} + extra);
        m_proc.start();
        if (!m_proc.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!m_proc.canReadLine() && t.elapsed() < 5000)
            m_proc.waitForReadyRead(100);
        const QByteArray line = m_proc.readLine().trimmed();
        if (!line.startsWith("LISTENING "))
            return false;
        port = line.mid(10).toInt();
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

    QList<QJsonObject> events() const
    {
        QList<QJsonObject> out;
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError pe;
            const QJsonDocument doc = QJsonDocument::fromJson(line, &pe);
            if (pe.error != QJsonParseError::NoError || !doc.isObject())
                out.append(QJsonObject {{QStringLiteral("event"), QStringLiteral("UNPARSABLE")}});
            else
                out.append(doc.object());
        }
        return out;
    }

    QJsonObject lastRequestTo(const QString &path) const
    {
        const QList<QJsonObject> all = events();
        for (auto it = all.crbegin(); it != all.crend(); ++it)
            if (it->value(QStringLiteral("path")).toString() == path)
                return *it;
        return {};
    }

    int port = 0;

private:
    QProcess m_proc;
    QString m_log;
};

} // namespace

class TstCloudSim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QByteArray m_fw4;
    QByteArray m_archive;
    std::unique_ptr<Sim> m_sim; // the plain-HTTP simulator without faults
    QNetworkAccessManager m_nam;

    QString base(const Sim &sim, const QString &scheme = QStringLiteral("http"),
        const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("%1://%2:%3").arg(scheme, host).arg(sim.port);
    }

    Result wait(QNetworkReply *reply, int timeoutMs)
    {
        Result r;
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        connect(reply, &QNetworkReply::sslErrors, this,
            [&r](const QList<QSslError> &) { r.sslErrors = true; });
        timer.start(timeoutMs);
        if (!reply->isFinished())
            loop.exec();
        r.elapsedMs = t.elapsed();
        r.finished = reply->isFinished();
        if (r.finished)
            r.body = reply->readAll();
        else
            reply->abort();
        r.error = reply->error();
        r.http = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.contentLength = reply->rawHeader("Content-Length");
        reply->deleteLater();
        return r;
    }

    Result post(const QString &url, const QJsonObject &body, int timeoutMs = 10000,
        const QSslConfiguration *ssl = nullptr)
    {
        QNetworkRequest req {QUrl(url)};
        req.setHeader(
            QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json;charset=UTF-8"));
        req.setRawHeader("Cache-Control", "no-cache");
        if (ssl)
            req.setSslConfiguration(*ssl);
        return wait(m_nam.post(req, QJsonDocument(body).toJson(QJsonDocument::Compact)), timeoutMs);
    }

    Result get(const QString &url, int timeoutMs = 10000)
    {
        QNetworkRequest req {QUrl(url)};
        req.setRawHeader("User-Agent", "RAZERAzedad 2.0");
        return wait(m_nam.get(req), timeoutMs);
    }

    static QJsonObject catalogueQuery(int fid, int type, const QString &special)
    {
        return {{QStringLiteral("fid"), fid}, {QStringLiteral("type"), type},
            {QStringLiteral("special"), special}};
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
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("files")));
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("releases")));
        m_fw4 = pattern(5000, 3);
        m_archive = pattern(70000, 11);
        writeFile(QStringLiteral("catalog.json"), kCatalogJson);
        writeFile(QStringLiteral("releases.json"), kReleasesJson);
        writeFile(QStringLiteral("files/fw4.bin"), m_fw4);
        writeFile(QStringLiteral("files/fw4.txt"), "notes of 4\n");
        writeFile(QStringLiteral("files/fw44.txt"), "notes of 44\n");
        writeFile(QStringLiteral("releases/rel.zip"), m_archive);
        m_sim = std::make_unique<Sim>();
        QVERIFY(m_sim->start(m_root.path(), {}));
    }

    void cleanupTestCase()
    {
        QVERIFY(m_sim->stop());
        // Every line of the event log is a JSON object.
        for (const QJsonObject &e : m_sim->events())
            QVERIFY(e.value(QStringLiteral("event")).toString() != QLatin1String("UNPARSABLE"));
    }

    void catalogueEnvelope()
    {
        const Result r = post(base(*m_sim) + kCatalogue, catalogueQuery(4, 1, QString()));
        QCOMPARE(r.error, QNetworkReply::NoError);
        const QJsonObject o = r.json();
        QVERIFY(o.value(QStringLiteral("status")).isDouble());
        QCOMPARE(o.value(QStringLiteral("status")).toInt(), 200);
        QVERIFY(o.value(QStringLiteral("message")).isString());
        const QJsonArray fw = o.value(QStringLiteral("data"))
                                  .toObject()
                                  .value(QStringLiteral("firmwares"))
                                  .toArray();
        QCOMPARE(fw.size(), 2);

        const QStringList keys {QStringLiteral("UpgradeDescriptionEn"), QStringLiteral("fid"),
            QStringLiteral("nickName"), QStringLiteral("nickNameEn"), QStringLiteral("path"),
            QStringLiteral("type"), QStringLiteral("upgradeDescription"),
            QStringLiteral("upgradePath"), QStringLiteral("version")};
        const QString files = base(*m_sim) + QStringLiteral("/files/");
        const struct
        {
            int fid;
            const char *nick;
            const char *nickEn;
            const char *desc;
            const char *descEn;
            const char *version;
            QString upgradePath;
            QString path;
        } want[] = {{4, "飞控", "Core", "说明", "Core notes", "2.3.1",
                        files + QStringLiteral("fw4.bin"), files + QStringLiteral("fw4.txt")},
            {44, "数据板", "Board", "", "Board notes", "1.0.12", QString(),
                files + QStringLiteral("fw44.txt")}};
        for (int i = 0; i < 2; ++i) {
            const QJsonObject e = fw.at(i).toObject();
            QCOMPARE(e.keys(), keys);
            QVERIFY(e.value(QStringLiteral("fid")).isDouble());
            QVERIFY(e.value(QStringLiteral("type")).isDouble());
            for (const QString &k : keys)
                if (k != QLatin1String("fid") && k != QLatin1String("type"))
                    QVERIFY2(e.value(k).isString(), qPrintable(k));
            QCOMPARE(e.value(QStringLiteral("fid")).toInt(), want[i].fid);
            QCOMPARE(e.value(QStringLiteral("type")).toInt(), 1);
            QCOMPARE(
                e.value(QStringLiteral("nickName")).toString(), QString::fromUtf8(want[i].nick));
            QCOMPARE(e.value(QStringLiteral("nickNameEn")).toString(),
                QString::fromUtf8(want[i].nickEn));
            QCOMPARE(e.value(QStringLiteral("upgradeDescription")).toString(),
                QString::fromUtf8(want[i].desc));
            QCOMPARE(e.value(QStringLiteral("UpgradeDescriptionEn")).toString(),
                QString::fromUtf8(want[i].descEn));
            QCOMPARE(
                e.value(QStringLiteral("version")).toString(), QString::fromUtf8(want[i].version));
            QCOMPARE(e.value(QStringLiteral("upgradePath")).toString(), want[i].upgradePath);
            QCOMPARE(e.value(QStringLiteral("path")).toString(), want[i].path);
        }

        const QJsonObject ev = m_sim->lastRequestTo(kCatalogue);
        QCOMPARE(ev.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        QCOMPARE(ev.value(QStringLiteral("body")).toObject(), catalogueQuery(4, 1, QString()));
        QCOMPARE(ev.value(QStringLiteral("contentType")).toString(),
            QStringLiteral("application/json;charset=UTF-8"));
        QCOMPARE(ev.value(QStringLiteral("cacheControl")).toString(), QStringLiteral("no-cache"));
    }

    void catalogueSelection_data()
    {
        QTest::addColumn<QJsonObject>("query");
        QTest::addColumn<int>("apiStatus");
        QTest::addColumn<QString>("version"); // of the first entry when 200

        QTest::newRow("stable") << catalogueQuery(4, 1, QString()) << 200
                                << QStringLiteral("2.3.1");
        QTest::newRow("development")
            << catalogueQuery(4, 2, QString()) << 200 << QStringLiteral("2.4.0");
        QTest::newRow("custom, right key")
            << catalogueQuery(4, 3, QStringLiteral("K3Y")) << 200 << QStringLiteral("9.9.9");
        QTest::newRow("custom, wrong key")
            << catalogueQuery(4, 3, QStringLiteral("k3y")) << 403 << QString();
        QTest::newRow("unknown fid") << catalogueQuery(7, 1, QString()) << 404 << QString();
        QTest::newRow("fid sent as text")
            << QJsonObject {{QStringLiteral("fid"), QStringLiteral("4")},
                   {QStringLiteral("type"), 1}, {QStringLiteral("special"), QString()}}
            << 400 << QString();
        QTest::newRow("special missing")
            << QJsonObject {{QStringLiteral("fid"), 4}, {QStringLiteral("type"), 1}} << 400
            << QString();
    }
    void catalogueSelection()
    {
        QFETCH(QJsonObject, query);
        QFETCH(int, apiStatus);
        QFETCH(QString, version);
        const Result r = post(base(*m_sim) + kCatalogue, query);
        QCOMPARE(r.error, QNetworkReply::NoError);
        const QJsonObject o = r.json();
        QCOMPARE(o.value(QStringLiteral("status")).toInt(), apiStatus);
        QVERIFY(o.value(QStringLiteral("message")).isString());
        if (apiStatus == 200)
            QCOMPARE(o.value(QStringLiteral("data"))
                         .toObject()
                         .value(QStringLiteral("firmwares"))
                         .toArray()
                         .at(0)
                         .toObject()
                         .value(QStringLiteral("version"))
                         .toString(),
                version);
        else if (apiStatus == 400)
            QVERIFY(!m_sim->lastRequestTo(kCatalogue)
                         .value(QStringLiteral("problem"))
                         .toString()
                         .isEmpty());
    }

    void fileBytesIntact_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("firmware file") << QStringLiteral("/files/fw4.bin") << m_fw4;
        QTest::newRow("release archive") << QStringLiteral("/releases/rel.zip") << m_archive;
    }
    void fileBytesIntact()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, bytes);
        const Result r = get(base(*m_sim) + path);
        QCOMPARE(r.error, QNetworkReply::NoError);
        QCOMPARE(r.http, 200);
        QCOMPARE(r.contentLength, QByteArray::number(bytes.size()));
        QVERIFY(r.body == bytes);
        const QJsonObject ev = m_sim->lastRequestTo(path);
        QCOMPARE(ev.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
        QCOMPARE(
            ev.value(QStringLiteral("userAgent")).toString(), QStringLiteral("RAZERAzedad 2.0"));
    }

    void fileOutsideRootRefused()
    {
        const Result r = get(base(*m_sim) + QStringLiteral("/files/..%2Fcatalog.json"));
        QCOMPARE(r.http, 404);
        QVERIFY(!r.body.contains("catalogues"));
    }

    void editVersionRecorded()
    {
        const QJsonObject report {{QStringLiteral("deviceID"), QStringLiteral("EID-0011AABB")},
            {QStringLiteral("version"), QStringLiteral("2.20.1")},
            {QStringLiteral("fid"), QStringLiteral("41")}};
        const Result r = post(base(*m_sim) + kEditVersion, report);
        QCOMPARE(r.error, QNetworkReply::NoError);
        QCOMPARE(r.json().value(QStringLiteral("status")).toInt(), 200);
        const QJsonObject ev = m_sim->lastRequestTo(kEditVersion);
        QCOMPARE(ev.value(QStringLiteral("body")).toObject(), report);
        QVERIFY(ev.value(QStringLiteral("recorded")).toBool());

        // A version that is not major.minor.revision text is recorded and flagged.
        QJsonObject bad = report;
        bad.insert(QStringLiteral("version"), 2);
        QCOMPARE(
            post(base(*m_sim) + kEditVersion, bad).json().value(QStringLiteral("status")).toInt(),
            400);

        const QJsonArray reports = get(base(*m_sim) + QStringLiteral("/sim/editVersions"))
                                       .json()
                                       .value(QStringLiteral("data"))
                                       .toObject()
                                       .value(QStringLiteral("reports"))
                                       .toArray();
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports.at(0).toObject(), report);
        QVERIFY(reports.at(1).toObject().contains(QStringLiteral("problem")));
    }

    void releaseRecord_data()
    {
        QTest::addColumn<QJsonObject>("query");
        QTest::addColumn<int>("apiStatus");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("importanceLevel"); // -1: key absent

        QTest::newRow("no code, any channel")
            << QJsonObject {{QStringLiteral("key"), -1}} << 200 << QStringLiteral("2.1.9.2") << 2;
        QTest::newRow("channel 7 is mandatory")
            << QJsonObject {{QStringLiteral("key"), 7}} << 200 << QStringLiteral("2.2.0.0") << 1;
        QTest::newRow("code without importance level")
            << QJsonObject {{QStringLiteral("code"), QStringLiteral("BETA")},
                   {QStringLiteral("key"), 7}}
            << 200 << QStringLiteral("3.0.0.1") << -1;
        QTest::newRow("empty code member")
            << QJsonObject {{QStringLiteral("code"), QString()}, {QStringLiteral("key"), -1}} << 400
            << QString() << -1;
        QTest::newRow("key missing") << QJsonObject {} << 400 << QString() << -1;
    }
    void releaseRecord()
    {
        QFETCH(QJsonObject, query);
        QFETCH(int, apiStatus);
        QFETCH(QString, version);
        QFETCH(int, importanceLevel);
        const Result r = post(base(*m_sim) + kRelease, query);
        QCOMPARE(r.error, QNetworkReply::NoError);
        const QJsonObject o = r.json();
        QCOMPARE(o.value(QStringLiteral("status")).toInt(), apiStatus);
        QVERIFY(o.value(QStringLiteral("message")).isString());
        if (apiStatus != 200)
            return;
        const QJsonObject d = o.value(QStringLiteral("data")).toObject();
        for (const char *k : {"cdt", "description", "version", "url"})
            QVERIFY2(d.value(QLatin1String(k)).isString(), k);
        QCOMPARE(d.value(QStringLiteral("version")).toString(), version);
        QCOMPARE(d.value(QStringLiteral("url")).toString(),
            base(*m_sim) + QStringLiteral("/releases/rel.zip"));
        if (importanceLevel < 0) {
            QVERIFY(!d.contains(QStringLiteral("importanceLevel")));
        } else {
            QVERIFY(d.value(QStringLiteral("importanceLevel")).isDouble());
            QCOMPARE(d.value(QStringLiteral("importanceLevel")).toInt(), importanceLevel);
        }
        QVERIFY(!d.contains(QStringLiteral("match")));
        QVERIFY(!d.contains(QStringLiteral("archive")));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault"); // --fault flag, or a config file's "faults" object
        QTest::addColumn<bool>("viaConfig");
        QTest::addColumn<QString>("target"); // catalogue | file | release
        QTest::addColumn<QString>("expect");

        QTest::newRow("delay") << QStringLiteral("%1:delay=700").arg(kCatalogue) << false
                               << QStringLiteral("catalogue") << QStringLiteral("delayed");
        QTest::newRow("HTTP status") << QStringLiteral("%1:status=503").arg(kRelease) << false
                                     << QStringLiteral("release") << QStringLiteral("http503");
        QTest::newRow("service status")
            << QStringLiteral("%1:apiStatus=500").arg(kCatalogue) << false
            << QStringLiteral("catalogue") << QStringLiteral("api500");
        QTest::newRow("malformed JSON")
            << QStringLiteral("%1:malformed").arg(kCatalogue) << false
            << QStringLiteral("catalogue") << QStringLiteral("malformed");
        QTest::newRow("empty body") << QStringLiteral("%1:empty").arg(kRelease) << false
                                    << QStringLiteral("release") << QStringLiteral("empty");
        QTest::newRow("dropped mid-body") << QStringLiteral("/files/fw4.bin:drop=1000") << false
                                          << QStringLiteral("file") << QStringLiteral("dropped");
        QTest::newRow("hang") << QStringLiteral("%1:hang=30").arg(kCatalogue) << false
                              << QStringLiteral("catalogue") << QStringLiteral("hangs");
        QTest::newRow("first request only")
            << QStringLiteral("%1:status=500,times=1").arg(kCatalogue) << false
            << QStringLiteral("catalogue") << QStringLiteral("once");
        QTest::newRow("config file, prefix pattern")
            << QStringLiteral("{\"/files/*\": {\"drop\": true}}") << true << QStringLiteral("file")
            << QStringLiteral("dropped");
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, viaConfig);
        QFETCH(QString, target);
        QFETCH(QString, expect);

        QStringList args;
        if (viaConfig) {
            const QString cfg = m_root.filePath(QStringLiteral("faults.json"));
            QFile f(cfg);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("{\"faults\": " + fault.toUtf8() + "}");
            f.close();
            args << QStringLiteral("--config") << cfg;
        } else {
            args << QStringLiteral("--fault") << fault;
        }
        Sim sim;
        QVERIFY(sim.start(m_root.path(), args));

        const int timeoutMs = expect == QLatin1String("hangs") ? 1500 : 10000;
        auto ask = [&]() {
            if (target == QLatin1String("catalogue"))
                return post(base(sim) + kCatalogue, catalogueQuery(4, 1, QString()), timeoutMs);
            if (target == QLatin1String("release"))
                return post(
                    base(sim) + kRelease, QJsonObject {{QStringLiteral("key"), -1}}, timeoutMs);
            return get(base(sim) + QStringLiteral("/files/fw4.bin"), timeoutMs);
        };
        const Result r = ask();
        const QString path = target == QLatin1String("catalogue") ? kCatalogue
            : target == QLatin1String("release")                  ? kRelease
                                                 : QStringLiteral("/files/fw4.bin");
        QVERIFY(!sim.lastRequestTo(path).value(QStringLiteral("fault")).toString().isEmpty());

        if (expect == QLatin1String("delayed")) {
            QCOMPARE(r.error, QNetworkReply::NoError);
            QVERIFY2(r.elapsedMs >= 650, qPrintable(QString::number(r.elapsedMs)));
            QCOMPARE(r.json().value(QStringLiteral("status")).toInt(), 200);
        } else if (expect == QLatin1String("http503")) {
            QCOMPARE(r.http, 503);
            QVERIFY(r.error != QNetworkReply::NoError);
        } else if (expect == QLatin1String("api500")) {
            QCOMPARE(r.error, QNetworkReply::NoError);
            QCOMPARE(r.http, 200);
            QCOMPARE(r.json().value(QStringLiteral("status")).toInt(), 500);
            QVERIFY(r.json().value(QStringLiteral("message")).isString());
        } else if (expect == QLatin1String("malformed")) {
            QCOMPARE(r.error, QNetworkReply::NoError);
            QVERIFY(!r.body.isEmpty());
            QJsonParseError pe;
            QJsonDocument::fromJson(r.body, &pe);
            QVERIFY(pe.error != QJsonParseError::NoError);
        } else if (expect == QLatin1String("empty")) {
            QCOMPARE(r.error, QNetworkReply::NoError);
            QCOMPARE(r.http, 200);
            QVERIFY(r.body.isEmpty());
        } else if (expect == QLatin1String("dropped")) {
            QVERIFY(r.finished);
            QVERIFY(r.error != QNetworkReply::NoError);
            QCOMPARE(r.contentLength, QByteArray::number(m_fw4.size()));
            QVERIFY(r.body.size() < m_fw4.size());
            QVERIFY(m_fw4.startsWith(r.body));
        } else if (expect == QLatin1String("hangs")) {
            QVERIFY(!r.finished);
            QVERIFY(r.elapsedMs >= 1400);
            // A hanging reply must not keep the simulator from ending.
            QVERIFY(sim.stop(3000));
        } else if (expect == QLatin1String("once")) {
            QCOMPARE(r.http, 500);
            const Result second = ask();
            QCOMPARE(second.error, QNetworkReply::NoError);
            QCOMPARE(second.json().value(QStringLiteral("status")).toInt(), 200);
            QVERIFY(!sim.lastRequestTo(path).contains(QStringLiteral("fault")));
        } else {
            QFAIL("unknown expectation");
        }
    }

    void https_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("host");
        QTest::newRow("untrusted certificate refused") << false << QStringLiteral("127.0.0.1");
        QTest::newRow("trusted by IP") << true << QStringLiteral("127.0.0.1");
        QTest::newRow("trusted by name") << true << QStringLiteral("localhost");
    }
    void https()
    {
        QFETCH(bool, trusted);
        QFETCH(QString, host);
        if (!QSslSocket::supportsSsl())
            QSKIP("Qt has no TLS backend");
        const QString dir = QStringLiteral(TOLVANE_CLOUDSIM_CERT_DIR);
        const QString cert = dir + QStringLiteral("/cloudsim-cert.pem");
        Sim sim;
        QVERIFY(sim.start(m_root.path(),
            {QStringLiteral("--https"), QStringLiteral("--cert"), cert, QStringLiteral("--key"),
                dir + QStringLiteral("/cloudsim-key.pem")}));

        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        if (trusted) {
            const QList<QSslCertificate> ours = QSslCertificate::fromPath(cert);
            QCOMPARE(ours.size(), 1);
            conf.setCaCertificates(conf.caCertificates() + ours);
        }
        // A fresh manager per row: an accepted TLS session must not be reused
        // by the row that expects a refusal.
        QNetworkAccessManager nam;
        nam.setProxy(QNetworkProxy::NoProxy);
        const QString b = base(sim, QStringLiteral("https"), host);
        QNetworkRequest req {QUrl(b + kRelease)};
        req.setHeader(
            QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json;charset=UTF-8"));
        req.setSslConfiguration(conf);
        const Result r = wait(nam.post(req, QByteArray("{\"key\":-1}")), 10000);
        if (!trusted) {
            QVERIFY(r.sslErrors);
            QCOMPARE(r.error, QNetworkReply::SslHandshakeFailedError);
            QVERIFY(sim.lastRequestTo(kRelease).isEmpty());
            return;
        }
        QCOMPARE(r.error, QNetworkReply::NoError);
        QVERIFY(!r.sslErrors);
        QCOMPARE(r.json()
                     .value(QStringLiteral("data"))
                     .toObject()
                     .value(QStringLiteral("url"))
                     .toString(),
            b + QStringLiteral("/releases/rel.zip"));
        const QJsonObject sent {{QStringLiteral("key"), -1}};
        QCOMPARE(sim.lastRequestTo(kRelease).value(QStringLiteral("body")).toObject(), sent);
    }
};

QTEST_GUILESS_MAIN(TstCloudSim)
#include "tst_cloudsim.moc"
