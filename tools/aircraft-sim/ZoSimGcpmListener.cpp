#include "ZoSimGcpmListener.h"

#include "ZoSimCrc.h"
#include "ZoSimEventLog.h"
#include "ZoSimLoopback.h"

#include <QJsonObject>
#include <QNetworkDatagram>

ZoSimGcpmListener::ZoSimGcpmListener(ZoSimEventLog *log, QObject *parent)
    : QObject(parent)
    , m_log(log)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &ZoSimGcpmListener::onReadyRead);
}

bool ZoSimGcpmListener::open(
    const QHostAddress &bind, quint16 port, bool allowRemote, QString *error)
{
    return ZoSimLoopback::bindUdp(m_socket, bind, port, allowRemote, QStringLiteral("GCPM"), error);
}

void ZoSimGcpmListener::onReadyRead()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket.receiveDatagram(65536);
        if (d.isValid())
            handle(d.data());
    }
}

bool ZoSimGcpmListener::reject(const QString &reason, const QByteArray &datagram)
{
    ++m_errors;
    m_log->log(QStringLiteral("gcpmError"),
        {{QStringLiteral("reason"), reason},
            {QStringLiteral("bytes"), QString::fromLatin1(datagram.left(64).toHex(' ').toUpper())},
            {QStringLiteral("count"), m_errors}});
    return false;
}

bool ZoSimGcpmListener::handle(const QByteArray &datagram)
{
    const auto *b = reinterpret_cast<const uint8_t *>(datagram.constData());
    const int size = datagram.size();
    if (size < 6)
        return reject(QStringLiteral("shorter than a GCPM frame"), datagram);
    if (b[0] != 0xAB || b[1] != 0xEF)
        return reject(QStringLiteral("bad header"), datagram);
    if (int(b[2]) + 3 != size)
        return reject(QStringLiteral("length byte %1 does not match a datagram of %2 bytes")
                          .arg(b[2])
                          .arg(size),
            datagram);
    const uint16_t want = uint16_t(b[size - 2] | (b[size - 1] << 8));
    if (ZoSimCrc::xmodem(b, size_t(size - 2)) != want)
        return reject(QStringLiteral("bad CRC"), datagram);
    const uint8_t cmd = b[3];
    const int args = size - 6;
    if (cmd == 0x03 && args == 6) {
        const uint32_t a = uint32_t(b[4]) | (uint32_t(b[5]) << 8) | (uint32_t(b[6]) << 16)
            | (uint32_t(b[7]) << 24);
        const int port = b[8] | (b[9] << 8);
        ++m_announces;
        m_log->log(QStringLiteral("gcpm"),
            {{QStringLiteral("cmd"), QStringLiteral("announce")},
                {QStringLiteral("address"), QHostAddress(a).toString()},
                {QStringLiteral("port"), port}});
        return true;
    }
    if ((cmd == 0x05 || cmd == 0x01 || cmd == 0x06) && args == 0) {
        ++m_polls;
        m_log->log(QStringLiteral("gcpm"),
            {{QStringLiteral("cmd"),
                cmd == 0x05 ? QStringLiteral("poll")
                            : QStringLiteral("poll%1").arg(cmd, 2, 16, QLatin1Char('0'))}});
        return true;
    }
    return reject(QStringLiteral("unknown command 0x%1 with %2 argument bytes")
                      .arg(cmd, 2, 16, QLatin1Char('0'))
                      .arg(args),
        datagram);
}
