#include "ZoNimbraHttpHelper.h"

#include "ZoCloudAddress.h"
#include "ZoCloudEnvelope.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include <cstdint>

namespace {
Q_LOGGING_CATEGORY(lcCloud, "tolvane.cloud")

// Firmware files are binary and megabytes long; the log keeps their head.
constexpr int LoggedBodyLimit = 1024;
// A version report's answer is an envelope without data.
constexpr qint64 MaxReportAnswerBytes = 64 * 1024;

QString loggedBody(const QByteArray &body)
{
    if (body.size() <= LoggedBodyLimit)
        return QString::fromUtf8(body);
    return QString::fromUtf8(body.left(LoggedBodyLimit))
        + QStringLiteral("... (%1 bytes)").arg(body.size());
}

// A JSON number as a whole number in [low, high]; anything else (not a
// number, a fraction, out of range) reads as 0.
qint64 wholeNumber(const QJsonValue &value, qint64 low, qint64 high)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!(number >= double(low) && number <= double(high)))
        return 0;
    const qint64 whole = static_cast<qint64>(number);
    return double(whole) == number ? whole : 0;
}

// One part of "major.minor.revision": a decimal integer, kept to its low byte.
bool versionPart(const QString &text, tdu1 &part)
{
    const int start = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    if (text.size() <= start)
        return false;
    for (int i = start; i < text.size(); ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    if (!ok)
        return false;
    part = static_cast<tdu1>(static_cast<quint64>(number) & 0xFFu);
    return true;
}
} // namespace

const char *const ZoNimbraHttpHelper::GetFirmwarePath = "/app/api/user/firmware/getFirmware";
const char *const ZoNimbraHttpHelper::EditVersionPath = "/app/api/user/machineInfo/editVersion";
const char *const ZoNimbraHttpHelper::UserAgent = "RAZERAzedad 2.0";

ZoNimbraHttpHelper::ZoNimbraHttpHelper(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
    , m_baseUrl(ZoCloudAddress::baseUrl())
{
    connect(m_manager, &QNetworkAccessManager::finished, this,
        &ZoNimbraHttpHelper::onZoNimbraReplyFinished);
    m_postRequest.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json;charset=UTF-8"));
    m_postRequest.setRawHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache"));
}

ZoNimbraHttpHelper::~ZoNimbraHttpHelper() = default;

void ZoNimbraHttpHelper::setBaseUrl(const QString &baseUrl)
{
    m_baseUrl = baseUrl;
    while (m_baseUrl.endsWith(QLatin1Char('/')))
        m_baseUrl.chop(1);
}

void ZoNimbraHttpHelper::setSslConfiguration(const QSslConfiguration &configuration)
{
    m_sslConfiguration = configuration;
    m_hasSslConfiguration = true;
}

void ZoNimbraHttpHelper::setDownloadTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds > 0 ? milliseconds : DefaultTimeoutMs;
}

void ZoNimbraHttpHelper::requestFirmware(tdu1 fid, int type, QString special)
{
    m_catalogue.clear();
    m_current = ZoFirmwareUpgInfo();
    m_requestedFid = fid;

    QJsonObject body;
    body.insert(QStringLiteral("fid"), int(fid));
    body.insert(QStringLiteral("type"), type);
    body.insert(QStringLiteral("special"), special);
    post(GetFirmwarePath, body, CloudTaskCatalogue);
}

void ZoNimbraHttpHelper::editVersion(const tVersion &version, QString deviceID)
{
    QJsonObject body;
    body.insert(QStringLiteral("deviceID"), deviceID);
    body.insert(QStringLiteral("version"),
        QStringLiteral("%1.%2.%3")
            .arg(unsigned(version.major))
            .arg(unsigned(version.minor))
            .arg(unsigned(version.revision)));
    body.insert(QStringLiteral("fid"), QString::number(unsigned(version.type)));
    m_reports.append(
        VersionReport {deviceID, version, QJsonDocument(body).toJson(QJsonDocument::Compact)});
    sendNextReport();
}

