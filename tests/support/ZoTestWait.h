#pragma once

// Waits for a condition while the event loop runs at full speed.
// QTest::qWaitFor sleeps 10 ms between its checks, which caps a
// stop-and-wait transfer driven from the waiting thread at about 100 blocks
// a second; this returns as soon as an event has made the condition true.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

template <typename F> bool zoWaitFor(F done, int ms)
{
    const QDeadlineTimer deadline(ms);
    QTimer wake; // so that the wait ends on time when nothing arrives
    wake.start(50);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
