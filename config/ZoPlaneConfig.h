#pragma once

#include "ZoTypes.h"

#include <QMetaType>
#include <QString>

class QDomDocument;
class QDomElement;

// The data-link settings: which link to open and the parameters of each kind.
// Passed by value in signals. Callers edit the fields in place through
// ZoTvkInstance::planeConfig() and then save.
class ZoPlaneConfig
{
public:
    enum LinkType : tdu1 { LinkUdp = 0, LinkSerialPort = 1, LinkTcpClient = 2 };

    ZoPlaneConfig();
    ZoPlaneConfig(const ZoPlaneConfig &) = default;
    ZoPlaneConfig &operator=(const ZoPlaneConfig &) = default;
    virtual ~ZoPlaneConfig();

    // Reads a "connection" element. Stops at the first missing or unusable
    // field with false; fields read before it keep their new values, the
    // rest keep their old ones.
    virtual bool load(const QDomElement &connection);
    // Writes type and the eleven fields into a "connection" element.
    virtual bool save(QDomElement &connection, QDomDocument &document) const;

    // Takes the link type of `used` and the fields of that kind of link only
    // (UDP: host, hostport, localPort; serial: com, baud, databits, parity,
    // stopbits; TCP client: TcpServerHost, TcpServerHostPort,
    // TcpClientLocalPort); every other field keeps its value. A type that
    // names no kind of link changes nothing.
    void applyLink(const ZoPlaneConfig &used);

    // "udp:HOST:PORT", "tcp:HOST:PORT", "serial:DEVICE:BAUD": the link as
    // tolvane-cli's --link names it.
    QString text() const;

    bool operator==(const ZoPlaneConfig &o) const;
    bool operator!=(const ZoPlaneConfig &o) const { return !(*this == o); }

    tdu1 type = LinkUdp;

    // serial port
    QString com;
    tdu4 baud = 115200;
    tdu4 databits = 8;
    tdu1 parity = 0;
    tdu1 stopbits = 1;

    // UDP
    QString host;
    tdu4 hostport = 6075;
    tdu4 localPort = 6075;

    // TCP client
    QString TcpServerHost;
    tdu4 TcpServerHostPort = 8050;
    tdu4 TcpClientLocalPort = 8050;
};

Q_DECLARE_METATYPE(ZoPlaneConfig)
