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

QString ZoTestHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server->serverPort()).arg(path);
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
    int length = 0;
    for (const QByteArray &line : lines) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toInt();
    }
    if (buffer.size() - headerEnd - 4 < length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    m_pending.remove(socket);
    m_requests.append(request);

    Response response;
    if (m_responses.contains(request.path)) {
        response = m_responses.value(request.path);
    } else {
        response.status = 404;
        response.body = "not found";
    }
    answer(socket, response);
}

void ZoTestHttpServer::answer(QTcpSocket *socket, const Response &response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n"
        + "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
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
