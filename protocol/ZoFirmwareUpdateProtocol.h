#pragma once

#include "AESCrypt.h"
#include "IReceivePackage.h"
#include "ZoFrameCutter.h"
#include "ZoTypes.h"

// The bootloader transfer protocol. Framed requests are
//   EB 90, total length, CRC-16/MODBUS of the bytes from offset 6 (low byte
//   first; FF FF in the two short commands), command, data.
// The same key and data frames also exist addressed (device type and index
// in front, for bus modules behind the flight controller) and bare (command
// and data only).
//
// Builders run on the GUI thread, feed() on the looper's worker thread; the
// two share nothing but the builders' session key and cipher.
class ZoFirmwareUpdateProtocol
{
public:
    static constexpr int AccumulatorSize = ZoFrameCutter::AccumulatorSize;
    static constexpr int MaxChunk = ZoFrameCutter::MaxChunk;
    static constexpr int SlotSize = ZoFrameCutter::SlotSize;
    static constexpr int SlotCount = ZoFrameCutter::SlotCount;
    static constexpr int MinFrame = 6;
    static constexpr int HeaderBytes = 48;
    static constexpr int KeyBytes = 16;
    // Largest data block: the framed form's length byte is n + 8.
    static constexpr int MaxBlock = 247;

    ZoFirmwareUpdateProtocol();
    ZoFirmwareUpdateProtocol(const ZoFirmwareUpdateProtocol &) = delete;
    ZoFirmwareUpdateProtocol &operator=(const ZoFirmwareUpdateProtocol &) = delete;

    virtual ~ZoFirmwareUpdateProtocol();
    virtual void setReceiver(IReceivePackage *receiver);

    // Non-zero selects '#' and '2' instead of '!' and '1' in framed requests.
    void setKeyMode(tdu1 mode);

    // Key frame: a fresh session key and the firmware header's bytes 16-47
    // encrypted under it. `header48` is changed in place (bytes 0-15 become
    // the key, 16-47 are encrypted). Returns 54 (framed), 52 (addressed) or
    // 49 (bare); 0 when a buffer is null. `out` must hold 54 bytes.
    tdu2 buildKeyFrame(
        tdu1 *out, tdu1 *header48, bool framed, tdu1 deviceType, tdu1 deviceIndex, bool addressed);
    // Data frame of n image bytes at `offset`, encrypted under the session
    // key; block index = offset / 32. Returns n + 8 (framed), n + 6
    // (addressed) or n + 3 (bare); 0 when a buffer is null or n > MaxBlock.
    // Reads exactly n bytes of the image; `out` must hold n + 8 bytes.
    tdu2 buildDataFrame(tdu1 *out, const tdu1 *image, tdu4 offset, tdu2 n, bool framed,
        tdu1 deviceType, tdu1 deviceIndex, bool addressed);
    // EB 90 06 FF FF 22
    void buildReadParameters(tdu1 *out, tdu1 &command, tdu1 &length, bool enable);
    // EB 90 06 FF FF 50
    void buildLeaveBootloader(tdu1 *out, tdu1 &length, bool enable);
    // Block index of a '1'/'2' acknowledgement (byte 5 0x81), else 0. Reads
    // at most `length` bytes of the frame.
    tdu2 parseAck(const tdu1 *frame, bool enable, tdu2 length = 0xFFFF);

    // Appends received bytes (at most 256 per call) and cuts frames; every
    // complete frame goes to onPackage (there is no CRC check on replies).
    bool feed(const tdu1 *data, int length);
    void dropPartial() { m_cutter.dropPartial(); }

    // A random UUID in RFC 4122 byte order becomes the session key.
    void makeSessionKey(tdu1 *key16);

    // CRC-16/MODBUS; 0xFFFF for a length below 1.
    static tdu2 crc16(const tdu1 *data, int length);

    const tdu1 *sessionKey() const { return m_sessionKey; }
    bool keyMode() const { return m_keyMode; }
    int bufferedCount() const { return m_cutter.bufferedCount(); }
    tdu1 slotIndex() const { return m_cutter.slotIndex(); }

private:
    bool m_keyMode = false;
    tdu1 m_sessionKey[KeyBytes] = {};
    AESCrypt m_cipher;
    // Frames are as long as their length byte says, at least MinFrame.
    ZoFrameCutter m_cutter;
};
