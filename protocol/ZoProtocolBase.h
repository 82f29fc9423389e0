#pragma once

#include "IReceivePackage.h"
#include "ZoFrameCutter.h"
#include "ZoTypes.h"

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
    static constexpr int AccumulatorSize = ZoFrameCutter::AccumulatorSize;
    static constexpr int MaxChunk = ZoFrameCutter::MaxChunk;
    static constexpr int SlotSize = ZoFrameCutter::SlotSize;
    static constexpr int SlotCount = ZoFrameCutter::SlotCount;
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
    void dropPartial() { m_cutter.dropPartial(); }

    // The walkers of subMessageCount/subMessageAt applied to a frame the caller
    // holds. They read only inside the frame its own length byte describes,
    // and never beyond `available` bytes from its start when that is given.
    // subMessageOf reports the sub-message's length byte, cut to the data bytes
    // the frame really holds, so `dataLength` bytes after the two leading ones
    // can always be read.
    static tdu1 subMessageCountOf(const tdu1 *frame, tdu2 available = 0xFFFF);
    static const tdu1 *subMessageOf(
        const tdu1 *frame, tdu1 index, tdu1 &dataLength, tdu2 available = 0xFFFF);

    // Receive state, for tests and diagnostics.
    int bufferedCount() const { return m_cutter.bufferedCount(); }
    tdu1 slotIndex() const { return m_cutter.slotIndex(); }

protected:
    static tdu1 *scratchBuffer();
    static tdu1 *transmitBuffer();
    tdu1 *frameBuffer(bool tx);

private:
    static tdu1 *subMessageAtImpl(const tdu1 *frame, tdu1 index, tdu2 available);

    tdu2 m_header = 0xFFFF;
    tdu4 m_tag = 0;
    // Frames are L + 3 bytes, at least MinFrame; checkCrc() judges them.
    ZoFrameCutter m_cutter;
};
