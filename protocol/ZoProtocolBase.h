#pragma once

#include "IReceivePackage.h"
#include "ZoTypes.h"

#include <cstring>

// Frame codec of the device link: header (2 bytes), length byte L (bytes that
// follow it), a body of sub-messages [type, n, data...] and a CRC-16/MODBUS
// over everything before it, low byte first. A frame is L + 3 bytes.
//
// Receiving (feed/parse) belongs to the one thread that owns the codec.
// Builders may be called from any thread: each thread builds into its own
// scratch and transmit buffers, so a pointer handed back stays valid until
// the next builder of the same buffer is called on the same thread.
class ZoProtocolBase
{
public:
    static constexpr int AccumulatorSize = 512;
    static constexpr int MaxChunk = 256;
    static constexpr int SlotSize = 256;
    static constexpr int SlotCount = 10;
    static constexpr int BufferSize = 256;
    static constexpr int MinFrame = 5;
    // Prefix and body of one frame together; the frame then fits in 255 bytes.
    static constexpr int MaxFrameBody = 250;

    ZoProtocolBase();
    ZoProtocolBase(const ZoProtocolBase &) = delete;
    ZoProtocolBase &operator=(const ZoProtocolBase &) = delete;

    virtual ~ZoProtocolBase();
    // Copies the receive state, accumulator, ring and slot index; header,
    // receiver and tag stay as they are.
    virtual void assign(const ZoProtocolBase &other);
    virtual void setReceiver(IReceivePackage *receiver);
    virtual tdu4 tag() const;
    virtual bool reserved4();
    // tx true: the calling thread's transmit buffer; false: the current ring slot.
    virtual tdu2 frameLength(bool tx);
    virtual tdu2 dataLength(bool tx);
    virtual tdu1 subMessageCount(bool tx);
    virtual tdu1 *subMessageAt(tdu1 index, bool tx);
    virtual bool isType(const tdu1 *subMessage, tdu1 type);
    virtual void setHeader(tdu2 header);
    virtual tdu2 header() const;
    virtual bool reserved12();
    // Frame [header, n + 4, type, n, data, CRC] in the transmit buffer; length
    // in: n, out: n + 7. Null (length 0) when it would not fit in 255 bytes.
    // The stored header is not changed.
    virtual tdu1 *buildFrame(tdu2 header, tdu1 type, const tdu1 *data, tdu1 &length);
    // [type, 0]
    virtual tdu1 *makeSubMessage(tdu1 type, tdu1 &length);
    // [type, 1, value]
    virtual tdu1 *makeSubMessage(tdu1 type, tdu1 value, tdu1 &length);
    // Frame with the stored header whose body is prefix + body; length in:
    // body length, out: whole frame. Null (length 0) above MaxFrameBody.
    virtual tdu1 *buildFrame(const tdu1 *prefix, tdu1 prefixLength, const tdu1 *body, tdu1 &length);
    // [type, a + b, A, B]; length in: B's length, out: the sub-message's.
    virtual tdu1 *makeSubMessage(
        tdu1 type, const tdu1 *partA, tdu1 lengthA, const tdu1 *partB, tdu1 &lengthB);
    // [type, n, data]; length in: n, out: n + 2. Null (length 0) when n > 253.
    virtual tdu1 *makeSubMessage(tdu1 type, const tdu1 *data, tdu1 &length);
    virtual tdu1 *currentSlotData();
    virtual tdu1 *currentSlot();
    virtual void markCurrentSlot(bool ok, tdu2 length);
    // A followed by B (B may be null); length in: B's, out: A's + B's. Null
    // (length 0) when the result would not fit in 255 bytes.
    virtual tdu1 *concat(const tdu1 *partA, int lengthA, const tdu1 *partB, tdu1 &lengthB);
    virtual bool isHeader(const tdu1 *bytes);
    virtual bool checkCrc(const tdu1 *frame, tdu2 length);
    virtual bool parse();

    // CRC-16/MODBUS; 0xFFFF for an empty range.
    static tdu2 crc16(const tdu1 *data, tdu2 length);

    // Appends received bytes (at most 256 per call) and cuts frames. False when
    // the chunk was ignored (empty) or dropped (too long).
    bool feed(const tdu1 *data, int length);

    // The walkers of subMessageCount/subMessageAt applied to a frame the caller
    // holds. They read only inside the frame its own length byte describes,
    // and never beyond `available` bytes from its start when that is given.
    // subMessageOf reports the sub-message's length byte, cut to the data bytes
    // the frame really holds, so `dataLength` bytes after the two leading ones
    // can always be read.
    static tdu1 subMessageCountOf(const tdu1 *frame, tdu2 available = 0xFFFF);
    static const tdu1 *subMessageOf(
        const tdu1 *frame, tdu1 index, tdu1 &dataLength, tdu2 available = 0xFFFF);

    // The header search both frame codecs share: the position in acc[pos, end)
    // where the two bytes h0 h1 start, or -1. On a miss the accumulator keeps
    // only its last byte (it was never tested and may be the first half of a
    // header split across two chunks) and `count` says what is left.
    static int findHeader(tdu1 *acc, int pos, int end, tdu1 h0, tdu1 h1, int &count)
    {
        const tdu1 *from = acc + pos;
        const tdu1 *last = acc + end - 1; // last position a header can start is end - 2
        while (from < last) {
            const void *p = std::memchr(from, h0, size_t(last - from));
            if (!p)
                break;
            const tdu1 *q = static_cast<const tdu1 *>(p);
            if (q[1] == h1)
                return int(q - acc);
            from = q + 1;
        }
        if (end - pos >= 1) {
            acc[0] = acc[end - 1];
            count = 1;
        } else {
            count = 0;
        }
        return -1;
    }

    // Receive state, for tests and diagnostics.
    int bufferedCount() const { return m_count; }
    tdu1 slotIndex() const { return m_slot; }

protected:
    static tdu1 *scratchBuffer();
    static tdu1 *transmitBuffer();
    tdu1 *frameBuffer(bool tx);

private:
    void resetReceive();
    static tdu1 *subMessageAtImpl(const tdu1 *frame, tdu1 index, tdu2 available);

    tdu2 m_header = 0xFFFF;
    tds4 m_count = 0;
    tdu2 m_frameLength = 0;
    tdu1 m_synced = 0;
    IReceivePackage *m_receiver = nullptr;
    tdu4 m_tag = 0;
    tdu1 m_accumulator[AccumulatorSize] = {};
    tdu1 m_ring[SlotCount][SlotSize] = {};
    tdu1 m_slot = 0;
};
