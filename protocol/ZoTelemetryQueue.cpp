#include "ZoTelemetryQueue.h"

#include "ZoLittleEndian.h"

#include <QMutexLocker>

#include <cstring>

namespace {
tdu2 lengthOf(const tdu1 *record)
{
    return ZoLittleEndian::read16(record, 2, 0);
}
} // namespace

ZoTelemetryQueue::ZoTelemetryQueue()
{
    configure(0, 10);
}

ZoTelemetryQueue::~ZoTelemetryQueue() = default;

void ZoTelemetryQueue::configure(tdu2 itemSize, tdu2 capacity)
{
    QMutexLocker locker(&m_lock);
    if (capacity == 0)
        capacity = m_capacity;
    if (m_buffer && itemSize == m_itemSize && capacity == m_capacity)
        return;
    m_itemSize = itemSize;
    m_capacity = capacity;
    m_stride = tdu2(itemSize + 2);
    const size_t bytes = size_t(m_capacity) * m_stride;
    m_buffer.reset(new tdu1[bytes > 0 ? bytes : 1]());
    m_readIndex = 0;
    m_writeIndex = 0;
}

tdu1 *ZoTelemetryQueue::push(const tdu1 *data, tdu2 length)
{
    if (!data || length == 0)
        return nullptr;
    QMutexLocker locker(&m_lock);
    if (length > m_itemSize || m_capacity == 0)
        return nullptr;
    tdu1 *record = recordAt(m_writeIndex);
    record[0] = tdu1(length & 0xFF);
    record[1] = tdu1(length >> 8);
    std::memcpy(record + 2, data, length);
    m_writeIndex = (m_writeIndex + 1) % m_capacity;
    if (m_writeIndex == m_readIndex)
        m_readIndex = (m_readIndex + 1) % m_capacity;
    return record + 2;
}

tdu1 *ZoTelemetryQueue::pop(tdu2 &length)
{
    QMutexLocker locker(&m_lock);
    length = 0;
    if (m_readIndex == m_writeIndex)
        return nullptr;
    tdu1 *record = recordAt(m_readIndex);
    m_readIndex = (m_readIndex + 1) % m_capacity;
    length = lengthOf(record);
    return record + 2;
}

tdu2 ZoTelemetryQueue::popInto(tdu1 *out, tdu2 maxLength)
{
    if (!out)
        return 0;
    QMutexLocker locker(&m_lock);
    if (m_readIndex == m_writeIndex)
        return 0;
    const tdu1 *record = recordAt(m_readIndex);
    m_readIndex = (m_readIndex + 1) % m_capacity;
    const tdu2 length = lengthOf(record);
    if (length > maxLength)
        return 0;
    std::memcpy(out, record + 2, length);
    return length;
}

void ZoTelemetryQueue::clear()
{
    QMutexLocker locker(&m_lock);
    m_readIndex = 0;
    m_writeIndex = 0;
}

int ZoTelemetryQueue::size() const
{
    QMutexLocker locker(&m_lock);
    if (m_capacity == 0)
        return 0;
    return int((m_writeIndex + m_capacity - m_readIndex) % m_capacity);
}
