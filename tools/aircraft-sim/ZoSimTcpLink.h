#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <map>

class QTcpSocket;
class ZoSimAircraft;
class ZoSimEventLog;

// The aircraft's TCP side: a listener the program connects to as a client.
// Every connection is a link of its own to the aircraft.
class ZoSimTcpLink : public QObject
{
    Q_OBJECT
public:
    ZoSimTcpLink(ZoSimAircraft *aircraft, ZoSimEventLog *log, QObject *parent = nullptr);
    ~ZoSimTcpLink() override;

    bool listen(const QHostAddress &bind, quint16 port, QString *error);
    quint16 port() const { return m_server.serverPort(); }
    void setAllowRemote(bool allow) { m_allowRemote = allow; }
    int clientCount() const { return int(m_clients.size()); }

private:
    void onNewConnection();
    void onTransmit(int link, const QByteArray &bytes);
    void onCloseRequested(int link);
    void drop(int link, const QString &why);

    ZoSimAircraft *m_aircraft;
    ZoSimEventLog *m_log;
    QTcpServer m_server;
    std::map<int, QTcpSocket *> m_clients; // owned through Qt parenting
    bool m_allowRemote = false;
};
