#include "ZoPureTCPClientWrapper.h"

#include "ZoCommSupport.h"

#include <QTcpSocket>

#include <limits>

namespace {
const char *const kSource = "comm\\ZoPureTcpClientWrapper";
}

ZoPureTCPClientWrapper::ZoPureTCPClientWrapper(QObject *parent)
    : ZoPureWapper(parent)
{
}

ZoPureTCPClientWrapper::~ZoPureTCPClientWrapper()
{
    // The socket reports its own teardown; this object is no longer there to
    // hear it.
    if (socket) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool ZoPureTCPClientWrapper::setName(const QString &newName)
{
    if (ZoComm::refuseWhileOpen(
            kSource, isOpen(), "Can't set name, the ctrl had been opend, can't setPort."))
        return false;
    name = newName;
    return true;
}

bool ZoPureTCPClientWrapper::setHostAddress(const QString &address)
{
    return ZoComm::setHostAddress(kSource, isOpen(), address, remoteAddress, addressRejected);
}

bool ZoPureTCPClientWrapper::setPort(int port)
{
    if (ZoComm::refuseWhileOpen(
            kSource, isOpen(), "Can't set port, the ctrl had been opend, can't setPort."))
        return false;
    localPort = port;
    return true;
}

tdu2 ZoPureTCPClientWrapper::boundPort() const
{
    return socket && tcpConnected ? socket->localPort() : 0;
}

void ZoPureTCPClientWrapper::reportDown()
{
    tcpConnected = false;
    opened = false;
    if (reported != Reported::Down) {
        reported = Reported::Down;
        Q_EMIT sigOpenCommSucc(false);
    }
}

void ZoPureTCPClientWrapper::silenceAndDrop()
{
    // Marking the attempt as reported keeps the teardown (which the socket
    // announces as a disconnection, sometimes later) from reaching listeners
    // as a lost connection.
    reported = Reported::Down;
    tcpConnected = false;
    opened = false;
    if (socket) {
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
        socket->close();
    }
}

bool ZoPureTCPClientWrapper::open()
{
    if (tcpConnected)
        return true;
    if (addressRejected || !remoteAddress) {
        qCWarning(lcComm)
            << "ZoPureTCPClientWrapper::open() - no valid remote address, link stays closed";
        return false;
    }
    if (hostPort < 0 || hostPort > 65535 || localPort > 65535) {
        qCWarning(lcComm) << "ZoPureTCPClientWrapper::open() - port out of range" << hostPort
                          << localPort;
        return false;
    }

    if (!socket) {
        socket = std::make_unique<QTcpSocket>();
        connect(
            socket.get(), &QAbstractSocket::connected, this, &ZoPureTCPClientWrapper::onConnected);
        connect(socket.get(), &QAbstractSocket::disconnected, this,
            &ZoPureTCPClientWrapper::onDisconnected);
        connect(
            socket.get(), &QIODevice::readyRead, this, &ZoPureTCPClientWrapper::onReadDataOnConn);
        connect(socket.get(), &QAbstractSocket::errorOccurred, this,
            &ZoPureTCPClientWrapper::onConnectError);
    } else if (socket->state() != QAbstractSocket::UnconnectedState) {
        silenceAndDrop(); // leftovers of an earlier attempt
    }

    // A local port still held by the previous connection (TIME_WAIT) fails
    // to bind; the connection is then made from any port. That failure is
    // not the result of the attempt, so it is kept from the listeners.
    reported = Reported::Down;
    if (localPort > 0 && !socket->bind(quint16(localPort)))
        qCDebug(lcComm) << "Fail to bind " << localPort << "error:" << socket->error();
    reported = Reported::Nothing;

    socket->connectToHost(remoteAddress->toString(), quint16(hostPort), QIODevice::ReadWrite,
        QAbstractSocket::IPv4Protocol);
    if (!socket->waitForConnected(ConnectTimeoutMs) || !tcpConnected) {
        // The socket may not have told us (a silent host just times out), yet
        // the attempt has failed: say so once, then tear down quietly.
        reportDown();
        close();
        return false;
    }
    return true;
}

bool ZoPureTCPClientWrapper::close()
{
    silenceAndDrop();
    opened = false;
    return true;
}

tds8 ZoPureTCPClientWrapper::write(const tdu1 *data, tds4 length)
{
    // Bytes for a connection that is not there are not sent; saying they were
    // would hide a dead link from the sender.
    if (!socket || !tcpConnected || !data || length < 0)
        return -1;
    const qint64 n = socket->write(reinterpret_cast<const char *>(data), length);
    socket->flush();
    return n;
}

int ZoPureTCPClientWrapper::error() const
{
    return socket ? int(socket->error()) : 0;
}

QString ZoPureTCPClientWrapper::errorString() const
{
    return socket ? socket->errorString() : QString();
}

bool ZoPureTCPClientWrapper::isOpen() const
{
    return tcpConnected;
}

bool ZoPureTCPClientWrapper::onConnectError(QAbstractSocket::SocketError error)
{
    qCDebug(lcComm) << "ZoPureTCPClientWrapper::onConnectError" << error;
    reportDown();
    return true;
}

bool ZoPureTCPClientWrapper::onDisconnected()
{
    reportDown();
    return true;
}

bool ZoPureTCPClientWrapper::onConnected()
{
    tcpConnected = true;
    opened = true;
    if (reported != Reported::Up) {
        reported = Reported::Up;
        Q_EMIT sigOpenCommSucc(true);
    }
    return true;
}

void ZoPureTCPClientWrapper::onReadDataOnConn()
{
    if (!socket || !tcpConnected)
        return;
    pending = tds4(qMin<qint64>(socket->bytesAvailable(), std::numeric_limits<tds4>::max()));
    while (pending > 0) {
        const qint64 n = socket->read(reinterpret_cast<char *>(readBuffer.data()), ReadBufferSize);
        if (n < 1)
            break;
        readCount = tds4(n);
        const QList<IZoReceiveData *> listeners = receivers;
        for (IZoReceiveData *listener : listeners)
            listener->onTcpData(readBuffer.data(), readCount);
        if (!socket || !tcpConnected)
            break;
        pending -= readCount;
    }
    pending = 0;
}
