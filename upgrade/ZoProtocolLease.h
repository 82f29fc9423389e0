#pragma once

#include "ZoLogLabel.h"
#include "ZoTypes.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class ZoMsgLooper;

// The one owner of the looper's protocol mode at a time. The bootloader
// probe, a manual add and a transfer session each reprogram how the link is
// read and written; taking the lease names who does now. A second taker is
// refused (false, and a warning naming both) and must leave the link alone;
// only the holder may change the mode, and releasing it puts the looper back
// in the application protocol (mode 0, variant 0).
//
// Threads: created on the engine's thread; it must outlive every taker (not
// the looper). take(), setMode(), release() and the readers may be
// called from any thread, each taker from the thread it lives on (the probe
// and the manual add: the engine's; a transfer session: the looper's). A
// taker is told apart by its address, and named for the log.
// A mode set on the looper's thread takes effect at once; from another
// thread it takes effect after the commands that thread sent before it,
// unless the looper's thread has set a mode in between (a later holder's),
// which then stands.
// sigReleased is emitted on the releasing thread: a part waiting for the
// lease connects to it queued, and tries take() again.
class ZoProtocolLease : public QObject
{
    Q_OBJECT
public:
    // `label` goes before its warnings (see ZoLogLabel).
    explicit ZoProtocolLease(
        ZoMsgLooper *looper, const ZoLogLabel &label = {}, QObject *parent = nullptr);

    // True when `taker` holds the lease now (it may already have held it).
    bool take(const void *taker, const QString &name);
    // The looper's protocol and variant (see ZoMsgLooper::setProtocol);
    // false, and nothing changes, unless `taker` holds the lease.
    bool setMode(const void *taker, tds4 mode, tdu1 variant);
    // Ignored unless `taker` holds it.
    void release(const void *taker);

    bool isHeldBy(const void *taker) const;
    // The holder's name; empty while nobody holds it.
    QString holder() const;

Q_SIGNALS:
    void sigReleased();

private:
    // Under m_mutex.
    void apply(tds4 mode, tdu1 variant);

    ZoMsgLooper *m_looper;
    const ZoLogLabel m_label;
    mutable QMutex m_mutex;
    const void *m_taker = nullptr;
    QString m_name;
    // Modes set on the looper's thread so far; written there only, and read
    // there by the mode changes queued from other threads, which may arrive
    // after the lease is gone.
    const std::shared_ptr<std::atomic<quint64>> m_direct;
};
