#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Cuts frames out of a byte stream, whatever arrives. Two framings:
//  App:  AB 0E, L, body (L - 2 bytes), CRC-16/MODBUS over bytes 0..L; L + 3 bytes.
//  Boot: EB 90, total length, CRC-16/MODBUS over bytes 6.. (FF FF for the
//        six-byte commands), command, data.
// A frame with a wrong CRC is reported as bad and costs only its two header
// bytes, so a real frame that starts inside it is still found. The buffer is
// fixed; nothing is read or written outside it.
class ZoSimFrameParser
{
public:
    enum class Kind { App, Boot };
    using Callback = std::function<void(const uint8_t *frame, size_t length, bool crcOk)>;

    explicit ZoSimFrameParser(Kind kind);

    void feed(const uint8_t *data, size_t length, const Callback &onFrame);
    void reset() { m_count = 0; }
    size_t pending() const { return m_count; }

    static constexpr size_t kCapacity = 1024;

private:
    void process(const Callback &onFrame);

    Kind m_kind;
    uint8_t m_h0;
    uint8_t m_h1;
    uint8_t m_buf[kCapacity];
    size_t m_count = 0;
};
