#include "ZoSimTcpLink.h"

#include "ZoSimLoopback.h"

#include "ZoSimAircraft.h"
#include "ZoSimEventLog.h"

#include <QJsonObject>
#include <QTcpSocket>

ZoSimTcpLink::ZoSimTcpLink(ZoSimAircraft *aircraft, ZoSimEventLog *log, QObject *parent)
    : QObject(parent)
    , m_aircraft(aircraft)
    , m_log(log)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ZoSimTcpLink::onNewConnection);
    connect(aircraft, &ZoSimAircraft::transmit, this, &ZoSimTcpLink::onTransmit);
    // Queued: the request comes while the aircraft is still parsing that link's bytes.
    connect(aircraft, &ZoSimAircraft::closeLinkRequested, this, &ZoSimTcpLink::onCloseRequested,
        Qt::QueuedConnection);
}

ZoSimTcpLink::~ZoSimTcpLink()
{
    for (auto &c : m_clients) {
        c.second->disconnect(this);
        m_aircraft->detachLink(c.first);
    }
}

bool ZoSimTcpLink::listen(const QHostAddress &bind, quint16 port, QString *error)
{
    return ZoSimLoopback::listenTcp(m_server, bind, port, m_allowRemote, error);
}

void ZoSimTcpLink::onNewConnection()
{
    while (QTcpSocket *s = m_server.nextPendingConnection()) {
        s->setParent(this);
        if (!s->peerAddress().isLoopback() && !m_allowRemote) {
            s->abort();
            s->deleteLater();
            continue;
        }
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const int link = m_aircraft->attachLink(QStringLiteral("tcp"));
        m_clients[link] = s;
        m_log->log(QStringLiteral("link"),
            {{QStringLiteral("link"), link}, {QStringLiteral("kind"), QStringLiteral("tcp")},
                {QStringLiteral("state"), QStringLiteral("connected")},
                {QStringLiteral("peerPort"), int(s->peerPort())}});
        connect(s, &QTcpSocket::readyRead, this, [this, link, s]() {
            const QByteArray data = s->readAll();
            m_aircraft->receive(link, data);
        });
        connect(s, &QTcpSocket::disconnected, this,
            [this, link]() { drop(link, QStringLiteral("disconnected")); });
    }
}

void ZoSimTcpLink::drop(int link, const QString &why)
{
    auto it = m_clients.find(link);
    if (it == m_clients.end())
        return;
    QTcpSocket *s = it->second;
    m_clients.erase(it);
    m_aircraft->detachLink(link);
    s->disconnect(this);
    s->deleteLater();
    m_log->log(QStringLiteral("link"),
        {{QStringLiteral("link"), link}, {QStringLiteral("kind"), QStringLiteral("tcp")},
            {QStringLiteral("state"), why}});
}

void ZoSimTcpLink::onTransmit(int link, const QByteArray &bytes)
{
    if (link == 0) {
        for (auto &c : m_clients)
            c.second->write(bytes);
        return;
    }
    auto it = m_clients.find(link);
    if (it != m_clients.end())
        it->second->write(bytes);
}

void ZoSimTcpLink::onCloseRequested(int link)
{
    auto it = m_clients.find(link);
    if (it == m_clients.end())
        return;
    QTcpSocket *s = it->second;
    s->flush();
    s->disconnectFromHost();
    drop(link, QStringLiteral("closed by fault"));
}
