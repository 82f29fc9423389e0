#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 peer on 127.0.0.1 and an ephemeral port, for tests that
// need replies shaped byte by byte: a body shorter than its Content-Length,
// a slow trickle. One request per connection; every answer closes the
// connection.
class ZoTestHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        qint64 dropAfter = -1; // close after this many body bytes; -1: send all
        int chunkSize = 0; // >0: send the body in pieces of this size ...
        int chunkIntervalMs = 0; // ... this far apart
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray body;
    };

    explicit ZoTestHttpServer(QObject *parent = nullptr);
    ~ZoTestHttpServer() override;

    bool listen();
    QString url(const QString &path) const;

    // Paths without a response get 404.
    void setResponse(const QByteArray &path, const Response &response);
    QList<Request> requests() const { return m_requests; }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Response &response);
    void sendChunk(QTcpSocket *socket, QByteArray rest, qint64 budget, const Response &response);

    QTcpServer *m_server;
    QHash<QByteArray, Response> m_responses;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_pending; // bytes read so far per connection
};