QNetworkRequest ZoNimbraHttpHelper::jsonPost(const char *path) const
{
    QNetworkRequest request = m_postRequest;
    request.setUrl(QUrl(m_baseUrl + QLatin1String(path)));
    if (m_hasSslConfiguration)
        request.setSslConfiguration(m_sslConfiguration);
    return request;
}

// The outstanding catalogue or file request no longer matters: its reply,
// when it comes, is stale, and its timeout must not act on the next one.
void ZoNimbraHttpHelper::supersedePending()
{
    ++m_requestSerial;
    m_pendingReply.clear();
    if (m_timeoutTimer)
        m_timeoutTimer->stop();
}

void ZoNimbraHttpHelper::post(const char *path, const QJsonObject &body, CloudTask task)
{
    supersedePending();
    track(
        m_manager->post(jsonPost(path), QJsonDocument(body).toJson(QJsonDocument::Compact)), task);
}

void ZoNimbraHttpHelper::download(const QString &url, CloudTask task)
{
    if (url.isEmpty())
        return;
    supersedePending();
    const QUrl address(url, QUrl::TolerantMode);
    // The catalogue is outside input: a file: or other local address would
    // read this machine's files into a device's flash.
    const QString scheme = address.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        qCWarning(lcCloud).noquote() << "ZoNimbraHttpHelper::download refuse address" << url;
        fail(1);
        return;
    }
    QNetworkRequest request(address);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), QByteArray(UserAgent));
    if (m_hasSslConfiguration)
        request.setSslConfiguration(m_sslConfiguration);
    track(m_manager->get(request), task);
}

void ZoNimbraHttpHelper::track(QNetworkReply *reply, CloudTask task)
{
    m_pendingReply = reply;
    connect(reply, &QNetworkReply::sslErrors, this, &ZoNimbraHttpHelper::onSslErrors);
    // readyRead rather than downloadProgress: the latter is held back to a
    // few per second, and the size limit must act on every chunk.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { onReplyHeaders(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onReplyProgress(reply); });
    if (!m_timeoutTimer) {
        m_timeoutTimer = new QTimer(this);
        m_timeoutTimer->setSingleShot(true);
        // A coarse timer may fire 5 % early; a link is given its full timeout.
        m_timeoutTimer->setTimerType(Qt::PreciseTimer);
        connect(m_timeoutTimer, &QTimer::timeout, this, &ZoNimbraHttpHelper::onDownloadTimeout);
    }
    m_sinceProgress.start();
    m_timeoutTimer->start(m_timeoutMs);
    m_task = task;
}

void ZoNimbraHttpHelper::onReplyHeaders(QNetworkReply *reply)
{
    if (reply != m_pendingReply)
        return;
    m_sinceProgress.start();
    bool known = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && announced > MaxReplyBytes)
        refuseOversized(reply, announced, "announcing");
}

void ZoNimbraHttpHelper::onReplyProgress(QNetworkReply *reply)
{
    if (reply != m_pendingReply)
        return;
    // Restarting the timer for every chunk would cost more than the chunk;
    // the timeout looks at this clock instead.
    m_sinceProgress.start();
    // Nothing is read before the reply ends, so what is buffered is all that
    // came, whatever the header said or whether it said anything.
    if (reply->bytesAvailable() > MaxReplyBytes)
        refuseOversized(reply, reply->bytesAvailable(), "past");
}

void ZoNimbraHttpHelper::refuseOversized(QNetworkReply *reply, qint64 bytes, const char *what)
{
    qCWarning(lcCloud).noquote() << "ZoNimbraHttpHelper::download refuse"
                                 << reply->url().toEncoded() << what << bytes << "bytes, more than"
                                 << MaxReplyBytes;
    // No longer pending before the abort, whose finished() then finds the
    // reply stale and merely disposes of it.
    m_pendingReply.clear();
    if (m_timeoutTimer)
        m_timeoutTimer->stop();
    reply->abort();
    fail(ResultFailed);
}

