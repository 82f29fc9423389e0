#include "ZoSimFrameParser.h"

#include "ZoSimCrc.h"

#include <cstring>

ZoSimFrameParser::ZoSimFrameParser(Kind kind)
    : m_kind(kind)
    , m_h0(kind == Kind::App ? 0xAB : 0xEB)
    , m_h1(kind == Kind::App ? 0x0E : 0x90)
{
}

void ZoSimFrameParser::feed(const uint8_t *data, size_t length, const Callback &onFrame)
{
    if (!data)
        return;
    while (length > 0) {
        const size_t room = kCapacity - m_count;
        const size_t take = length < room ? length : room;
        std::memcpy(m_buf + m_count, data, take);
        m_count += take;
        data += take;
        length -= take;
        process(onFrame);
        // A frame is at most 258 bytes, so after a parse the buffer holds at
        // most one incomplete frame; this only guards against a logic slip.
        if (m_count == kCapacity)
            m_count = 0;
    }
}

void ZoSimFrameParser::process(const Callback &onFrame)
{
    size_t pos = 0;
    for (;;) {
        while (pos + 1 < m_count && !(m_buf[pos] == m_h0 && m_buf[pos + 1] == m_h1))
            ++pos;
        if (pos + 1 >= m_count) {
            // Keep a last byte that may be the first half of a header.
            if (!(pos < m_count && m_buf[pos] == m_h0))
                pos = m_count;
            break;
        }
        if (m_count - pos < 3)
            break;
        const size_t total
            = m_kind == Kind::App ? size_t(m_buf[pos + 2]) + 3 : size_t(m_buf[pos + 2]);
        const size_t minimum = m_kind == Kind::App ? 5 : 6;
        if (total < minimum) {
            pos += 2; // a length that can never complete: not a header after all
            continue;
        }
        if (m_count - pos < total)
            break;
        const uint8_t *f = m_buf + pos;
        bool ok;
        if (m_kind == Kind::App) {
            const uint16_t want = uint16_t(f[total - 2] | (f[total - 1] << 8));
            ok = ZoSimCrc::modbus(f, total - 2) == want;
        } else {
            const uint16_t want = uint16_t(f[3] | (f[4] << 8));
            ok = ZoSimCrc::modbus(f + 6, total - 6) == want;
        }
        if (onFrame)
            onFrame(f, total, ok);
        pos += ok ? total : 2;
    }
    if (pos > 0) {
        std::memmove(m_buf, m_buf + pos, m_count - pos);
        m_count -= pos;
    }
}
