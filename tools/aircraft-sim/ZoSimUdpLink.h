#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

// The aircraft's UDP side: bound to one address and port, it answers the last
// sender; until a datagram has arrived it sends to the configured peer (the
// program's bound local port), so the program can detect it.
class ZoSimUdpLink : public QObject
{
    Q_OBJECT
public:
    explicit ZoSimUdpLink(QObject *parent = nullptr);

    bool open(const QHostAddress &bind, quint16 port, QString *error);
    quint16 port() const { return m_socket.localPort(); }
    void setPeer(const QHostAddress &host, quint16 port);
    void setAllowRemote(bool allow) { m_allowRemote = allow; }
    bool hasPeer() const { return m_peerPort != 0; }

    void write(const QByteArray &bytes);

Q_SIGNALS:
    void received(const QByteArray &bytes);
    void peerChanged(const QString &host, quint16 port);

private:
    void onReadyRead();

    QUdpSocket m_socket;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
    bool m_allowRemote = false;
};
