#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

class ZoSimEventLog;

// Plays the GCPM endpoint on loopback: takes the program's datagrams (AB EF,
// length, command, CRC-16/XMODEM), checks them and logs every announce
// (address, port) and poll. It never answers.
class ZoSimGcpmListener : public QObject
{
    Q_OBJECT
public:
    explicit ZoSimGcpmListener(ZoSimEventLog *log, QObject *parent = nullptr);

    bool open(const QHostAddress &bind, quint16 port, bool allowRemote, QString *error);
    quint16 port() const { return m_socket.localPort(); }

    // Checks one datagram and logs what it was; false for a bad one.
    bool handle(const QByteArray &datagram);

    int announces() const { return m_announces; }
    int polls() const { return m_polls; }
    int errors() const { return m_errors; }

private:
    void onReadyRead();
    bool reject(const QString &reason, const QByteArray &datagram);

    ZoSimEventLog *m_log;
    QUdpSocket m_socket;
    int m_announces = 0;
    int m_polls = 0;
    int m_errors = 0;
};
