#include "ZoCloudSimServer.h"

#include "ZoCloudSimEventLog.h"
#include "ZoSimFaultTable.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

const char kJsonType[] = "application/json;charset=UTF-8";
const char kCataloguePath[] = "/app/api/user/firmware/getFirmware";
const char kEditVersionPath[] = "/app/api/user/machineInfo/editVersion";
const char kReleasePath[] = "/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl";
const char kReportsPath[] = "/sim/editVersions";
const char kFilesPrefix[] = "/files/";
const char kReleasesPrefix[] = "/releases/";

// Request bodies are logged in full when they are JSON; anything else is cut
// so a client sending a firmware image by mistake does not flood the log.
constexpr int kRawBodyLogLimit = 4096;

bool isIntegral(const QJsonValue &v, double lo, double hi)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    return d >= lo && d <= hi && d == static_cast<double>(static_cast<qint64>(d));
}

QString header(const httplib::Request &req, const char *name)
{
    return QString::fromStdString(req.get_header_value(name));
}

// A file name taken from a request path: one plain component, nothing that
// could climb out of the served directory.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
        && !name.contains(QChar(0));
}

QString fileUrl(const QString &base, const char *prefix, const QString &name)
{
    return base + QLatin1String(prefix) + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

} // namespace

ZoCloudSimServer::ZoCloudSimServer(
    Options options, ZoSimFaultTable *faults, ZoCloudSimEventLog *log)
    : m_options(std::move(options))
    , m_faults(faults)
    , m_log(log)
{
}

ZoCloudSimServer::~ZoCloudSimServer() = default;

QString ZoCloudSimServer::scheme() const
{
    return m_options.https ? QStringLiteral("https") : QStringLiteral("http");
}

bool ZoCloudSimServer::bind(QString *error)
{
    if (m_options.https) {
        const QByteArray cert = QFile::encodeName(m_options.certFile);
        const QByteArray key = QFile::encodeName(m_options.keyFile);
        m_server = std::make_unique<httplib::SSLServer>(cert.constData(), key.constData());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    if (!m_server->is_valid()) {
        *error = QStringLiteral("cannot load certificate %1 / key %2")
                     .arg(m_options.certFile, m_options.keyFile);
        return false;
    }
    // Hanging and delayed replies hold a worker each; a client that opens a
    // few connections must still be served. httplib owns the queue it gets.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    auto handler
        = [this](const httplib::Request &req, httplib::Response &res) { handle(req, res); };
    m_server->Get(".*", handler);
    m_server->Post(".*", handler);

    if (m_options.port == 0) {
        m_port = m_server->bind_to_any_port("127.0.0.1");
        if (m_port <= 0) {
            *error = QStringLiteral("cannot bind 127.0.0.1");
            return false;
        }
    } else {
        if (!m_server->bind_to_port("127.0.0.1", m_options.port)) {
            *error = QStringLiteral("cannot bind 127.0.0.1:%1").arg(m_options.port);
            return false;
        }
        m_port = m_options.port;
    }
    return true;
}

bool ZoCloudSimServer::run()
{
    return m_server && m_server->listen_after_bind();
}

void ZoCloudSimServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_server)
        m_server->stop();
}

bool ZoCloudSimServer::pause(std::chrono::milliseconds span)
{
    std::unique_lock<std::mutex> lock(m_waitMutex);
    return !m_wake.wait_for(lock, span, [this] { return m_stopping.load(); });
}

QString ZoCloudSimServer::baseUrl(const httplib::Request &req) const
{
    if (!m_options.baseUrl.isEmpty())
        return m_options.baseUrl;
    // Point back at the address the client used, so a client that reached us
    // as "localhost" (as a certificate check may need) keeps using that name.
    // One per thread: handlers run on several workers at once.
    thread_local const QRegularExpression hostRe(
        QStringLiteral("^([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\])(:[0-9]{1,5})?$"));
    const QString host = header(req, "Host");
    if (hostRe.match(host).hasMatch())
        return scheme() + QStringLiteral("://") + host;
    return scheme() + QStringLiteral("://127.0.0.1:") + QString::number(m_port);
}

