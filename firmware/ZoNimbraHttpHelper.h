#pragma once

#include "ZoFRMFileInfo.h"
#include "ZoFirmwareUpgInfo.h"
#include "ZoTypes.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Client of the cloud service: fetches the firmware catalogue of a device
// family and branch, downloads its files one after the other and reports
// upgraded versions. Lives on the main thread. One catalogue task is tracked
// at a time; version reports are queued beside it and sent one after the
// other on their own requests, so neither ever cuts the other short.
//
// No call runs the event loop: a caller's objects are as it left them when
// the call returns, and every result comes later from the caller's own loop.
//
// A request is given up when it receives nothing for the download timeout,
// not when it takes longer: a firmware file over a slow mobile link may take
// minutes, a stalled one is over after the timeout.
class ZoNimbraHttpHelper : public QObject
{
    Q_OBJECT

public:
    enum CloudTask : tdu1 {
        CloudTaskIdle = 0,
        CloudTaskFirmwareFile = 1, // an "upgradePath" file
        CloudTaskPathFile = 2, // a "path" file
        CloudTaskCatalogue = 4,
    };

    // The task argument of sigDownloadResult.
    enum DownloadResultCode : tdu1 {
        ResultAllFetched = 4, // with succ true
        ResultFailed = 1, // with succ false
        ResultFirmwareTimeout = 3, // with succ false
        ResultPathTimeout = 4, // with succ false
    };

    static constexpr int DefaultTimeoutMs = 10000;
    // Larger replies are refused (ResultFailed) before they fill the memory;
    // no firmware file comes near it.
    static constexpr qint64 MaxReplyBytes = qint64(64) * 1024 * 1024;
    static const char *const GetFirmwarePath;
    static const char *const EditVersionPath;
    static const char *const UserAgent;

    using Catalogue = QMap<tdu4, ZoFirmwareUpgInfo>;

    // The base address comes from ZoCloudAddress::baseUrl().
    explicit ZoNimbraHttpHelper(QObject *parent = nullptr);
    ~ZoNimbraHttpHelper() override;

    // Starts a catalogue task; one under way is given up (it emits nothing
    // more). Version reports are left alone.
    void requestFirmware(tdu1 fid, int type, QString special);
    // Queues a version report; each ends with sigVersionReported, in the
    // order they were made. Reports still queued when the client is
    // destroyed are dropped.
    void editVersion(const tVersion &version, QString deviceID);

    // Scheme, host and port the endpoint paths are appended to.
    void setBaseUrl(const QString &baseUrl);
    QString baseUrl() const { return m_baseUrl; }
    // TLS settings of every request (for instance an extra trusted CA);
    // without a call the system's defaults apply. Errors are never ignored.
    void setSslConfiguration(const QSslConfiguration &configuration);
    // How long a request may go without receiving a byte before the task is
    // given up; a version report gets as long for its answer.
    void setDownloadTimeout(int milliseconds);
    int downloadTimeout() const { return m_timeoutMs; }
    // A catalogue or file request is under way; it ends, one way or the
    // other, at the latest one timeout after its last received byte.
    // Version reports do not count.
    bool isRequestPending() const { return !m_pendingReply.isNull(); }
    // Version reports are queued or awaiting their answer; each ends within
    // one timeout of being sent.
    bool hasVersionReportsPending() const { return !m_reports.isEmpty(); }

    // Parses a getFirmware reply into catalogue (entries parsed before a
    // failing one stay); true when it is a successful reply whose entries
    // all parse and that holds requestedFid.
    static bool parseCatalogue(const QByteArray &body, tdu1 requestedFid, Catalogue &catalogue);
    // One catalogue element; on failure info is cleared.
    static bool parseFirmwareEntry(const QJsonObject &object, ZoFirmwareUpgInfo &info);

signals:
    void sigDownloadResult(bool succ, tdu1 task);
    void sigFRMFileDownloaded(ZoFRMFileInfo info);
    // The service took the report (ok), or why not.
    void sigVersionReported(QString deviceID, tVersion version, bool ok, QString error);

public slots:
    void onZoNimbraReplyFinished(QNetworkReply *pReply);
    void onSslErrors(QList<QSslError> onSslErrors);
    void onDownloadTimeout();

private:
    struct VersionReport
    {
        QString deviceID;
        tVersion version;
        QByteArray body;
    };

    QNetworkRequest jsonPost(const char *path) const;
    void post(const char *path, const QJsonObject &body, CloudTask task);
    void download(const QString &url, CloudTask task);
    void supersedePending();
    void track(QNetworkReply *reply, CloudTask task);
    void onReplyHeaders(QNetworkReply *reply);
    void onReplyProgress(QNetworkReply *reply);
    void refuseOversized(QNetworkReply *reply, qint64 bytes, const char *what);
    void handleBody(const QByteArray &body);
    void finishFirmwareFile(const QByteArray &body);
    void finishPathFile();
    void fetchNextPathFile();
    bool pickNext(bool byUpgradePath, ZoFirmwareUpgInfo &entry) const;
    void becomeIdle();
    void fail(tdu1 code);
    void sendNextReport();
    void finishReport(QNetworkReply *reply);
    void abandonReport(const QString &error);
    void completeReport(bool ok, const QString &error);

    QNetworkAccessManager *m_manager = nullptr;
    QTimer *m_timeoutTimer = nullptr;
    // Since the pending reply last received anything.
    QElapsedTimer m_sinceProgress;
    QNetworkRequest m_postRequest;
    QSslConfiguration m_sslConfiguration;
    bool m_hasSslConfiguration = false;
    QString m_baseUrl;
    int m_timeoutMs = DefaultTimeoutMs;

    tdu1 m_task = CloudTaskIdle;
    tdu1 m_requestedFid = 0;
    Catalogue m_catalogue;
    ZoFirmwareUpgInfo m_current;
    // The reply the task waits for; any other reply is stale and must
    // neither stop the timeout nor produce a result.
    QPointer<QNetworkReply> m_pendingReply;
    // Counts catalogue and file requests, so a request made by a slot
    // connected to a result supersedes the one in progress.
    quint64 m_requestSerial = 0;

    // The head is the one sent, when m_reportReply is set.
    QList<VersionReport> m_reports;
    QPointer<QNetworkReply> m_reportReply;
    QTimer *m_reportTimer = nullptr;
};
