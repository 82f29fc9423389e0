#pragma once

// A link record as one line, "type|com|baud|databits|parity|stopbits|host|
// hostport|localPort|TcpServerHost|TcpServerHostPort|TcpClientLocalPort", so
// an expectation reads as one line and a mismatch shows every field. Header
// only: it needs the record, which only tests of the app layer and above have.

#include "ZoPlaneConfig.h"

#include <QStringList>

inline QString zoLinkFields(const ZoPlaneConfig &c)
{
    return QStringList {QString::number(c.type), c.com, QString::number(c.baud),
        QString::number(c.databits), QString::number(c.parity), QString::number(c.stopbits), c.host,
        QString::number(c.hostport), QString::number(c.localPort), c.TcpServerHost,
        QString::number(c.TcpServerHostPort), QString::number(c.TcpClientLocalPort)}
        .join(QLatin1Char('|'));
}

inline ZoPlaneConfig zoLinkFromFields(const QString &s)
{
    const QStringList f = s.split(QLatin1Char('|'));
    ZoPlaneConfig c;
    c.type = tdu1(f.value(0).toUInt());
    c.com = f.value(1);
    c.baud = f.value(2).toUInt();
    c.databits = f.value(3).toUInt();
    c.parity = tdu1(f.value(4).toUInt());
    c.stopbits = tdu1(f.value(5).toUInt());
    c.host = f.value(6);
    c.hostport = f.value(7).toUInt();
    c.localPort = f.value(8).toUInt();
    c.TcpServerHost = f.value(9);
    c.TcpServerHostPort = f.value(10).toUInt();
    c.TcpClientLocalPort = f.value(11).toUInt();
    return c;
}