ZoCloudSimServer::Reply ZoCloudSimServer::envelope(
    int status, const QString &message, const QJsonValue &data)
{
    QJsonObject o;
    o.insert(QStringLiteral("status"), status);
    o.insert(QStringLiteral("message"), message);
    o.insert(QStringLiteral("data"), data);
    Reply r;
    r.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    r.contentType = kJsonType;
    r.envelope = true;
    r.apiStatus = status;
    return r;
}

bool ZoCloudSimServer::readJsonFile(const QString &name, QJsonObject *out, QString *error) const
{
    QFile file(QDir(m_options.root).filePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 missing in the served directory").arg(name);
        return false;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1 is not a JSON object: %2").arg(name, pe.errorString());
        return false;
    }
    *out = doc.object();
    return true;
}

void ZoCloudSimServer::handle(const httplib::Request &req, httplib::Response &res)
{
    QJsonObject event;
    event.insert(QStringLiteral("event"), QStringLiteral("request"));
    event.insert(QStringLiteral("seq"), static_cast<double>(++m_seq));
    event.insert(QStringLiteral("method"), QString::fromStdString(req.method));
    event.insert(QStringLiteral("path"), QString::fromStdString(req.path));
    event.insert(QStringLiteral("remotePort"), req.remote_port);
    const struct
    {
        const char *name;
        const char *key;
    } logged[] = {{"Content-Type", "contentType"}, {"Cache-Control", "cacheControl"},
        {"User-Agent", "userAgent"}};
    for (const auto &h : logged)
        if (req.has_header(h.name))
            event.insert(QLatin1String(h.key), header(req, h.name));

    QJsonValue body = QJsonValue::Null;
    if (!req.body.empty()) {
        const QByteArray raw = QByteArray::fromStdString(req.body);
        QJsonParseError pe;
        const QJsonDocument doc = QJsonDocument::fromJson(raw, &pe);
        if (pe.error == QJsonParseError::NoError && doc.isObject())
            body = doc.object();
        else if (pe.error == QJsonParseError::NoError && doc.isArray())
            body = doc.array();
        else
            event.insert(QStringLiteral("rawBody"), QString::fromUtf8(raw.left(kRawBodyLogLimit)));
    }
    if (req.method == "POST")
        event.insert(QStringLiteral("body"), body);

    Reply reply = route(req, body, baseUrl(req), event);
    const ZoSimFault fault = m_faults->take(req.path);

    if (fault.httpStatus > 0) {
        reply = envelope(fault.httpStatus, QStringLiteral("injected HTTP status"), QJsonObject());
        reply.status = fault.httpStatus;
    } else if (fault.apiStatus > 0 && reply.envelope) {
        reply = envelope(fault.apiStatus, QStringLiteral("injected service status"), QJsonObject());
    }
    if (fault.emptyBody)
        reply.body.clear();
    else if (fault.malformed)
        reply.body.truncate(reply.body.size() / 2);

    event.insert(QStringLiteral("status"), reply.status);
    if (reply.envelope)
        event.insert(QStringLiteral("apiStatus"), reply.apiStatus);
    event.insert(QStringLiteral("bytes"), static_cast<double>(reply.body.size()));
    if (fault.any())
        event.insert(QStringLiteral("fault"), fault.describe());
    m_log->write(event);

    if (fault.delayMs > 0 && !pause(std::chrono::milliseconds(fault.delayMs)))
        return;
    if (fault.hangSec > 0) {
        pause(std::chrono::seconds(fault.hangSec));
        // No reply at all: headers promising a body that never comes, then
        // the connection closes.
        res.status = 200;
        res.set_content_provider(
            1, reply.contentType, [](size_t, size_t, httplib::DataSink &) { return false; });
        return;
    }

    res.status = reply.status;
    if (fault.streamed()) {
        stream(reply, fault, res);
        return;
    }
    res.set_content(
        reply.body.constData(), static_cast<size_t>(reply.body.size()), reply.contentType);
}

