#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QTimer>
#include <QUrl>

#include "ZoTypes.h"

class QNetworkReply;

// Fetches queued URLs one after another into files of the working
// directory, named after the URL's path and never overwriting a file that is
// already there. Every download ends with exactly one sigDownloadFinished,
// except one cancelled by stop(), which ends silently and keeps what it got.
// A download that receives nothing for the stall timeout ends as failed.
class ZoDownloadManager : public QObject
{
    Q_OBJECT
public:
    explicit ZoDownloadManager(QObject *parent = nullptr);
    ~ZoDownloadManager() override;

    void append(const QUrl &url);
    void stop();

    static constexpr int DefaultStallTimeoutMs = 30000;
    void setStallTimeout(int milliseconds) { m_stallTimer.setInterval(milliseconds); }
    int stallTimeout() const { return m_stallTimer.interval(); }

    // The name a download of url is saved under, relative to the working
    // directory: the URL's file name, or base.N.suffix with the first N that
    // names no existing file.
    static QString saveFileName(const QUrl &url);

Q_SIGNALS:
    void sigDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void sigDownloadFinished(const QString &filename, bool isSucc);

private Q_SLOTS:
    void onStartNextDownload();
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onDownloadFinished();
    void onDownloadReadyRead();

private:
    void finishLater(const QString &filename, bool isSucc);
    void onStalled();

    QNetworkAccessManager m_manager;
    QQueue<QUrl> m_queue;
    QPointer<QNetworkReply> m_reply;
    QFile m_output;
    QElapsedTimer m_clock;
    tds4 m_downloadedCount = 0;
    tds4 m_totalCount = 0;
    qint64 m_written = 0; // bytes of the current download that reached the file
    bool m_writeFailed = false; // the current file could not take everything
    QTimer m_stallTimer; // restarted by every piece that arrives
    bool m_stalled = false; // the current download was given up for silence
};