void ZoNimbraHttpHelper::becomeIdle()
{
    m_task = CloudTaskIdle;
    m_current = ZoFirmwareUpgInfo();
    m_pendingReply.clear();
}

void ZoNimbraHttpHelper::fail(tdu1 code)
{
    // State first: a slot connected to the result may start the next request.
    becomeIdle();
    emit sigDownloadResult(false, code);
}

void ZoNimbraHttpHelper::onZoNimbraReplyFinished(QNetworkReply *pReply)
{
    if (pReply == nullptr)
        return;
    if (pReply == m_reportReply) {
        finishReport(pReply);
        return;
    }

    // Only the reply the task waits for may stop the timeout: a stale one
    // (timed out, superseded, or of an earlier task) would otherwise leave the
    // current download without any time limit.
    if (pReply != m_pendingReply) {
        qCDebug(lcCloud).noquote() << "ZoNimbraHttpHelper::onZoNimbraReplyFinished() - stale reply"
                                   << pReply->url().toEncoded() << "ignored";
        pReply->deleteLater();
        return;
    }
    m_pendingReply.clear();
    if (m_timeoutTimer)
        m_timeoutTimer->stop();

    if (m_task == CloudTaskIdle) {
        pReply->deleteLater();
        return;
    }

    if (pReply->error() != QNetworkReply::NoError) {
        const QString errorText = pReply->errorString();
        const int httpStatus = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        qCDebug(lcCloud).noquote().nospace()
            << "Download of " << pReply->url().toEncoded() << " failed: " << errorText;
        qCWarning(lcCloud, "found error ....code: %d %d, %s\n", httpStatus, int(pReply->error()),
            qUtf8Printable(errorText));
        pReply->deleteLater();
        fail(ResultFailed);
        return;
    }

    if (pReply->bytesAvailable() > MaxReplyBytes) {
        refuseOversized(pReply, pReply->bytesAvailable(), "past");
        pReply->deleteLater(); // a finished reply ignores the abort
        return;
    }
    const QByteArray body = pReply->readAll();
    pReply->deleteLater();
    if (body.isEmpty()) {
        fail(ResultFailed);
        return;
    }
    qCDebug(lcCloud).noquote() << "download replay" << loggedBody(body);
    handleBody(body);
}

void ZoNimbraHttpHelper::handleBody(const QByteArray &body)
{
    switch (m_task) {
    case CloudTaskCatalogue: {
        if (!parseCatalogue(body, m_requestedFid, m_catalogue)) {
            fail(ResultFailed);
            return;
        }
        ZoFirmwareUpgInfo first;
        if (!pickNext(true, first)) {
            fail(ResultFailed);
            return;
        }
        m_current = first;
        download(m_current.upgradePath, CloudTaskFirmwareFile);
        return;
    }
    case CloudTaskFirmwareFile:
        finishFirmwareFile(body);
        return;
    case CloudTaskPathFile:
        finishPathFile();
        return;
    default:
        return;
    }
}

void ZoNimbraHttpHelper::finishFirmwareFile(const QByteArray &body)
{
    m_current.downloaded = true;
    m_catalogue.insert(m_current.fid, m_current);

    ZoFRMFileInfo record;
    record.fid = static_cast<tdu1>(m_current.fid & 0xFFu);
    record.version = m_current.version;
    record.nickName = m_current.nickName;
    record.nickNameEn = m_current.nickNameEn;
    record.upgradeDescription = m_current.upgradeDescription;
    record.upgradeDescriptionEn = m_current.upgradeDescriptionEn;
    record.setBytes(body);

    const quint64 serial = m_requestSerial;
    emit sigFRMFileDownloaded(record);
    qCDebug(lcCloud).noquote() << "Single Firmware Feb File,size:" << record.nickName
                               << record.size();
    if (serial != m_requestSerial)
        return; // a receiver started another request

    ZoFirmwareUpgInfo next;
    if (pickNext(true, next)) {
        m_current = next;
        download(m_current.upgradePath, CloudTaskFirmwareFile);
        return;
    }

    for (ZoFirmwareUpgInfo &entry : m_catalogue)
        entry.downloaded = false;
    fetchNextPathFile();
}

