#include "ZoPureSerialPortWrapper.h"

#include "ZoCommSupport.h"

#include <QMetaObject>

#ifdef Q_OS_LINUX
#include <QFile>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {
const char *const kSource = "comm\\ZoPureSerialPortWrapper";

// The node a port name stands for (as QSerialPort resolves it) when its
// permissions keep this process from reading and writing it; empty otherwise.
QString refusingNode(const QString &name)
{
#ifdef Q_OS_LINUX
    const QString node = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./"))
            || name.startsWith(QLatin1String("../"))
        ? name
        : QStringLiteral("/dev/") + name;
    // As open() would check it: the effective user and its privileges.
    if (::faccessat(AT_FDCWD, QFile::encodeName(node).constData(), R_OK | W_OK, AT_EACCESS) != 0
        && errno == EACCES)
        return node;
#else
    Q_UNUSED(name)
#endif
    return QString();
}
}

bool ZoPureSerialPortWrapper::requestLowLatency(int fd, QString *why)
{
#ifdef Q_OS_LINUX
    serial_struct settings {};
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (settings.flags & ASYNC_LOW_LATENCY)
        return true;
    settings.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &settings) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
#else
    Q_UNUSED(fd)
    *why = QStringLiteral("not supported on this system");
    return false;
#endif
}

ZoPureSerialPortWrapper::ZoPureSerialPortWrapper(QObject *parent)
    : ZoPureWapper(parent)
{
}

ZoPureSerialPortWrapper::~ZoPureSerialPortWrapper()
{
    if (port && port->isOpen())
        port->close();
}

bool ZoPureSerialPortWrapper::setName(const QString &newName)
{
    if (opened) {
        ZoComm::contractViolation(
            kSource, "Can't set name, the ctrl had been opend, can't setName.");
        return false;
    }
    name = newName;
    return true;
}

bool ZoPureSerialPortWrapper::open()
{
    if (opened)
        return true;
    if (!port)
        port = std::make_unique<QSerialPort>(name);
    else
        port->setPortName(name); // the name may have changed while closed

    accessDeniedNode.clear();
    if (!port->open(QIODevice::ReadWrite)) {
        if (port->error() == QSerialPort::PermissionError)
            accessDeniedNode = refusingNode(name);
        qCDebug(lcComm).noquote() << QString::asprintf(
            "Fail to open serialport. %s, %d", "comm/ZoPureSerialPortWrapper.cpp", __LINE__)
                                  << name << port->errorString();
        return false;
    }
    connect(port.get(), &QIODevice::readyRead, this, &ZoPureSerialPortWrapper::readData,
        Qt::UniqueConnection);

    const bool configured = port->setBaudRate(baud, QSerialPort::AllDirections)
        && port->setDataBits(QSerialPort::DataBits(dataBits))
        && port->setParity(QSerialPort::Parity(parity))
        && port->setStopBits(QSerialPort::StopBits(stopBits))
        && port->setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        port->close();
        return false;
    }

    // USB adapters hold received bytes back for up to 16 ms to fill a
    // packet; a transfer that waits for each block's answer loses more than
    // half its speed to that. Drivers without the setting (a pseudo-terminal)
    // work as they are.
    QString why;
    if (!requestLowLatency(int(port->handle()), &why) && lowLatencyRefusedFor != name) {
        lowLatencyRefusedFor = name;
        qCInfo(lcComm).noquote() << "Serial port" << name << "keeps its receive latency:" << why;
    }
    opened = true;
    return true;
}

bool ZoPureSerialPortWrapper::close()
{
    if (!opened || !port)
        return false;
    port->close();
    opened = false;
    return true;
}

tds8 ZoPureSerialPortWrapper::write(const tdu1 *data, tds4 length)
{
    if (!opened || !port || !data || length < 0)
        return -1;
    const qint64 n = port->write(reinterpret_cast<const char *>(data), length);
    // Hand the bytes to the driver now rather than on the next event-loop
    // round: a bootloader answers each block, so latency adds up per block.
    port->flush();
    return n;
}

int ZoPureSerialPortWrapper::error() const
{
    return port ? int(port->error()) : 0;
}

QString ZoPureSerialPortWrapper::errorString() const
{
    return port ? port->errorString() : QString();
}

bool ZoPureSerialPortWrapper::clear()
{
    if (!port || !opened)
        return true;
    port->clearError();
    return port->clear(QSerialPort::AllDirections);
}

void ZoPureSerialPortWrapper::readData()
{
    readScheduled = false;
    if (!opened || !port)
        return;
    const qint64 n = port->read(reinterpret_cast<char *>(readBuffer.data()), ReadBufferSize);
    readCount = tds4(n);
    if (n == 0)
        return; // nothing buffered; flushing now would throw away bytes in flight
    if (n < 0 || n > ReadBufferSize) {
        port->clearError();
        port->clear(QSerialPort::Input);
        return;
    }

    // A copy, so that a listener may remove itself (or another) while called.
    const QList<IZoReceiveData *> listeners = receivers;
    for (IZoReceiveData *listener : listeners)
        listener->onSerialData(readBuffer.data(), readCount);

    // The port only signals new bytes; what is left over from a burst would
    // otherwise wait for the device to send again, which a bootloader waiting
    // for our next block never does. Take it in the next round of the event
    // loop, one buffer at a time, so other events still get their turn.
    if (opened && port && port->bytesAvailable() > 0 && !readScheduled) {
        readScheduled = true;
        QMetaObject::invokeMethod(this, &ZoPureSerialPortWrapper::readData, Qt::QueuedConnection);
    }
}
