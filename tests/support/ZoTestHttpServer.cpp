#include "ZoTestHttpServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

ZoTestHttpServer::ZoTestHttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ZoTestHttpServer::onNewConnection);
}

ZoTestHttpServer::~ZoTestHttpServer() = default;

bool ZoTestHttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 ZoTestHttpServer::port() const
{
    return m_server->serverPort();
}

QString ZoTestHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void ZoTestHttpServer::setResponse(const QByteArray &path, const Response &response)
{
    m_responses.insert(path, response);
}

void ZoTestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        m_pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void ZoTestHttpServer::onReadyRead(QTcpSocket *socket)
{
    if (!m_pending.contains(socket))
        return;
    QByteArray &buffer = m_pending[socket];
    buffer += socket->readAll();
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(
                lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const int length = request.headers.value("content-length", "0").toInt();
    if (buffer.size() - headerEnd - 4 < length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    m_pending.remove(socket);
    m_requests.append(request);
    Q_EMIT requestReceived();

    Response response;
    if (m_responses.contains(request.path)) {
        response = m_responses.value(request.path);
    } else {
        response.status = 404;
        response.body = "not found";
    }
    if (response.neverAnswer)
        return;
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(response.delayMs, this, [this, guard, response] {
        if (guard)
            answer(guard, response);
    });
}

void ZoTestHttpServer::answer(QTcpSocket *socket, const Response &response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n";
    if (response.contentLength != -2) {
        const qint64 length
            = response.contentLength >= 0 ? response.contentLength : response.body.size();
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    for (const auto &h : response.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);

    const qint64 budget = response.dropAfter >= 0 ? response.dropAfter : response.body.size();
    sendChunk(socket, response.body, budget, response);
}

void ZoTestHttpServer::sendChunk(
    QTcpSocket *socket, QByteArray rest, qint64 budget, const Response &response)
{
    const qint64 piece = response.chunkSize > 0 ? qMin<qint64>(response.chunkSize, budget) : budget;
    socket->write(rest.left(int(piece)));
    rest.remove(0, int(piece));
    budget -= piece;
    if (budget <= 0 || rest.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(response.chunkIntervalMs, this, [this, guard, rest, budget, response] {
        if (guard)
            sendChunk(guard, rest, budget, response);
    });
}
