#include "ZoDownloadManager.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

Q_LOGGING_CATEGORY(lcHaldenDownload, "haldenupdate.download")

ZoDownloadManager::ZoDownloadManager(QObject *parent)
    : QObject(parent)
{
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(DefaultStallTimeoutMs);
    connect(&m_stallTimer, &QTimer::timeout, this, &ZoDownloadManager::onStalled);
}

ZoDownloadManager::~ZoDownloadManager()
{
    // Tearing down the manager must not call back into members that are
    // already gone.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    m_output.close();
}

void ZoDownloadManager::append(const QUrl &url)
{
    if (m_queue.isEmpty())
        QTimer::singleShot(0, this, &ZoDownloadManager::onStartNextDownload);
    m_queue.enqueue(url);
    ++m_totalCount;
}

void ZoDownloadManager::stop()
{
    if (m_reply)
        m_reply->abort();
}

QString ZoDownloadManager::saveFileName(const QUrl &url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    const QString fileName = QFileInfo(path).fileName();
    QString baseName = fileName.section(QLatin1Char('.'), 0, 0);
    const QString suffix
        = fileName.contains(QLatin1Char('.')) ? fileName.section(QLatin1Char('.'), -1) : QString();
    if (baseName.isEmpty())
        baseName = QStringLiteral("download");

    // A dangling link counts as taken too: writing through it would create
    // its target, wherever that is.
    auto taken = [](const QString &name) {
        const QFileInfo fi(name);
        return fi.exists() || fi.isSymLink();
    };
    if (!taken(fileName))
        return fileName;

    baseName += QLatin1Char('.');
    for (int i = 0;; ++i) {
        const QString candidate = baseName + QString::number(i) + QLatin1Char('.') + suffix;
        if (!taken(candidate))
            return candidate;
    }
}

void ZoDownloadManager::onStartNextDownload()
{
    // One download at a time: a URL appended while one runs waits for it.
    if (m_reply)
        return;

    if (m_queue.isEmpty()) {
        qCDebug(lcHaldenDownload, "%d/%d files downloaded successfully", m_downloadedCount,
            m_totalCount);
        return;
    }

    const QUrl url = m_queue.dequeue();
    const QString filename = saveFileName(url);
    m_output.setFileName(filename);
    if (!m_output.open(QIODevice::WriteOnly)) {
        qCDebug(lcHaldenDownload).noquote().nospace()
            << "Problem opening save file " << filename << "for download. "
            << url.toString(QUrl::FullyEncoded) << " : " << m_output.errorString();
        onStartNextDownload();
        return;
    }
    m_written = 0;
    m_writeFailed = false;
    m_stalled = false;

    m_manager.clearConnectionCache();
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    m_manager.setNetworkAccessible(QNetworkAccessManager::Accessible);
    QT_WARNING_POP

    QNetworkReply *reply = m_manager.get(QNetworkRequest(url));
    m_reply = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, &ZoDownloadManager::onDownloadProgress);
    connect(reply, &QNetworkReply::finished, this, &ZoDownloadManager::onDownloadFinished);
    connect(reply, &QNetworkReply::readyRead, this, &ZoDownloadManager::onDownloadReadyRead);

    qCDebug(lcHaldenDownload).noquote().nospace()
        << "Downloading " << url.toString(QUrl::FullyEncoded);
    m_clock.start();
    // A link that goes dead mid-download never ends the reply by itself; the
    // window would show a frozen bar with no way to retry.
    m_stallTimer.start();
}

void ZoDownloadManager::onStalled()
{
    if (!m_reply)
        return;
    m_stalled = true;
    qCWarning(lcHaldenDownload).noquote()
        << "ZoDownloadManager: nothing received for" << m_stallTimer.interval() << "ms, giving up"
        << m_reply->url().toString(QUrl::FullyEncoded);
    m_reply->abort();
}

void ZoDownloadManager::onDownloadReadyRead()
{
    if (!m_reply)
        return;
    const QByteArray bytes = m_reply->readAll();
    if (bytes.isEmpty() || m_writeFailed)
        return;
    m_stallTimer.start();
    const qint64 n = m_output.write(bytes);
    if (n > 0)
        m_written += n;
    if (n != bytes.size()) {
        // Disk full or similar: the file can no longer become the archive the
        // server sent. Remember it; the download ends as failed.
        m_writeFailed = true;
        qCWarning(lcHaldenDownload).noquote()
            << "ZoDownloadManager::onDownloadReadyRead write failed:" << m_output.errorString();
        // Not from inside the reply's own signal.
        QTimer::singleShot(0, m_reply.data(), &QNetworkReply::abort);
    }
}

void ZoDownloadManager::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    Q_EMIT sigDownloadProgress(bytesReceived, bytesTotal);

    const qint64 elapsed = qMax<qint64>(1, m_clock.elapsed());
    double speed = double(bytesReceived) * 1000.0 / double(elapsed);
    QString unit;
    if (speed < 1024) {
        unit = QStringLiteral("bytes/sec");
    } else if (speed < 1024 * 1024) {
        speed /= 1024;
        unit = QStringLiteral("kB/s");
    } else {
        speed /= 1024 * 1024;
        unit = QStringLiteral("MB/s");
    }
    const double percent
        = bytesTotal > 0 ? double(bytesReceived) / double(bytesTotal) * 100.0 : 0.0;
    qCDebug(lcHaldenDownload).noquote()
        << "ZoDownloadManager::onDownloadProgress" << percent << speed << unit;
}

void ZoDownloadManager::finishLater(const QString &filename, bool isSucc)
{
    QTimer::singleShot(
        0, this, [this, filename, isSucc] { Q_EMIT sigDownloadFinished(filename, isSucc); });
}

void ZoDownloadManager::onDownloadFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    qCDebug(lcHaldenDownload) << "ZoDownloadManager::onDownloadFinished";
    m_stallTimer.stop();

    // Whatever is still buffered belongs to the file too.
    if (reply->bytesAvailable() > 0)
        onDownloadReadyRead();
    const bool flushed = m_output.flush();
    m_output.close();
    const QString filename = m_output.fileName();

    // A reply can end "without error" yet short: the peer closed the
    // connection before the announced length arrived. Such a file is no more
    // the archive than a failed one.
    QString failure;
    if (m_writeFailed || !flushed) {
        failure = QStringLiteral("could not write ") + filename;
    } else if (m_stalled) {
        failure = QStringLiteral("nothing received for %1 ms").arg(m_stallTimer.interval());
    } else if (reply->error() != QNetworkReply::NoError) {
        failure = reply->errorString();
    } else {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() != m_written)
            failure
                = QStringLiteral("received %1 of %2 bytes").arg(m_written).arg(length.toLongLong());
    }

    if (!failure.isEmpty()) {
        qCDebug(lcHaldenDownload).noquote().nospace() << "Failed download: " << failure;
        if (reply->error() == QNetworkReply::OperationCanceledError && !m_writeFailed
            && !m_stalled) {
            // Cancelled by stop(): keep the partial file, start nothing.
            reply->deleteLater();
            m_reply = nullptr;
            return;
        }
        finishLater(filename, false);
        m_output.remove();
    } else {
        finishLater(filename, true);
        ++m_downloadedCount;
    }

    reply->deleteLater();
    m_reply = nullptr;
    onStartNextDownload();
}
