#pragma once

#include "ZoPureWapper.h"

#include <QAbstractSocket>
#include <QHostAddress>

#include <array>
#include <memory>

class QUdpSocket;

// UDP link to one remote address and port. A remote address in 224.0.0.0/4
// makes open() join that multicast group (with loopback enabled) instead of
// binding for unicast only.
class ZoPureUdpWapper : public ZoPureWapper
{
    Q_OBJECT
public:
    static constexpr int ReadBufferSize = 2560;

    explicit ZoPureUdpWapper(QObject *parent = nullptr);
    ~ZoPureUdpWapper() override;

    // All three are refused (false and a log line) while the link is open.
    bool setName(const QString &name);
    // Dotted IPv4 text. A malformed text is refused and makes open() fail
    // until a good address is set.
    bool setHostAddress(const QString &address);
    // Local port to bind; below 0 (never set) binds an ephemeral port.
    bool setPort(int port);

    // Port the socket is bound to, 0 when not bound.
    tdu2 boundPort() const;

    bool open() override;
    bool close() override;
    tds8 write(const tdu1 *data, tds4 length) override;
    int error() const override;
    QString errorString() const override;

    // Remote port datagrams are sent to; written directly by the looper.
    tds4 hostPort = 6160;

public Q_SLOTS:
    void readData();
    void onSocketStateChange(QAbstractSocket::SocketState state);

private:
    std::unique_ptr<QUdpSocket> socket;
    std::unique_ptr<QHostAddress> remoteAddress;
    QHostAddress senderAddress;
    tdu2 senderPort = 0;
    QString name;
    tds4 localPort = -1;
    bool addressRejected = false;
    std::array<tdu1, ReadBufferSize> readBuffer {};
};
