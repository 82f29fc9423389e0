// tolvane-cloud-sim: a stand-in for the maker's cloud service on loopback.
// See ZoCloudSimServer.h for the served directory and the README for the
// file formats.

#include "ZoCloudSimEventLog.h"
#include "ZoCloudSimServer.h"
#include "ZoSimCommandLine.h"
#include "ZoSimFaultTable.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <thread>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tolvane-cloud-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a firmware catalogue, firmware files, version reports, release checks and "
        "release archives on 127.0.0.1. Prints \"LISTENING <port>\" as its first line."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"),
        QStringLiteral("TCP port on 127.0.0.1 (0: any free port)."), QStringLiteral("N"),
        QStringLiteral("0"));
    const QCommandLineOption rootOpt(QStringLiteral("root"),
        QStringLiteral("Served directory (catalog.json, releases.json, "
                       "files/, releases/)."),
        QStringLiteral("DIR"));
    const QCommandLineOption httpsOpt(QStringLiteral("https"), QStringLiteral("Serve HTTPS."));
    const QCommandLineOption certOpt(QStringLiteral("cert"),
        QStringLiteral("PEM certificate for --https."), QStringLiteral("FILE"));
    const QCommandLineOption keyOpt(QStringLiteral("key"),
        QStringLiteral("PEM private key for --https."), QStringLiteral("FILE"));
    const QCommandLineOption baseOpt(QStringLiteral("base-url"),
        QStringLiteral("Address written into replies instead of the "
                       "one the client used."),
        QStringLiteral("URL"));
    const QCommandLineOption logOpt(QStringLiteral("log"),
        QStringLiteral("Event log (JSON lines), default standard output."), QStringLiteral("FILE"));
    const QCommandLineOption configOpt(QStringLiteral("config"),
        QStringLiteral("JSON file with a \"faults\" section."), QStringLiteral("FILE"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"),
        QStringLiteral("Fault for a path, PATH:kind[=value][,...]; kinds delay=MS, hang=S, "
                       "status=CODE, apiStatus=CODE, empty, malformed, drop[=BYTES], "
                       "rate=BYTES_PER_S, stall=S, stallAt=BYTES, chunked, times=N. "
                       "Repeatable; PATH may end in *."),
        QStringLiteral("RULE"));
    parser.addOptions(
        {portOpt, rootOpt, httpsOpt, certOpt, keyOpt, baseOpt, logOpt, configOpt, faultOpt});
    parser.process(app);

    ZoCloudSimServer::Options options;
    quint16 port = 0;
    if (!ZoSimCommandLine::readPort(parser.value(portOpt), true, &port))
        return ZoSimCommandLine::fail(QStringLiteral("--port needs a number 0..65535"));
    options.port = port;
    options.root = parser.value(rootOpt);
    if (options.root.isEmpty() || !QFileInfo(options.root).isDir())
        return ZoSimCommandLine::fail(QStringLiteral("--root must name a directory"));
    options.root = QDir(options.root).absolutePath();
    options.https = parser.isSet(httpsOpt);
    options.certFile = parser.value(certOpt);
    options.keyFile = parser.value(keyOpt);
    if (options.https && (options.certFile.isEmpty() || options.keyFile.isEmpty()))
        return ZoSimCommandLine::fail(QStringLiteral("--https needs --cert and --key"));
    options.baseUrl = parser.value(baseOpt);
    while (options.baseUrl.endsWith(QLatin1Char('/')))
        options.baseUrl.chop(1);

    ZoSimFaultTable faults;
    QString error;
    if (parser.isSet(configOpt) && !faults.loadFile(parser.value(configOpt), &error))
        return ZoSimCommandLine::fail(error);
    for (const QString &flag : parser.values(faultOpt))
        if (!faults.addFlag(flag, &error))
            return ZoSimCommandLine::fail(error);

    ZoCloudSimEventLog log;
    if (!log.open(parser.value(logOpt), &error))
        return ZoSimCommandLine::fail(error);

    // Signals are taken by one thread with sigwait; every other thread,
    // including httplib's workers created later, inherits the blocked mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ZoCloudSimServer server(options, &faults, &log);
    if (!server.bind(&error))
        return ZoSimCommandLine::fail(error);

    std::printf("LISTENING %d\n", server.port());
    std::fflush(stdout);
    QJsonObject started;
    started.insert(QStringLiteral("event"), QStringLiteral("listening"));
    started.insert(QStringLiteral("port"), server.port());
    started.insert(QStringLiteral("scheme"), server.scheme());
    started.insert(QStringLiteral("root"), options.root);
    log.write(started);

    // The listener runs beside this thread, which waits for a stop signal.
    // httplib's stop() waits for idle keep-alive connections to time out;
    // a stopped simulator should go at once, so that wait is bounded.
    const pthread_t mainThread = pthread_self();
    std::atomic<bool> listenerDone {false};
    std::atomic<bool> served {false};
    std::mutex doneMutex;
    std::condition_variable doneCv;
    std::thread listener([&] {
        served = server.run();
        {
            std::lock_guard<std::mutex> lock(doneMutex);
            listenerDone = true;
        }
        doneCv.notify_all();
        pthread_kill(mainThread, SIGTERM); // wakes sigwait when the listener failed
    });
    int sig = 0;
    sigwait(&stopSignals, &sig);
    const bool listenerFailed = listenerDone.load() && !served;
    server.stop();
    bool joined = false;
    {
        std::unique_lock<std::mutex> lock(doneMutex);
        joined = doneCv.wait_for(
            lock, std::chrono::milliseconds(300), [&] { return listenerDone.load(); });
    }
    QJsonObject stopped;
    stopped.insert(QStringLiteral("event"), QStringLiteral("stopped"));
    log.write(stopped);
    if (!joined) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    listener.join();
    if (listenerFailed)
        return ZoSimCommandLine::fail(QStringLiteral("the listener stopped unexpectedly"));
    return 0;
}
