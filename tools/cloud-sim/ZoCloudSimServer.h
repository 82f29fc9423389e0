#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

class ZoCloudSimEventLog;
class ZoSimFaultTable;
struct ZoSimFault;

// The cloud service as the two programs see it: the firmware catalogue and its
// files, the installed-version report, the updater's release check and the
// release archive, all served from one directory on 127.0.0.1.
//
//   ROOT/catalog.json    catalogues per firmware id and branch
//   ROOT/releases.json   release records for the updater's check
//   ROOT/files/NAME      firmware (and path) files, GET /files/NAME
//   ROOT/releases/NAME   release archives, GET /releases/NAME
//
// Both JSON files are read again for every request, so they can be edited
// while the simulator runs.
class ZoCloudSimServer
{
public:
    struct Options
    {
        QString root;
        QString baseUrl; // put into replies instead of the request's own address
        bool https = false;
        QString certFile;
        QString keyFile;
        int port = 0; // 0: any free port
    };

    ZoCloudSimServer(Options options, ZoSimFaultTable *faults, ZoCloudSimEventLog *log);
    ~ZoCloudSimServer();
    ZoCloudSimServer(const ZoCloudSimServer &) = delete;
    ZoCloudSimServer &operator=(const ZoCloudSimServer &) = delete;

    bool bind(QString *error);
    int port() const { return m_port; }
    QString scheme() const;
    // Serves until stop(); false when the listener failed.
    bool run();
    // Callable from any thread; ends waits of delayed and hanging replies.
    void stop();

private:
    struct Reply
    {
        int status = 200;
        QByteArray body;
        std::string contentType;
        bool envelope = false; // a JSON "status"/"message"/"data" reply
        int apiStatus = 0; // its "status"
    };

    void handle(const httplib::Request &req, httplib::Response &res);
    Reply route(const httplib::Request &req, const QJsonValue &body, const QString &base,
        QJsonObject &event);
    Reply catalogue(const QJsonValue &body, const QString &base, QJsonObject &event);
    Reply editVersion(const QJsonValue &body, QJsonObject &event);
    Reply releaseCheck(const QJsonValue &body, const QString &base, QJsonObject &event);
    Reply staticFile(const QString &dir, const QString &name, QJsonObject &event);
    // The body through a content provider, the way fault says: paced, cut
    // short, stalled or without a Content-Length.
    void stream(const Reply &reply, const ZoSimFault &fault, httplib::Response &res);
    Reply reports();
    QString baseUrl(const httplib::Request &req) const;
    bool readJsonFile(const QString &name, QJsonObject *out, QString *error) const;
    // false when the simulator is stopping
    bool pause(std::chrono::milliseconds span);

    static Reply envelope(int status, const QString &message, const QJsonValue &data);

    Options m_options;
    ZoSimFaultTable *m_faults;
    ZoCloudSimEventLog *m_log;
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::atomic<bool> m_stopping {false};
    std::atomic<qint64> m_seq {0};
    std::mutex m_waitMutex;
    std::condition_variable m_wake;
    std::mutex m_reportsMutex;
    QJsonArray m_reports;
};
