#pragma once

#include "ZoPlaneConfig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class QTcpSocket;
class QUdpSocket;

// Whether an aircraft is on one link, told without the engine: a UDP link
// by any datagram on its local port, a TCP link by connecting and waiting
// for a byte (an aircraft's application sends telemetry unasked), a serial
// link by its device node being there. Silence for `silenceMs` on UDP or
// TCP, a TCP connection closed or refused, or the node gone means the
// aircraft has left.
//
// The watch holds no socket while the engine uses the link (UDP binds the
// same local port): stop() before the engine opens it.
//
// Lives on the station's thread and is used only there.
class ZoCliLinkPresence : public QObject
{
    Q_OBJECT
public:
    enum State {
        Stopped,
        AwaitingArrival, // sigArrived once something is heard
        AwaitingLeave, // taken as there; sigLeft once it is gone
    };

    ZoCliLinkPresence(const ZoPlaneConfig &link, int silenceMs, QObject *parent = nullptr);
    ~ZoCliLinkPresence() override;

    void awaitArrival();
    void awaitLeave();
    void stop();
    State state() const { return m_state; }

Q_SIGNALS:
    void sigArrived();
    void sigLeft();

private:
    void tick();
    void heard();
    void gone();
    void release();

    const ZoPlaneConfig m_link;
    const int m_silenceMs;
    State m_state = Stopped;
    QTimer m_tick;
    QElapsedTimer m_lastHeard;
    std::unique_ptr<QUdpSocket> m_udp;
    std::unique_ptr<QTcpSocket> m_tcp;
};
