#pragma once

// A looper on its own thread with a UDP link on loopback to `peer`, which the
// test answers from as the aircraft would, and the lease and boot commands the
// parts under test share. Announcements go to a local sink; frame logs are off.

#include "ZoBootCommands.h"
#include "ZoMsgLooper.h"
#include "ZoProtocolLease.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <functional>
#include <memory>

struct ZoTestLooperPeer
{
    QUdpSocket gcpmSink, peer;
    quint16 looperPort = 0; // where the looper's frames come from
    std::unique_ptr<ZoMsgLooper> looper;
    std::unique_ptr<ZoProtocolLease> lease;
    std::unique_ptr<ZoBootCommands> commands;

    // From initTestCase: `onFrame` sees every datagram the looper sends.
    bool start(QObject *context, std::function<void(const QByteArray &)> onFrame)
    {
        QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false"));
        if (!gcpmSink.bind(QHostAddress(QHostAddress::LocalHost), 0)
            || !peer.bind(QHostAddress(QHostAddress::LocalHost), 0))
            return false;
        qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
        qputenv("TOLVANE_GCPM_PORT", QByteArray::number(gcpmSink.localPort()));
        QObject::connect(&peer, &QUdpSocket::readyRead, context, [this, onFrame] {
            while (peer.hasPendingDatagrams()) {
                QByteArray d(int(peer.pendingDatagramSize()), '\0');
                peer.readDatagram(d.data(), d.size(), nullptr, &looperPort);
                onFrame(d);
            }
        });
        looper = std::make_unique<ZoMsgLooper>();
        QSignalSpy opened(looper.get(), &ZoMsgLooper::openPlaneComm);
        lease = std::make_unique<ZoProtocolLease>(looper.get());
        commands = std::make_unique<ZoBootCommands>(looper.get());
        looper->startLooper();
        if (!QTest::qWaitFor([this] { return looper->isReady(); }, 5000))
            return false;
        QMetaObject::invokeMethod(looper.get(), [l = looper.get(), port = peer.localPort()] {
            l->onOpenPlaneUdp(QStringLiteral("127.0.0.1"), port, 0);
        });
        // It may have opened before anyone waits.
        return QTest::qWaitFor([&opened] { return !opened.isEmpty(); }, 3000)
            && opened[0][1].toBool();
    }

    void send(const QByteArray &frame)
    {
        peer.writeDatagram(frame, QHostAddress::LocalHost, looperPort);
    }

    bool stop()
    {
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onTerminateLooper(); });
        if (!looper->wait(3000))
            return false;
        commands.reset();
        lease.reset();
        looper.reset();
        return true;
    }
};