void ZoNimbraHttpHelper::finishPathFile()
{
    m_current.downloaded = true;
    m_catalogue.insert(m_current.fid, m_current);
    fetchNextPathFile();
}

// The release-note files come after every firmware file; the run ends when
// none is left.
void ZoNimbraHttpHelper::fetchNextPathFile()
{
    ZoFirmwareUpgInfo next;
    if (!pickNext(false, next)) {
        becomeIdle();
        emit sigDownloadResult(true, ResultAllFetched);
        return;
    }
    m_current = next;
    download(m_current.path, CloudTaskPathFile);
}

bool ZoNimbraHttpHelper::pickNext(bool byUpgradePath, ZoFirmwareUpgInfo &entry) const
{
    for (const ZoFirmwareUpgInfo &candidate : m_catalogue) {
        const QString &url = byUpgradePath ? candidate.upgradePath : candidate.path;
        if (!candidate.downloaded && !url.isEmpty()) {
            entry = candidate;
            return true;
        }
    }
    return false;
}

void ZoNimbraHttpHelper::onSslErrors(QList<QSslError> onSslErrors)
{
    for (const QSslError &error : onSslErrors)
        qCDebug(lcCloud).noquote().nospace() << "SSL error: " << error.errorString();

    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (reply != nullptr && reply != m_pendingReply)
        return; // a request that no longer matters

    // The errors are not ignored: the reply ends with an error later and,
    // no longer pending, is discarded then.
    if (m_timeoutTimer)
        m_timeoutTimer->stop();
    fail(ResultFailed);
}

void ZoNimbraHttpHelper::onDownloadTimeout()
{
    if (m_task == CloudTaskIdle)
        return;
    if (m_pendingReply && m_sinceProgress.isValid()) {
        const qint64 quiet = m_sinceProgress.elapsed();
        if (quiet < m_timeoutMs) {
            m_timeoutTimer->start(int(m_timeoutMs - quiet)); // still receiving
            return;
        }
    }
    // A stalled connection would otherwise stay open for as long as the
    // server keeps it, holding one of the few the manager opens per host.
    if (QNetworkReply *reply = m_pendingReply.data()) {
        m_pendingReply.clear();
        reply->abort();
    }
    switch (m_task) {
    case CloudTaskFirmwareFile:
        fail(ResultFirmwareTimeout);
        return;
    case CloudTaskPathFile:
        fail(ResultPathTimeout);
        return;
    case CloudTaskCatalogue:
        m_catalogue.clear();
        fail(ResultFailed);
        return;
    default:
        return;
    }
}

// One report at a time keeps them in order at the service, where a device
// reported twice must end with its latest version. A catalogue download runs
// on a connection of its own meanwhile.
void ZoNimbraHttpHelper::sendNextReport()
{
    if (m_reportReply || m_reports.isEmpty())
        return;
    QNetworkReply *reply = m_manager->post(jsonPost(EditVersionPath), m_reports.first().body);
    m_reportReply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply == m_reportReply && reply->bytesAvailable() > MaxReportAnswerBytes)
            abandonReport(QStringLiteral("answer longer than %1 bytes").arg(MaxReportAnswerBytes));
    });
    if (!m_reportTimer) {
        m_reportTimer = new QTimer(this);
        m_reportTimer->setSingleShot(true);
        m_reportTimer->setTimerType(Qt::PreciseTimer);
        connect(m_reportTimer, &QTimer::timeout, this,
            [this] { abandonReport(QStringLiteral("no answer within %1 ms").arg(m_timeoutMs)); });
    }
    m_reportTimer->start(m_timeoutMs);
}