void ZoCloudSimServer::stream(const Reply &reply, const ZoSimFault &fault, httplib::Response &res)
{
    const size_t full = static_cast<size_t>(reply.body.size());
    // With a Content-Length a cut must fall short of it, or the client would
    // have the whole reply; an empty body is announced as one byte for that.
    const bool cuts = fault.drop || fault.stallSec > 0;
    const size_t announced = cuts ? std::max<size_t>(full, 1) : full;
    const qint64 wanted = fault.stallSec > 0 ? fault.stallAfter : fault.dropAfter;
    size_t end = full; // bytes sent before the stall or the close
    if (cuts) {
        end = wanted < 0 ? full / 2 : static_cast<size_t>(wanted);
        end = std::min(end, fault.chunked ? full : announced - 1);
    }
    // The pace is kept in slices every 100 ms, so that a slow reply never
    // falls silent for longer than that.
    constexpr size_t unpacedSlice = 64 * 1024;
    const size_t slice = fault.rateBytesPerSec > 0
        ? std::max<size_t>(static_cast<size_t>(fault.rateBytesPerSec / 10), 1)
        : unpacedSlice;
    const bool paced = fault.rateBytesPerSec > 0;
    const int stallSec = fault.stallSec;
    auto data = std::make_shared<QByteArray>(reply.body);

    // One step of the body from offset on; false ends the connection there.
    auto step = [this, data, end, slice, paced, stallSec](
                    size_t offset, size_t length, httplib::DataSink &sink) {
        if (offset >= end) {
            if (stallSec > 0)
                pause(std::chrono::seconds(stallSec));
            return false; // httplib closes the connection mid-body
        }
        const size_t n = std::min({length, end - offset, slice});
        if (!sink.write(data->constData() + offset, n))
            return false;
        return !paced || pause(std::chrono::milliseconds(100));
    };
    if (fault.chunked) {
        const bool whole = !cuts;
        res.set_chunked_content_provider(
            reply.contentType, [step, end, whole](size_t offset, httplib::DataSink &sink) {
                if (whole && offset >= end) {
                    sink.done();
                    return true;
                }
                return step(offset, end, sink);
            });
        return;
    }
    res.set_content_provider(announced, reply.contentType, step);
}

ZoCloudSimServer::Reply ZoCloudSimServer::route(
    const httplib::Request &req, const QJsonValue &body, const QString &base, QJsonObject &event)
{
    const std::string &path = req.path;
    auto routeName = [&event](const char *name) {
        event.insert(QStringLiteral("route"), QLatin1String(name));
    };
    if (req.method == "POST") {
        if (path == kCataloguePath) {
            routeName("getFirmware");
            return catalogue(body, base, event);
        }
        if (path == kEditVersionPath) {
            routeName("editVersion");
            return editVersion(body, event);
        }
        if (path == kReleasePath) {
            routeName("getSoftwareUpgradeUrl");
            return releaseCheck(body, base, event);
        }
    } else {
        const QString p = QString::fromStdString(path);
        if (p.startsWith(QLatin1String(kFilesPrefix))) {
            routeName("file");
            return staticFile(QStringLiteral("files"), p.mid(int(sizeof kFilesPrefix) - 1), event);
        }
        if (p.startsWith(QLatin1String(kReleasesPrefix))) {
            routeName("archive");
            return staticFile(
                QStringLiteral("releases"), p.mid(int(sizeof kReleasesPrefix) - 1), event);
        }
        if (path == kReportsPath) {
            routeName("reports");
            return reports();
        }
    }
    routeName("unknown");
    Reply r = envelope(404, QStringLiteral("no such endpoint"), QJsonObject());
    r.status = 404;
    return r;
}

