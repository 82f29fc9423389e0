#include "ZoDownloadManager.h"
#include "ZoTestFiles.h"
#include "ZoTestHttpServer.h"
#include "ZoTestLog.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

using Finished = QPair<QString, bool>;

QByteArray payload(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 131 + i / 7) & 0xff);
    return b;
}

} // namespace

class tst_ZoDownloadManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        // Downloads land in the working directory.
        m_tmp = std::make_unique<QTemporaryDir>();
        m_oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_tmp->path()));
        m_finished.clear();
        m_progress.clear();
    }

    void cleanup()
    {
        QDir::setCurrent(m_oldCwd);
        m_tmp.reset();
    }

    void saveFileNameNeverOverwrites_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");

        QTest::newRow("free") << "http://h/pkg/app.zip" << QStringList() << "app.zip";
        QTest::newRow("taken twice")
            << "http://h/pkg/app.zip" << QStringList {"app.zip", "app.0.zip"} << "app.1.zip";
        QTest::newRow("two dots") << "http://h/r/app.tar.gz" << QStringList {"app.tar.gz"}
                                  << "app.0.gz";
        QTest::newRow("encoded") << "http://h/r/new%20app.zip" << QStringList() << "new app.zip";
        QTest::newRow("no base") << "http://h/r/.zip" << QStringList {".zip"} << "download.0.zip";
        QTest::newRow("query ignored")
            << "http://h/r/app.zip?sig=abc" << QStringList() << "app.zip";
        QTest::newRow("no file name") << "http://h/" << QStringList() << "";
        QTest::newRow("dangling link taken")
            << "http://h/app.zip" << QStringList {"@link app.zip"} << "app.0.zip";
    }
    void saveFileNameNeverOverwrites()
    {
        QFETCH(QString, url);
        QFETCH(QStringList, existing);
        for (const QString &e : existing) {
            if (e.startsWith("@link "))
                QVERIFY(QFile::link(m_tmp->filePath("nowhere/file"), e.mid(6)));
            else
                QVERIFY(zoWriteFile(e, QByteArray()));
        }
        QTEST(ZoDownloadManager::saveFileName(QUrl(url)), "expected");
    }

    void downloadsQueueInOrder()
    {
        ZoTestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray first = payload(300000);
        const QByteArray second = "second body";
        server.setResponse("/a/app.zip", {200, first, {}});
        server.setResponse("/b/app.zip", {200, second, {}});

        ZoTestLogCapture log;
        ZoDownloadManager dm;
        connectRecorder(dm);
        dm.stop(); // idle: nothing happens
        dm.append(QUrl(server.url("/a/app.zip")));
        dm.append(QUrl(server.url("/"))); // no file name: cannot be saved, dropped
        dm.append(QUrl(server.url("/b/app.zip"))); // same name: must not overwrite the first

        QTRY_COMPARE(m_finished.size(), 2);
        QCOMPARE(m_finished, QList<Finished>({{"app.zip", true}, {"app.0.zip", true}}));
        QCOMPARE(zoReadFile("app.zip"), first);
        QCOMPARE(zoReadFile("app.0.zip"), second);
        QTRY_VERIFY(log.contains("2/3 files downloaded successfully"));
        QVERIFY(log.contains("Problem opening save file "));
        QCOMPARE(server.requests().size(), 2);

        // Progress ends at the full size of each download and never runs backwards.
        QVERIFY(m_progress.contains(qMakePair(qint64(first.size()), qint64(first.size()))));
        QCOMPARE(m_progress.last(), qMakePair(qint64(second.size()), qint64(second.size())));
        for (int i = 1; i < m_progress.size(); ++i)
            if (m_progress[i].second == m_progress[i - 1].second)
                QVERIFY(m_progress[i].first >= m_progress[i - 1].first);
    }

    void failedDownloadRemovesFile_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("dropAfter");
        QTest::addColumn<bool>("diskFull");

        QTest::newRow("HTTP error") << 404 << qint64(-1) << false;
        QTest::newRow("body cut short") << 200 << qint64(70000) << false;
        QTest::newRow("nothing of the body") << 200 << qint64(0) << false;
        QTest::newRow("file cannot take it") << 200 << qint64(-1) << true;
    }
    void failedDownloadRemovesFile()
    {
        QFETCH(int, status);
        QFETCH(qint64, dropAfter);
        QFETCH(bool, diskFull);

        ZoTestHttpServer server;
        QVERIFY(server.listen());
        ZoTestHttpServer::Response r;
        r.status = status;
        r.body = payload(diskFull ? 6 << 20 : 200000);
        r.dropAfter = dropAfter;
        server.setResponse("/rel/app.zip", r);

        // A file size limit makes the disk "full" for this process only; it is
        // well above anything the test's own output may have written to a file.
        struct rlimit oldLimit;
        QVERIFY(getrlimit(RLIMIT_FSIZE, &oldLimit) == 0);
        if (diskFull) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = oldLimit;
            small.rlim_cur = 3 << 20;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        }

        ZoTestLogCapture log;
        ZoDownloadManager dm;
        connectRecorder(dm);
        dm.append(QUrl(server.url("/rel/app.zip")));
        QTRY_COMPARE(m_finished.size(), 1);
        setrlimit(RLIMIT_FSIZE, &oldLimit);

        QCOMPARE(m_finished.first(), Finished("app.zip", false));
        QVERIFY(!QFile::exists("app.zip"));
        QVERIFY(log.contains("Failed download: "));
        QTRY_VERIFY(log.contains("0/1 files downloaded successfully"));
    }

    void stopKeepsPartialFile()
    {
        ZoTestHttpServer server;
        QVERIFY(server.listen());
        // In pieces of 4000 bytes 20 ms apart: eight seconds in all; stopped long before.
        server.setResponse("/slow/app.zip", {200, payload(400000), {}, -1, 4000, 20});
        server.setResponse("/next.zip", {200, "next", {}});

        ZoTestLogCapture log;
        ZoDownloadManager dm;
        connectRecorder(dm);
        dm.append(QUrl(server.url("/slow/app.zip")));
        dm.append(QUrl(server.url("/next.zip")));
        QTRY_VERIFY(!m_progress.isEmpty() && m_progress.last().first > 8000);
        dm.stop();

        QTRY_VERIFY(log.contains("Failed download: "));
        QTest::qWait(300);
        QVERIFY(m_finished.isEmpty()); // no signal for a stopped download
        QCOMPARE(server.requests().size(), 1); // and the queue does not move on
        QVERIFY(QFileInfo("app.zip").size() > 8000);
        QVERIFY(!log.contains("files downloaded successfully"));
    }

    void silenceEndsDownload_data()
    {
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<bool>("ok");
        // Twenty pieces: the whole takes longer than the timeout, no gap comes
        // near it, even on a loaded machine.
        QTest::newRow("slow but steady") << 100 << true;
        QTest::newRow("goes quiet") << 4000 << false;
    }
    void silenceEndsDownload()
    {
        QFETCH(int, intervalMs);
        QFETCH(bool, ok);
        ZoTestHttpServer server;
        QVERIFY(server.listen());
        server.setResponse("/rel/app.zip", {200, payload(20000), {}, -1, 1000, intervalMs});
        server.setResponse("/next.zip", {200, "next", {}});

        ZoTestLogCapture log;
        ZoDownloadManager dm;
        dm.setStallTimeout(1500);
        connectRecorder(dm);
        dm.append(QUrl(server.url("/rel/app.zip")));
        dm.append(QUrl(server.url("/next.zip")));
        QTRY_COMPARE_WITH_TIMEOUT(m_finished.size(), 2, 20000);

        QCOMPARE(m_finished.first(), Finished("app.zip", ok));
        QCOMPARE(QFile::exists("app.zip"), ok);
        if (ok)
            QCOMPARE(zoReadFile("app.zip"), payload(20000));
        else
            QVERIFY(log.contains("Failed download: nothing received for 1500 ms"));
        // The queue moves on either way.
        QCOMPARE(m_finished.last(), Finished("next.zip", true));
    }

    void compressedTransferIsWhole()
    {
        // Content-Length counts the compressed bytes; the file gets more. That
        // is no short body.
        ZoTestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray body = QByteArray("release notes ").repeated(20000);
        const QByteArray zlibStream = qCompress(body).mid(4);
        server.setResponse("/app.zip", {200, zlibStream, {{"Content-Encoding", "deflate"}}});

        ZoDownloadManager dm;
        connectRecorder(dm);
        dm.append(QUrl(server.url("/app.zip")));
        QTRY_COMPARE(m_finished.size(), 1);
        QCOMPARE(m_finished.first(), Finished("app.zip", true));
        QCOMPARE(zoReadFile("app.zip"), body);
    }

private:
    void connectRecorder(ZoDownloadManager &dm)
    {
        connect(&dm, &ZoDownloadManager::sigDownloadFinished, this,
            [this](const QString &name, bool ok) { m_finished << Finished(name, ok); });
        connect(&dm, &ZoDownloadManager::sigDownloadProgress, this,
            [this](qint64 got, qint64 total) { m_progress << qMakePair(got, total); });
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_oldCwd;
    QList<Finished> m_finished;
    QList<QPair<qint64, qint64>> m_progress;
};

QTEST_GUILESS_MAIN(tst_ZoDownloadManager)
#include "tst_zodownloadmanager.moc"
