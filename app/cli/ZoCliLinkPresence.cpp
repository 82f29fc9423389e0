#include "ZoCliLinkPresence.h"

#include <QFileInfo>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>

namespace {

constexpr int kTickMs = 250;

} // namespace

ZoCliLinkPresence::ZoCliLinkPresence(const ZoPlaneConfig &link, int silenceMs, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_silenceMs(silenceMs)
{
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &ZoCliLinkPresence::tick);
}

ZoCliLinkPresence::~ZoCliLinkPresence()
{
    release();
}

void ZoCliLinkPresence::awaitArrival()
{
    m_state = AwaitingArrival;
    m_tick.start();
    tick();
}

void ZoCliLinkPresence::awaitLeave()
{
    m_state = AwaitingLeave;
    m_lastHeard.start();
    m_tick.start();
    tick();
}

void ZoCliLinkPresence::stop()
{
    m_state = Stopped;
    m_tick.stop();
    release();
}

void ZoCliLinkPresence::release()
{
    // Closed at once, so the engine may bind the port; deleted later, as
    // this may run inside one of the socket's own signals.
    if (m_tcp) {
        m_tcp->disconnect(this);
        m_tcp->abort();
        m_tcp.release()->deleteLater();
    }
    if (m_udp) {
        m_udp->disconnect(this);
        m_udp->close();
        m_udp.release()->deleteLater();
    }
}

void ZoCliLinkPresence::heard()
{
    m_lastHeard.start();
    if (m_state == AwaitingArrival) {
        m_state = AwaitingLeave;
        Q_EMIT sigArrived();
    }
}

void ZoCliLinkPresence::gone()
{
    if (m_state != AwaitingLeave)
        return;
    m_state = AwaitingArrival;
    Q_EMIT sigLeft();
}

void ZoCliLinkPresence::tick()
{
    if (m_state == Stopped)
        return;
    switch (m_link.type) {
    case ZoPlaneConfig::LinkSerialPort:
        // The adapter is the aircraft's cable: its node coming and going is
        // all there is to tell.
        if (QFileInfo::exists(m_link.com))
            heard();
        else
            gone();
        return;
    case ZoPlaneConfig::LinkUdp:
        if (!m_udp) {
            m_udp = std::make_unique<QUdpSocket>();
            // A port still held (by the engine just closing it) is tried
            // again on the next tick.
            if (!m_udp->bind(QHostAddress::AnyIPv4, quint16(m_link.localPort),
                    QAbstractSocket::DontShareAddress)) {
                m_udp.reset();
                break;
            }
            m_lastHeard.start(); // silence counts from when it can be heard
            connect(m_udp.get(), &QUdpSocket::readyRead, this, [this] {
                while (m_udp && m_udp->hasPendingDatagrams())
                    m_udp->receiveDatagram(0);
                heard();
            });
        }
        break;
    case ZoPlaneConfig::LinkTcpClient:
        if (!m_tcp) {
            m_tcp = std::make_unique<QTcpSocket>();
            connect(m_tcp.get(), &QTcpSocket::connected, this, [this] { m_lastHeard.start(); });
            connect(m_tcp.get(), &QTcpSocket::readyRead, this, [this] {
                m_tcp->readAll();
                heard();
            });
            // Closed or refused: nobody there. Dropped on the next tick, not
            // inside the socket's own signal.
            connect(m_tcp.get(), &QAbstractSocket::errorOccurred, this, [this] { gone(); });
            m_tcp->connectToHost(m_link.TcpServerHost, quint16(m_link.TcpServerHostPort));
        } else if (m_tcp->state() == QAbstractSocket::UnconnectedState) {
            release(); // and connect again on the next tick
        }
        break;
    default:
        break;
    }
    const bool listening = m_udp || (m_tcp && m_tcp->state() == QAbstractSocket::ConnectedState);
    if (m_state == AwaitingLeave && listening && m_lastHeard.elapsed() >= m_silenceMs)
        gone();
}
