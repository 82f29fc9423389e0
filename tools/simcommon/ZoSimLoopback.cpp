#include "ZoSimLoopback.h"

#include "ZoSimCommandLine.h"

#include <QTcpServer>
#include <QUdpSocket>

bool ZoSimLoopback::readAddress(const QString &text, QHostAddress *out)
{
    if (text == QLatin1String("localhost"))
        return out->setAddress(QStringLiteral("127.0.0.1"));
    return out->setAddress(text);
}

bool ZoSimLoopback::readHostPort(const QString &text, QHostAddress *host, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    return colon > 0 && readAddress(text.left(colon), host)
        && ZoSimCommandLine::readPort(text.mid(colon + 1), false, port);
}

bool ZoSimLoopback::permitted(
    const QHostAddress &address, bool allowRemote, const QString &refusal, QString *error)
{
    if (address.isLoopback() || allowRemote)
        return true;
    if (error)
        *error = QStringLiteral("%1 %2 (loopback only without --allow-remote)")
                     .arg(refusal, address.toString());
    return false;
}

bool ZoSimLoopback::bindUdp(QUdpSocket &socket, const QHostAddress &bind, quint16 port,
    bool allowRemote, const QString &label, QString *error)
{
    if (!permitted(bind, allowRemote, QStringLiteral("refusing to bind %1 to").arg(label), error))
        return false;
    if (socket.bind(bind, port))
        return true;
    if (error)
        *error = QStringLiteral("%1 bind %2:%3: %4")
                     .arg(label, bind.toString())
                     .arg(port)
                     .arg(socket.errorString());
    return false;
}

bool ZoSimLoopback::listenTcp(
    QTcpServer &server, const QHostAddress &bind, quint16 port, bool allowRemote, QString *error)
{
    if (!permitted(bind, allowRemote, QStringLiteral("refusing to listen on"), error))
        return false;
    if (server.listen(bind, port))
        return true;
    if (error)
        *error = QStringLiteral("TCP listen %1:%2: %3")
                     .arg(bind.toString())
                     .arg(port)
                     .arg(server.errorString());
    return false;
}
