#include "ZoPureUdpWapper.h"

#include "ZoCommSupport.h"

#include <QUdpSocket>

namespace {
const char *const kSource = "comm\\ZoPureUdpWapper";

bool isMulticast(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok && (v4 >> 28) == 0xE;
}
} // namespace

ZoPureUdpWapper::ZoPureUdpWapper(QObject *parent)
    : ZoPureWapper(parent)
{
}

ZoPureUdpWapper::~ZoPureUdpWapper()
{
    if (socket) {
        socket->disconnect(this);
        socket->close();
    }
}

bool ZoPureUdpWapper::setName(const QString &newName)
{
    if (ZoComm::refuseWhileOpen(
            kSource, opened, "Can't set name, the ctrl had been opend, can't setPort."))
        return false;
    name = newName;
    return true;
}

bool ZoPureUdpWapper::setHostAddress(const QString &address)
{
    return ZoComm::setHostAddress(kSource, opened, address, remoteAddress, addressRejected);
}

bool ZoPureUdpWapper::setPort(int port)
{
    if (ZoComm::refuseWhileOpen(
            kSource, opened, "Can't set port, the ctrl had been opend, can't setPort."))
        return false;
    localPort = port;
    return true;
}

tdu2 ZoPureUdpWapper::boundPort() const
{
    return socket && socket->state() == QAbstractSocket::BoundState ? socket->localPort() : 0;
}

bool ZoPureUdpWapper::open()
{
    if (opened)
        return true;
    if (addressRejected) {
        qCWarning(lcComm) << "ZoPureUdpWapper::open() - no valid remote address, link stays closed";
        return false;
    }
    if (localPort > 65535) {
        qCDebug(lcComm) << "Fail to bind " << localPort;
        return false;
    }
    // Never set means any free port; binding 65535 by accident is worse.
    const quint16 port = localPort > 0 ? quint16(localPort) : quint16(0);

    if (!socket)
        socket = std::make_unique<QUdpSocket>();
    if (!socket->isOpen() && !socket->open(QIODevice::ReadWrite))
        return false;
    connect(socket.get(), &QAbstractSocket::stateChanged, this,
        &ZoPureUdpWapper::onSocketStateChange, Qt::UniqueConnection);

    if (!remoteAddress) {
        const bool bound = socket->bind(port);
        connect(socket.get(), &QIODevice::readyRead, this, &ZoPureUdpWapper::readData,
            Qt::UniqueConnection);
        opened = bound;
        return bound;
    }

    if (!isMulticast(*remoteAddress)) {
        if (!socket->bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress)) {
            qCDebug(lcComm) << "Fail to bind " << port;
            return false;
        }
    } else {
        if (!socket->bind(QHostAddress::AnyIPv4, port, QAbstractSocket::ReuseAddressHint)) {
            qCDebug(lcComm) << "Fail to bind " << port << "error:" << socket->error();
            return false;
        }
        socket->setSocketOption(QAbstractSocket::MulticastLoopbackOption, 1);
        if (!socket->joinMulticastGroup(*remoteAddress)) {
            qCDebug(lcComm) << "Failed to join multicast group" << remoteAddress->toString()
                            << "error:" << socket->error();
            socket->close();
            return false;
        }
    }
    opened = true;
    return true;
}

bool ZoPureUdpWapper::close()
{
    if (socket)
        socket->close();
    opened = false;
    return true;
}

tds8 ZoPureUdpWapper::write(const tdu1 *data, tds4 length)
{
    if (!opened || !socket || !remoteAddress || !data || length < 0)
        return -1;
    if (hostPort < 0 || hostPort > 65535)
        return -1;
    return socket->writeDatagram(
        reinterpret_cast<const char *>(data), length, *remoteAddress, quint16(hostPort));
}

int ZoPureUdpWapper::error() const
{
    return socket ? int(socket->error()) : 0;
}

QString ZoPureUdpWapper::errorString() const
{
    return socket ? socket->errorString() : QString();
}

void ZoPureUdpWapper::readData()
{
    while (socket && socket->hasPendingDatagrams()) {
        const qint64 size = socket->pendingDatagramSize();
        if (size < 1) {
            // An empty datagram carries nothing; it must not stop the ones
            // behind it.
            char dummy;
            if (socket->readDatagram(&dummy, 1) < 0)
                break;
            continue;
        }
        const qint64 n = socket->readDatagram(reinterpret_cast<char *>(readBuffer.data()),
            ReadBufferSize, &senderAddress, &senderPort);
        if (n < 1)
            break;
        readCount = tds4(n);
        const QList<IZoReceiveData *> listeners = receivers;
        for (IZoReceiveData *listener : listeners)
            listener->onUdpData(readBuffer.data(), readCount);
    }
}

void ZoPureUdpWapper::onSocketStateChange(QAbstractSocket::SocketState state)
{
    if (state == QAbstractSocket::BoundState && socket)
        connect(socket.get(), &QIODevice::readyRead, this, &ZoPureUdpWapper::readData,
            Qt::UniqueConnection);
}
