#pragma once

#include "ZoPureWapper.h"

#include <QSerialPort>

#include <array>
#include <memory>

// Serial link. The settings are plain members that the looper writes before
// open(); their values follow QSerialPort's enumerations and are passed on
// unchanged.
class ZoPureSerialPortWrapper : public ZoPureWapper
{
    Q_OBJECT
public:
    static constexpr int ReadBufferSize = 256;

    explicit ZoPureSerialPortWrapper(QObject *parent = nullptr);
    ~ZoPureSerialPortWrapper() override;

    // Refused (false and a log line) while the link is open.
    bool setName(const QString &name);

    bool open() override;
    bool close() override;
    tds8 write(const tdu1 *data, tds4 length) override;
    int error() const override;
    QString errorString() const override;
    // After an open() that failed because the device node's permissions keep
    // this process out (not because another program holds the port, which
    // QSerialPort reports the same way): the node, "/dev/ttyUSB0". Empty
    // otherwise, and where the system cannot tell the two apart.
    QString deniedNode() const { return accessDeniedNode; }
    bool clear() override;

    tds4 baud = 115200;
    tds4 dataBits = QSerialPort::Data8;
    tds4 parity = QSerialPort::NoParity;
    tds4 stopBits = QSerialPort::OneStop;

    // Asks the driver of the open serial port fd to pass on received bytes at
    // once (Linux: ASYNC_LOW_LATENCY). False, with the reason, where it
    // refuses or has no such setting.
    static bool requestLowLatency(int fd, QString *why);

public Q_SLOTS:
    void readData();

private:
    std::unique_ptr<QSerialPort> port;
    QString name;
    std::array<tdu1, ReadBufferSize> readBuffer {};
    bool readScheduled = false;
    // The port whose refusal of low latency was last logged: reopening the
    // same port does not log it again.
    QString lowLatencyRefusedFor;
    QString accessDeniedNode;
};
