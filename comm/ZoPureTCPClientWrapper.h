#pragma once

#include "ZoPureWapper.h"

#include <QAbstractSocket>
#include <QHostAddress>

#include <array>
#include <memory>

class QTcpSocket;

// TCP client link. open() waits up to 1000 ms for the connection; afterwards
// the link reports the state of the connection through sigOpenCommSucc: true
// once when it is made, false once when it is lost or could not be made.
// Closing the link on purpose reports nothing.
class ZoPureTCPClientWrapper : public ZoPureWapper
{
    Q_OBJECT
public:
    static constexpr int ReadBufferSize = 5120;
    static constexpr int ConnectTimeoutMs = 1000;

    explicit ZoPureTCPClientWrapper(QObject *parent = nullptr);
    ~ZoPureTCPClientWrapper() override;

    // All three are refused (false and a log line) while the link is open.
    bool setName(const QString &name);
    // Dotted IPv4 text. A malformed text is refused and makes open() fail
    // until a good address is set.
    bool setHostAddress(const QString &address);
    // Local port to bind before connecting; 0 or below leaves it to the system.
    bool setPort(int port);

    // Local port of the connection, 0 when not connected.
    tdu2 boundPort() const;

    bool open() override;
    bool close() override;
    tds8 write(const tdu1 *data, tds4 length) override;
    int error() const override;
    QString errorString() const override;
    // True while the connection stands.
    bool isOpen() const override;

    // Remote port; written directly by the looper.
    tds4 hostPort = 6160;

Q_SIGNALS:
    void sigOpenCommSucc(bool succ);

private Q_SLOTS:
    bool onConnectError(QAbstractSocket::SocketError error);
    bool onDisconnected();
    bool onConnected();
    void onReadDataOnConn();

private:
    enum class Reported { Nothing, Up, Down };
    void reportDown();
    void silenceAndDrop();

    std::unique_ptr<QTcpSocket> socket;
    tds4 pending = 0;
    std::unique_ptr<QHostAddress> remoteAddress;
    bool tcpConnected = false;
    QString name;
    tds4 localPort = -1;
    bool addressRejected = false;
    Reported reported = Reported::Nothing;
    std::array<tdu1, ReadBufferSize> readBuffer {};
};
