#include "ZoSimUdpLink.h"

#include "ZoSimLoopback.h"

#include <QNetworkDatagram>

ZoSimUdpLink::ZoSimUdpLink(QObject *parent)
    : QObject(parent)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &ZoSimUdpLink::onReadyRead);
}

bool ZoSimUdpLink::open(const QHostAddress &bind, quint16 port, QString *error)
{
    return ZoSimLoopback::bindUdp(
        m_socket, bind, port, m_allowRemote, QStringLiteral("UDP"), error);
}

void ZoSimUdpLink::setPeer(const QHostAddress &host, quint16 port)
{
    if (!host.isLoopback() && !m_allowRemote)
        return;
    m_peer = host;
    m_peerPort = port;
}

void ZoSimUdpLink::write(const QByteArray &bytes)
{
    if (m_peerPort == 0 || bytes.isEmpty())
        return;
    m_socket.writeDatagram(bytes, m_peer, m_peerPort);
}

void ZoSimUdpLink::onReadyRead()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket.receiveDatagram(65536);
        if (!d.isValid())
            continue;
        const QHostAddress from = d.senderAddress();
        const quint16 fromPort = quint16(d.senderPort());
        if (!from.isLoopback() && !m_allowRemote)
            continue;
        if (fromPort != 0 && (from != m_peer || fromPort != m_peerPort)) {
            m_peer = from;
            m_peerPort = fromPort;
            Q_EMIT peerChanged(from.toString(), fromPort);
        }
        if (!d.data().isEmpty())
            Q_EMIT received(d.data());
    }
}
