#include "ZoPlaneConfig.h"

#include <QDomDocument>
#include <QDomElement>

namespace {

// A numeric field needs a non-empty decimal text that fits 32 bits; a text
// that is not a number still stores 0 before the load stops.
template <typename T> bool readNumber(const QDomElement &connection, const QString &name, T &field)
{
    const QDomElement e = connection.firstChildElement(name);
    if (e.isNull())
        return false;
    const QString text = e.text();
    if (text.isEmpty())
        return false;
    bool ok = false;
    const tdu4 value = text.toUInt(&ok, 10);
    field = static_cast<T>(value);
    return ok;
}

bool readString(const QDomElement &connection, const QString &name, QString &field)
{
    const QDomElement e = connection.firstChildElement(name);
    if (e.isNull())
        return false;
    field = e.text();
    return true;
}

void writeField(
    QDomElement &connection, QDomDocument &document, const QString &name, const QString &value)
{
    QDomElement e = connection.firstChildElement(name);
    if (e.isNull()) {
        e = document.createElement(name);
        connection.appendChild(e);
    }
    e.appendChild(document.createTextNode(value));
}

} // namespace

ZoPlaneConfig::ZoPlaneConfig()
    : host(QStringLiteral("192.168.1.1"))
    , TcpServerHost(QStringLiteral("192.168.0.100"))
{
}

ZoPlaneConfig::~ZoPlaneConfig() = default;

bool ZoPlaneConfig::load(const QDomElement &connection)
{
    const QString typeText = connection.attribute(QStringLiteral("type"));
    if (typeText.isEmpty())
        return false;
    bool ok = false;
    type = static_cast<tdu1>(typeText.toUShort(&ok, 10));
    if (!ok || type > LinkTcpClient)
        return false;

    return readString(connection, QStringLiteral("com"), com)
        && readNumber(connection, QStringLiteral("baud"), baud)
        && readNumber(connection, QStringLiteral("databits"), databits)
        && readNumber(connection, QStringLiteral("parity"), parity)
        && readNumber(connection, QStringLiteral("stopbits"), stopbits)
        && readString(connection, QStringLiteral("host"), host)
        && readNumber(connection, QStringLiteral("hostport"), hostport)
        && readNumber(connection, QStringLiteral("localPort"), localPort)
        && readString(connection, QStringLiteral("TcpServerHost"), TcpServerHost)
        && readNumber(connection, QStringLiteral("TcpServerHostPort"), TcpServerHostPort)
        && readNumber(connection, QStringLiteral("TcpClientLocalPort"), TcpClientLocalPort);
}

bool ZoPlaneConfig::save(QDomElement &connection, QDomDocument &document) const
{
    connection.setAttribute(QStringLiteral("type"), QString::number(type));
    writeField(connection, document, QStringLiteral("com"), com);
    writeField(connection, document, QStringLiteral("baud"), QString::number(baud));
    writeField(connection, document, QStringLiteral("databits"), QString::number(databits));
    writeField(connection, document, QStringLiteral("parity"), QString::number(parity));
    writeField(connection, document, QStringLiteral("stopbits"), QString::number(stopbits));
    writeField(connection, document, QStringLiteral("host"), host);
    writeField(connection, document, QStringLiteral("hostport"), QString::number(hostport));
    writeField(connection, document, QStringLiteral("localPort"), QString::number(localPort));
    writeField(connection, document, QStringLiteral("TcpServerHost"), TcpServerHost);
    writeField(connection, document, QStringLiteral("TcpServerHostPort"),
        QString::number(TcpServerHostPort));
    writeField(connection, document, QStringLiteral("TcpClientLocalPort"),
        QString::number(TcpClientLocalPort));
    return true;
}

void ZoPlaneConfig::applyLink(const ZoPlaneConfig &used)
{
    switch (used.type) {
    case LinkUdp:
        host = used.host;
        hostport = used.hostport;
        localPort = used.localPort;
        break;
    case LinkSerialPort:
        com = used.com;
        baud = used.baud;
        databits = used.databits;
        parity = used.parity;
        stopbits = used.stopbits;
        break;
    case LinkTcpClient:
        TcpServerHost = used.TcpServerHost;
        TcpServerHostPort = used.TcpServerHostPort;
        TcpClientLocalPort = used.TcpClientLocalPort;
        break;
    default:
        return;
    }
    type = used.type;
}

bool ZoPlaneConfig::operator==(const ZoPlaneConfig &o) const
{
    return type == o.type && com == o.com && baud == o.baud && databits == o.databits
        && parity == o.parity && stopbits == o.stopbits && host == o.host && hostport == o.hostport
        && localPort == o.localPort && TcpServerHost == o.TcpServerHost
        && TcpServerHostPort == o.TcpServerHostPort && TcpClientLocalPort == o.TcpClientLocalPort;
}

QString ZoPlaneConfig::text() const
{
    switch (type) {
    case LinkSerialPort:
        return QStringLiteral("serial:%1:%2").arg(com).arg(baud);
    case LinkTcpClient:
        return QStringLiteral("tcp:%1:%2").arg(TcpServerHost).arg(TcpServerHostPort);
    default:
        return QStringLiteral("udp:%1:%2").arg(host).arg(hostport);
    }
}