void ZoNimbraHttpHelper::finishReport(QNetworkReply *reply)
{
    m_reportReply.clear();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        completeReport(false, reply->errorString());
        return;
    }
    // Any other reply than a successful envelope (whose data is empty) is a
    // report the service did not take.
    ZoCloudEnvelope envelope;
    envelope.parse(reply->readAll(), lcCloud);
    if (envelope.status != 200) {
        completeReport(false,
            envelope.status == 0 ? QStringLiteral("not an answer of the service")
                                 : QStringLiteral("the service answered %1: %2")
                                       .arg(envelope.status)
                                       .arg(envelope.message));
        return;
    }
    completeReport(true, QString());
}

void ZoNimbraHttpHelper::abandonReport(const QString &error)
{
    QNetworkReply *reply = m_reportReply.data();
    // No longer current before the abort, whose finished() then finds the
    // reply stale and merely disposes of it.
    m_reportReply.clear();
    if (reply)
        reply->abort();
    completeReport(false, error);
}

void ZoNimbraHttpHelper::completeReport(bool ok, const QString &error)
{
    if (m_reportTimer)
        m_reportTimer->stop();
    if (m_reports.isEmpty())
        return;
    const VersionReport done = m_reports.takeFirst();
    if (ok)
        qCDebug(lcCloud).noquote() << "version report of" << done.deviceID << "taken";
    else
        qCWarning(lcCloud).noquote() << "version report of" << done.deviceID << "failed:" << error;
    // The next one goes out first: a receiver may make a report of its own
    // or destroy this client.
    sendNextReport();
    emit sigVersionReported(done.deviceID, done.version, ok, error);
}

bool ZoNimbraHttpHelper::parseCatalogue(
    const QByteArray &body, tdu1 requestedFid, Catalogue &catalogue)
{
    ZoCloudEnvelope envelope;
    if (!envelope.parse(body, lcCloud))
        return false;
    const QJsonObject &data = envelope.data;
    if (!data.contains(QLatin1String("firmwares")))
        return false;
    const QJsonValue firmwaresValue = data.value(QLatin1String("firmwares"));
    if (!firmwaresValue.isArray())
        return false;
    const QJsonArray firmwares = firmwaresValue.toArray();
    if (firmwares.isEmpty())
        return false;

    for (const QJsonValue &element : firmwares) {
        ZoFirmwareUpgInfo entry;
        if (!parseFirmwareEntry(element.toObject(), entry))
            return false;
        catalogue.insert(entry.fid, entry);
    }
    return catalogue.contains(tdu4(requestedFid));
}

bool ZoNimbraHttpHelper::parseFirmwareEntry(const QJsonObject &object, ZoFirmwareUpgInfo &info)
{
    info = ZoFirmwareUpgInfo();
    const auto text
        = [&object](const char *key) { return object.value(QLatin1String(key)).toString(); };

    info.fid
        = static_cast<tdu4>(wholeNumber(object.value(QLatin1String("fid")), INT32_MIN, UINT32_MAX));
    info.type = static_cast<tdu1>(
        static_cast<tdu4>(wholeNumber(object.value(QLatin1String("type")), INT32_MIN, UINT32_MAX))
        & 0xFFu);
    info.nickName = text("nickName");
    info.nickNameEn = text("nickNameEn");
    info.upgradeDescriptionEn = text("UpgradeDescriptionEn");
    info.upgradeDescription = text("upgradeDescription");
    info.upgradePath = text("upgradePath");
    info.path = text("path");

    const QStringList parts = text("version").split(QLatin1Char('.'), Qt::KeepEmptyParts);
    tdu1 numbers[3] = {0, 0, 0};
    bool ok = parts.size() == 3;
    for (int i = 0; ok && i < 3; ++i)
        ok = versionPart(parts.at(i), numbers[i]);
    if (!ok) {
        info = ZoFirmwareUpgInfo();
        return false;
    }
    info.version.type = static_cast<tdu1>(info.fid & 0xFFu);
    info.version.major = numbers[0];
    info.version.minor = numbers[1];
    info.version.revision = numbers[2];
    return true;
}
