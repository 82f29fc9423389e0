#include "ZoFrameCutter.h"

#include <cstring>

ZoFrameCutter::ZoFrameCutter(
    tdu1 header0, tdu1 header1, int lengthBias, int minFrame, Check check, void *context)
    : m_header0(header0)
    , m_header1(header1)
    , m_lengthBias(lengthBias)
    , m_minFrame(minFrame)
    , m_check(check)
    , m_context(context)
{
}

void ZoFrameCutter::setHeader(tdu1 header0, tdu1 header1)
{
    m_header0 = header0;
    m_header1 = header1;
}

void ZoFrameCutter::setReceiver(IReceivePackage *receiver)
{
    m_receiver = receiver;
}

void ZoFrameCutter::reset()
{
    m_count = 0;
    m_synced = false;
}

void ZoFrameCutter::assign(const ZoFrameCutter &other)
{
    if (&other == this)
        return;
    m_count = other.m_count;
    m_synced = other.m_synced;
    // Only the first half can hold bytes between two chunks.
    std::memcpy(m_accumulator, other.m_accumulator, MaxChunk);
    std::memcpy(m_ring, other.m_ring, sizeof m_ring);
    m_slot = other.m_slot;
}

bool ZoFrameCutter::append(const tdu1 *data, int length)
{
    if (!data || length <= 0)
        return false;
    if (length > MaxChunk) {
        reset();
        return false;
    }
    // cut() leaves less than MaxChunk behind; guard anyway, the copy below
    // relies on it.
    if (m_count < 0 || m_count > AccumulatorSize - MaxChunk)
        reset();
    std::memcpy(m_accumulator + m_count, data, size_t(length));
    m_count += length;
    if (m_count <= 2)
        m_synced = false;
    return true;
}

bool ZoFrameCutter::feed(const tdu1 *data, int length)
{
    if (!append(data, length))
        return false;
    if (cuttable())
        cut();
    return true;
}

void ZoFrameCutter::dropPartial()
{
    // After cut(), bytes held in sync start with a header; out of sync, at
    // most the first half of one is held, which may still be completed.
    if (!m_synced || m_count < 2)
        return;
    m_count -= 2;
    std::memmove(m_accumulator, m_accumulator + 2, size_t(m_count));
    m_synced = false;
    cut();
}

int ZoFrameCutter::findHeader(int pos, int end)
{
    tdu1 *const acc = m_accumulator;
    // The last position a header can start at is end - 2.
    for (int from = pos; from < end - 1;) {
        const void *p = std::memchr(acc + from, m_header0, size_t(end - 1 - from));
        if (!p)
            break;
        const int at = int(static_cast<const tdu1 *>(p) - acc);
        if (acc[at + 1] == m_header1)
            return at;
        from = at + 1;
    }
    if (end - pos >= 1) {
        acc[0] = acc[end - 1];
        m_count = 1;
    } else {
        m_count = 0;
    }
    return -1;
}

bool ZoFrameCutter::cut()
{
    // Work on a read position and compact once at the end: moving the
    // remainder after every frame would cost more than the frames themselves.
    tdu1 *const acc = m_accumulator;
    int pos = 0;
    const int end = m_count;
    bool cutAny = false;

    for (;;) {
        if (!m_synced) {
            const int hit = findHeader(pos, end);
            if (hit < 0)
                return cutAny;
            m_synced = true;
            pos = hit;
        }
        const int held = end - pos;
        if (held <= 2)
            break;
        const int flen = acc[pos + 2] + m_lengthBias;
        if (flen < m_minFrame || flen > SlotSize) {
            // Look again right after the false header.
            pos += 2;
            m_synced = false;
            if (end - pos < 2)
                break;
            continue;
        }
        if (held < flen)
            break;

        tdu1 *slot = m_ring[m_slot];
        std::memcpy(slot, acc + pos, size_t(flen));
        cutAny = true;
        // Whatever follows is cut in this same call, so nothing beyond an
        // incomplete frame is ever left behind.
        if (!m_check || m_check(m_context, slot, tdu2(flen))) {
            if (m_receiver)
                m_receiver->onPackage(slot, tdu2(flen));
            pos += flen;
        } else {
            if (m_receiver)
                m_receiver->onBadPackage(slot, tdu2(flen));
            pos += 2;
        }
        m_slot = tdu1((m_slot + 1) % SlotCount);
        m_synced = false;
        if (end - pos < 2)
            break;
    }
    const int rest = end - pos;
    if (pos > 0 && rest > 0)
        std::memmove(acc, acc + pos, size_t(rest));
    m_count = rest;
    return cutAny;
}
