#pragma once

#include <QHostAddress>
#include <QString>

class QTcpServer;
class QUdpSocket;

// The simulators stay on loopback unless their user says --allow-remote:
// every address they bind, listen on or send to passes through here, so a
// mistake in a test fails loudly instead of reaching a real network.
class ZoSimLoopback
{
public:
    // An address as the options write it; "localhost" is 127.0.0.1.
    static bool readAddress(const QString &text, QHostAddress *out);
    // "HOST:PORT" with a port 1..65535.
    static bool readHostPort(const QString &text, QHostAddress *host, quint16 *port);

    // True when address may be used; otherwise error reads
    // "<refusal> <address> (loopback only without --allow-remote)".
    static bool permitted(
        const QHostAddress &address, bool allowRemote, const QString &refusal, QString *error);

    // Binds socket for the link called label ("UDP", "GCPM").
    static bool bindUdp(QUdpSocket &socket, const QHostAddress &bind, quint16 port,
        bool allowRemote, const QString &label, QString *error);
    static bool listenTcp(QTcpServer &server, const QHostAddress &bind, quint16 port,
        bool allowRemote, QString *error);
};
