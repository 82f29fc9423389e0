#pragma once

// sysconfig.xml as the program keeps it, its link written as one line of
// fields: "type|com|baud|databits|parity|stopbits|host|hostport|localPort|
// TcpServerHost|TcpServerHostPort|TcpClientLocalPort".

#include <QByteArray>
#include <QStringList>

// The "connection" element; a value "~" leaves its element (the first, the
// type attribute) out, as do fields missing at the end.
inline QByteArray zoTestConnectionXml(const QString &fields)
{
    static const QStringList names = QStringLiteral("com baud databits parity stopbits host "
                                                    "hostport localPort TcpServerHost "
                                                    "TcpServerHostPort TcpClientLocalPort")
                                         .split(QLatin1Char(' '));
    const QStringList f = fields.split(QLatin1Char('|'));
    QString xml = f[0] == QLatin1String("~") ? QStringLiteral("<connection>")
                                             : QStringLiteral("<connection type=\"%1\">").arg(f[0]);
    for (int i = 0; i + 1 < f.size() && i < names.size(); ++i) {
        if (f[i + 1] != QLatin1String("~"))
            xml += QStringLiteral("<%1>%2</%1>").arg(names[i], f[i + 1]);
    }
    return (xml + QStringLiteral("</connection>")).toUtf8();
}

// The whole file: that link, and `language` chosen.
inline QByteArray zoTestSysConfig(const QString &fields, const QString &language)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>" + zoTestConnectionXml(fields)
        + "<lan isset=\"1\" language=\"" + language.toUtf8() + "\"/></config>\n";
}
