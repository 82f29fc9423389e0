#pragma once

#include "ZoTypes.h"

#include <QObject>
#include <QTimer>

class ZoBootCommands;
class ZoPlaneSearch;
class ZoProtocolLease;

// A core that sends no telemetry may be sitting in its bootloader, where a
// station that died in the middle of its flash left it. Before a search of
// one link is given up, that core's bootloader is asked for its parameters
// (the read the manual add of a core makes), repeatedly for a short while.
// A core that answers is reported as found in its bootloader; silence ends
// the search as not found. An automatic search is stopped at each candidate
// link that opened but stayed silent, and goes on when it was asked there.
//
// It commands the looper only while it holds the protocol lease. On the
// engine's thread; its timers are its own.
class ZoCoreRecovery : public QObject
{
    Q_OBJECT
public:
    ZoCoreRecovery(ZoBootCommands *commands, ZoProtocolLease *lease, ZoPlaneSearch *search,
        QObject *parent = nullptr);

    // How long the bootloader is asked; it is asked a few times meanwhile.
    void setListenMs(int listenMs);
    // Asking; the core's reports are this part's meanwhile.
    bool isActive() const { return m_listen.isActive(); }
    // The link is gone: nothing is reported.
    void cancel();

public Q_SLOTS:
    // The search's end, passed on unless a silent link is worth asking.
    void onSearchFinished(bool found, tds4 planeNum);
    // A core's version while active: the bootloader's answer.
    void onCoreReport(tVersion version);

Q_SIGNALS:
    void sigSearchEnded(bool found, tds4 planeNum);
    // Just before the search ends as found.
    void sigFound(tVersion version);

private:
    bool start();
    void ask();
    void stop();

    ZoBootCommands *m_commands;
    ZoProtocolLease *m_lease;
    ZoPlaneSearch *m_search;
    QTimer m_listen;
    QTimer m_ask;
};