ZoCloudSimServer::Reply ZoCloudSimServer::catalogue(
    const QJsonValue &body, const QString &base, QJsonObject &event)
{
    auto refuse = [&event](const QString &problem) {
        event.insert(QStringLiteral("problem"), problem);
        return envelope(400, problem, QJsonObject());
    };
    if (!body.isObject())
        return refuse(QStringLiteral("request body is not a JSON object"));
    const QJsonObject q = body.toObject();
    const QJsonValue fidValue = q.value(QStringLiteral("fid"));
    const QJsonValue typeValue = q.value(QStringLiteral("type"));
    const QJsonValue specialValue = q.value(QStringLiteral("special"));
    if (!isIntegral(fidValue, 0, 255))
        return refuse(QStringLiteral("\"fid\" must be a number 0..255"));
    if (!isIntegral(typeValue, 1, 3))
        return refuse(QStringLiteral("\"type\" must be the number 1, 2 or 3"));
    if (!specialValue.isString())
        return refuse(QStringLiteral("\"special\" must be a string"));
    const int fid = fidValue.toInt();
    const int branch = typeValue.toInt();
    const QString special = specialValue.toString();

    QJsonObject doc;
    QString error;
    if (!readJsonFile(QStringLiteral("catalog.json"), &doc, &error)) {
        event.insert(QStringLiteral("problem"), error);
        return envelope(500, error, QJsonObject());
    }
    const QJsonArray catalogues = doc.value(QStringLiteral("catalogues")).toArray();
    bool keyMismatch = false;
    for (const QJsonValue &cv : catalogues) {
        const QJsonObject c = cv.toObject();
        if (c.value(QStringLiteral("fid")).toInt(-1) != fid
            || c.value(QStringLiteral("branch")).toInt(-1) != branch)
            continue;
        if (branch == 3 && c.value(QStringLiteral("special")).toString() != special) {
            keyMismatch = true;
            continue;
        }
        QJsonArray out;
        for (const QJsonValue &ev : c.value(QStringLiteral("firmwares")).toArray()) {
            QJsonObject e = ev.toObject();
            // File names become addresses on this server; literal "upgradePath"
            // and "path" values pass through untouched (to serve odd ones).
            const QString upgradeFile = e.take(QStringLiteral("upgradeFile")).toString();
            const QString pathFile = e.take(QStringLiteral("pathFile")).toString();
            if (!e.contains(QStringLiteral("upgradePath")))
                e.insert(QStringLiteral("upgradePath"),
                    upgradeFile.isEmpty() ? QString() : fileUrl(base, kFilesPrefix, upgradeFile));
            if (!e.contains(QStringLiteral("path")))
                e.insert(QStringLiteral("path"),
                    pathFile.isEmpty() ? QString() : fileUrl(base, kFilesPrefix, pathFile));
            if (!e.contains(QStringLiteral("type")))
                e.insert(QStringLiteral("type"), branch);
            out.append(e);
        }
        event.insert(QStringLiteral("firmwares"), out.size());
        QJsonObject data;
        data.insert(QStringLiteral("firmwares"), out);
        return envelope(200, QStringLiteral("success"), data);
    }
    if (keyMismatch)
        return envelope(403, QStringLiteral("custom branch key not recognised"), QJsonObject());
    return envelope(404, QStringLiteral("no firmware for fid %1 on branch %2").arg(fid).arg(branch),
        QJsonObject());
}

ZoCloudSimServer::Reply ZoCloudSimServer::editVersion(const QJsonValue &body, QJsonObject &event)
{
    // One per thread: handlers run on several workers at once.
    thread_local const QRegularExpression versionRe(
        QStringLiteral("^[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}$"));
    thread_local const QRegularExpression fidRe(QStringLiteral("^[0-9]{1,3}$"));
    QString problem;
    const QJsonObject q = body.toObject();
    if (!body.isObject())
        problem = QStringLiteral("request body is not a JSON object");
    else if (!q.value(QStringLiteral("deviceID")).isString())
        problem = QStringLiteral("\"deviceID\" must be a string");
    else if (!q.value(QStringLiteral("version")).isString()
        || !versionRe.match(q.value(QStringLiteral("version")).toString()).hasMatch())
        problem = QStringLiteral("\"version\" must be a string major.minor.revision");
    else if (!q.value(QStringLiteral("fid")).isString()
        || !fidRe.match(q.value(QStringLiteral("fid")).toString()).hasMatch())
        problem = QStringLiteral("\"fid\" must be a decimal string");

    QJsonObject record = q;
    if (!problem.isEmpty()) {
        event.insert(QStringLiteral("problem"), problem);
        record.insert(QStringLiteral("problem"), problem);
    }
    {
        std::lock_guard<std::mutex> lock(m_reportsMutex);
        m_reports.append(record);
    }
    event.insert(QStringLiteral("recorded"), true);
    if (!problem.isEmpty())
        return envelope(400, problem, QJsonObject());
    return envelope(200, QStringLiteral("success"), QJsonObject());
}

