#pragma once

#include "IReceivePackage.h"
#include "ZoTypes.h"

// Cuts frames out of a byte stream that arrives in chunks of any size. A
// frame starts with two header bytes; the byte after them gives its length.
// Each complete frame is copied into the next slot of a ring of ten and
// handed to the receiver.
//
// What tells the codecs apart is handed in: the header bytes, how the length
// byte becomes the frame's length, the shortest frame and the check a frame
// must pass. A frame that fails the check goes to onBadPackage and costs only
// its header, so a real frame that starts inside it is still found; a length
// below the shortest frame or above a slot marks a false header.
//
// Nothing is allocated per chunk or frame, and whatever bytes arrive nothing
// outside the accumulator, the ring and the chunk itself is read or written.
// One thread feeds a cutter.
class ZoFrameCutter
{
public:
    static constexpr int AccumulatorSize = 512;
    static constexpr int MaxChunk = 256;
    static constexpr int SlotSize = 256;
    static constexpr int SlotCount = 10;

    // True when the frame is good. A null check takes every frame.
    using Check = bool (*)(void *context, const tdu1 *frame, tdu2 length);

    // A frame is (length byte + lengthBias) bytes long.
    ZoFrameCutter(tdu1 header0, tdu1 header1, int lengthBias, int minFrame, Check check = nullptr,
        void *context = nullptr);
    ZoFrameCutter(const ZoFrameCutter &) = delete;
    ZoFrameCutter &operator=(const ZoFrameCutter &) = delete;

    // Takes effect with the next search for a header.
    void setHeader(tdu1 header0, tdu1 header1);
    void setReceiver(IReceivePackage *receiver);

    // Appends a chunk of at most MaxChunk bytes. False when it was ignored
    // (empty) or dropped (too long: what was held is dropped with it).
    bool append(const tdu1 *data, int length);
    // Whether enough is held for cut() to find anything.
    bool cuttable() const { return m_count > 2; }
    // Cuts every complete frame held. Afterwards at most MaxChunk - 1 bytes
    // stay: an incomplete frame, or the last byte of garbage, which may be
    // the first half of a header split across two chunks. True when a frame
    // was cut.
    bool cut();
    // append(), then cut() when there is something to cut. False as append().
    bool feed(const tdu1 *data, int length);
    // The frame held incomplete is taken for a false header and looked
    // through again from after its header. For a caller that knows the rest
    // is overdue: one damaged length byte would otherwise hold every later
    // frame until enough bytes came to fill it.
    void dropPartial();

    // Copies the receive state, the held bytes and the ring; header, check
    // and receiver stay as they are.
    void assign(const ZoFrameCutter &other);

    int bufferedCount() const { return m_count; }
    tdu1 slotIndex() const { return m_slot; }
    // The slot the next frame is cut into; it still holds the frame cut ten
    // frames ago.
    tdu1 *currentSlot() { return m_ring[m_slot]; }

private:
    void reset();
    // The position in m_accumulator[pos, end) where the header starts, or -1.
    // On a miss only the last byte is kept, and m_count says what is left.
    int findHeader(int pos, int end);

    tdu1 m_header0;
    tdu1 m_header1;
    int m_lengthBias;
    int m_minFrame;
    Check m_check;
    void *m_context;
    IReceivePackage *m_receiver = nullptr;

    int m_count = 0;
    bool m_synced = false;
    tdu1 m_accumulator[AccumulatorSize] = {};
    tdu1 m_ring[SlotCount][SlotSize] = {};
    tdu1 m_slot = 0;
};
