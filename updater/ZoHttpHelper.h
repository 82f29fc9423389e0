#pragma once

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSslError>

#include "ZoHaldenUpdateInfo.h"
#include "ZoTypes.h"

class QNetworkReply;
class QTimer;

// Asks the cloud once whether a newer release of the application exists.
// The answer is either sigHaldenUpgradeTipDownloaded with the offered release
// or sigDownloadFailed, exactly once per check, within about three seconds.
class ZoHttpHelper : public QObject
{
    Q_OBJECT
public:
    explicit ZoHttpHelper(QObject *parent = nullptr);
    ~ZoHttpHelper() override;

    // channel is sent as "key"; code as "code" unless it is empty.
    void checkUpgrade(tds4 channel, const QString &code, const QString &url);

    // Reads one reply body of the check. True when it carries a release, which
    // is then in info. Touches nothing but info and the log, so anything the
    // server sends can be fed to it directly.
    static bool parseReplyBody(const QByteArray &bytes, ZoHaldenUpdateInfo &info);

Q_SIGNALS:
    void sigDownloadFailed(const QString &errStr);
    void sigHaldenUpgradeTipDownloaded(const ZoHaldenUpdateInfo &info);

public Q_SLOTS:
    void onUpgradeReplyFinished(QNetworkReply *pReply);
    void onSslErrors(const QList<QSslError> &errors);
    void onCheckTimeout();

private:
    bool parseUpgradeReply(const QByteArray &bytes);

    QNetworkAccessManager m_manager;
    QNetworkRequest m_request;
    QString m_url;
    tds4 m_channel = -1;
    ZoHaldenUpdateInfo m_info;
    QTimer *m_timer = nullptr; // child of this, made on the first check
    bool m_requesting = false;
    bool m_timedOut = false;
    QPointer<QNetworkReply> m_reply;
};
