#pragma once

#include "ZoTypes.h"

#include <QMutex>

#include <memory>

// A locked ring of fixed-size records (a u16 length followed by the data).
// When the ring is full the oldest record is dropped, so it holds at most
// capacity - 1 records. Producers and the consumer may sit on different
// threads; every operation takes the lock.
class ZoTelemetryQueue
{
public:
    ZoTelemetryQueue();
    virtual ~ZoTelemetryQueue();
    ZoTelemetryQueue(const ZoTelemetryQueue &) = delete;
    ZoTelemetryQueue &operator=(const ZoTelemetryQueue &) = delete;

    // Reallocates a zeroed ring; nothing happens when both values are
    // unchanged, a capacity of 0 keeps the old capacity. Queued records are
    // lost.
    void configure(tdu2 itemSize, tdu2 capacity);

    // Stores a copy and returns it, or null for null data, a length of 0 or a
    // record longer than itemSize (such a record is dropped, never cut).
    tdu1 *push(const tdu1 *data, tdu2 length);

    // Takes the oldest record: null and length 0 when the ring is empty. The
    // pointer refers into the ring; a later push may overwrite it, so use it
    // at once or prefer popInto().
    tdu1 *pop(tdu2 &length);

    // Takes the oldest record and copies it into out (room for maxLength
    // bytes) while the lock is held. Returns its length, 0 when the ring is
    // empty. A record longer than maxLength is dropped and 0 returned.
    tdu2 popInto(tdu1 *out, tdu2 maxLength);

    void clear();

    // Records waiting to be taken.
    int size() const;

    tdu2 itemSize() const { return m_itemSize; }
    tdu2 capacity() const { return m_capacity; }

private:
    tdu1 *recordAt(tdu4 index) const { return m_buffer.get() + size_t(index) * m_stride; }

    tdu2 m_itemSize = 0;
    tdu2 m_capacity = 0;
    tdu2 m_stride = 0;
    std::unique_ptr<tdu1[]> m_buffer;
    tdu4 m_readIndex = 0;
    tdu4 m_writeIndex = 0;
    mutable QMutex m_lock;
};