ZoCloudSimServer::Reply ZoCloudSimServer::releaseCheck(
    const QJsonValue &body, const QString &base, QJsonObject &event)
{
    auto refuse = [&event](const QString &problem) {
        event.insert(QStringLiteral("problem"), problem);
        return envelope(400, problem, QJsonObject());
    };
    if (!body.isObject())
        return refuse(QStringLiteral("request body is not a JSON object"));
    const QJsonObject q = body.toObject();
    if (!isIntegral(q.value(QStringLiteral("key")), -2147483648.0, 2147483647.0))
        return refuse(QStringLiteral("\"key\" must be a number"));
    const int key = q.value(QStringLiteral("key")).toInt();
    QString code;
    if (q.contains(QStringLiteral("code"))) {
        // The updater leaves the member out when it has no code.
        if (!q.value(QStringLiteral("code")).isString()
            || q.value(QStringLiteral("code")).toString().isEmpty())
            return refuse(QStringLiteral("\"code\" must be a non-empty string when present"));
        code = q.value(QStringLiteral("code")).toString();
    }

    QJsonObject doc;
    QString error;
    if (!readJsonFile(QStringLiteral("releases.json"), &doc, &error)) {
        event.insert(QStringLiteral("problem"), error);
        return envelope(500, error, QJsonObject());
    }
    for (const QJsonValue &rv : doc.value(QStringLiteral("releases")).toArray()) {
        QJsonObject r = rv.toObject();
        const QJsonObject match = r.take(QStringLiteral("match")).toObject();
        if (match.contains(QStringLiteral("key"))
            && match.value(QStringLiteral("key")).toInt(key + 1) != key)
            continue;
        if (match.contains(QStringLiteral("code"))
            && match.value(QStringLiteral("code")).toString() != code)
            continue;
        const QString archive = r.take(QStringLiteral("archive")).toString();
        if (!r.contains(QStringLiteral("url")) && !archive.isEmpty())
            r.insert(QStringLiteral("url"), fileUrl(base, kReleasesPrefix, archive));
        event.insert(QStringLiteral("release"), r.value(QStringLiteral("version")));
        return envelope(200, QStringLiteral("success"), r);
    }
    return envelope(200, QStringLiteral("no release for this channel"), QJsonObject());
}

ZoCloudSimServer::Reply ZoCloudSimServer::staticFile(
    const QString &dir, const QString &name, QJsonObject &event)
{
    QFile file;
    if (isPlainName(name))
        file.setFileName(QDir(m_options.root).filePath(dir + QLatin1Char('/') + name));
    if (!isPlainName(name) || !QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly)) {
        event.insert(QStringLiteral("problem"), QStringLiteral("no such file"));
        Reply r = envelope(404, QStringLiteral("no such file"), QJsonObject());
        r.status = 404;
        return r;
    }
    Reply r;
    r.body = file.readAll();
    r.contentType = name.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)
        ? "application/zip"
        : "application/octet-stream";
    return r;
}

ZoCloudSimServer::Reply ZoCloudSimServer::reports()
{
    QJsonObject data;
    {
        std::lock_guard<std::mutex> lock(m_reportsMutex);
        data.insert(QStringLiteral("reports"), m_reports);
    }
    return envelope(200, QStringLiteral("success"), data);
}
