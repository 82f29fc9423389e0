#include "ZoHttpHelper.h"

#include "ZoCloudEnvelope.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QTimer>

Q_LOGGING_CATEGORY(lcHaldenCheck, "haldenupdate.check")

namespace {
constexpr int kCheckTimeoutMs = 3000;
}

ZoHttpHelper::ZoHttpHelper(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<ZoHaldenUpdateInfo>("ZoHaldenUpdateInfo");
    m_request.setHeader(
        QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json;charset=UTF-8"));
    m_request.setRawHeader("Cache-Control", "no-cache");
    connect(
        &m_manager, &QNetworkAccessManager::finished, this, &ZoHttpHelper::onUpgradeReplyFinished);
}

ZoHttpHelper::~ZoHttpHelper()
{
    // The manager outlives this object's members only by a moment; make sure
    // nothing it does while tearing down its replies reaches our slots.
    m_manager.disconnect(this);
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void ZoHttpHelper::checkUpgrade(tds4 channel, const QString &code, const QString &url)
{
    m_info.clear();
    m_url = url;
    m_channel = channel;

    QJsonObject body;
    if (!code.isEmpty())
        body.insert(QStringLiteral("code"), code);
    body.insert(QStringLiteral("key"), channel);

    m_request.setUrl(QUrl(url, QUrl::TolerantMode));
    QNetworkReply *reply
        = m_manager.post(m_request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::sslErrors, this, &ZoHttpHelper::onSslErrors);

    m_requesting = true;
    m_reply = reply;

    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        // A coarse timer may fire 5 % early; the service is given its full 3 s.
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, &ZoHttpHelper::onCheckTimeout);
    }
    m_timer->start(kCheckTimeoutMs);
}

void ZoHttpHelper::onSslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &e : errors)
        qCWarning(lcHaldenCheck).noquote().nospace() << "SSL error: " << e.errorString();
}

void ZoHttpHelper::onCheckTimeout()
{
    if (!m_requesting) {
        m_timedOut = false;
        return;
    }
    m_timedOut = true;
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        reply->abort();
        reply->deleteLater();
    }
    qCDebug(lcHaldenCheck) << "ZoHttpHelper::onCheckTimeout";
}

void ZoHttpHelper::onUpgradeReplyFinished(QNetworkReply *pReply)
{
    m_requesting = false;
    if (m_timedOut) {
        qCDebug(lcHaldenCheck) << "ZoHttpHelper::onUpgradeReplyFinished" << m_timedOut;
        // Cleared once reported, so that the reply of a later check is not
        // taken for this timeout.
        m_timedOut = false;
        m_reply = nullptr;
        Q_EMIT sigDownloadFailed(tr("MsgRequestTimeout"));
        return;
    }
    if (!pReply)
        return;
    if (pReply == m_reply)
        m_reply = nullptr;

    if (pReply->error() != QNetworkReply::NoError) {
        qCDebug(lcHaldenCheck).noquote().nospace()
            << "ZoHttpHelper::onUpgradeReplyFinished reply error "
            << pReply->url().toString(QUrl::FullyEncoded) << ' ' << pReply->errorString();
        pReply->deleteLater();
        Q_EMIT sigDownloadFailed(pReply->errorString());
        return;
    }

    const QByteArray bytes = pReply->readAll();
    if (!bytes.isEmpty()) {
        if (!parseUpgradeReply(bytes))
            Q_EMIT sigDownloadFailed(QString());
        pReply->deleteLater();
    } else {
        qCDebug(lcHaldenCheck) << "ZoHttpHelper::onUpgradeReplyFinished reply content empty ";
        pReply->deleteLater();
        Q_EMIT sigDownloadFailed(QString());
    }
}

bool ZoHttpHelper::parseReplyBody(const QByteArray &bytes, ZoHaldenUpdateInfo &info)
{
    ZoCloudEnvelope envelope;
    if (!envelope.parse(bytes, lcHaldenCheck))
        return false;
    const QJsonObject &data = envelope.data;

    info.cdt = data.value(QStringLiteral("cdt")).toString();
    const QJsonValue level = data.value(QStringLiteral("importanceLevel"));
    info.importanceLevel = level.isDouble() ? level.toInt(2) : 2;
    info.description = data.value(QStringLiteral("description")).toString();
    info.version = data.value(QStringLiteral("version")).toString();
    info.url = data.value(QStringLiteral("url")).toString();
    return true;
}

bool ZoHttpHelper::parseUpgradeReply(const QByteArray &bytes)
{
    if (!parseReplyBody(bytes, m_info))
        return false;
    Q_EMIT sigHaldenUpgradeTipDownloaded(m_info);
    return true;
}
