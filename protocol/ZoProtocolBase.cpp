#include "ZoProtocolBase.h"

#include "ZoLittleEndian.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Slicing-by-8 tables of the reflected polynomial 0xA001. Table 0 is the
// classic byte table; table k advances a byte that sits k positions earlier.
struct CrcTables
{
    tdu2 t[8][256];
};

constexpr CrcTables makeCrcTables()
{
    CrcTables c {};
    for (int i = 0; i < 256; ++i) {
        tdu2 crc = tdu2(i);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? tdu2((crc >> 1) ^ 0xA001) : tdu2(crc >> 1);
        c.t[0][i] = crc;
    }
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i)
            c.t[k][i] = tdu2((c.t[k - 1][i] >> 8) ^ c.t[0][c.t[k - 1][i] & 0xFF]);
    return c;
}

constexpr CrcTables kCrc = makeCrcTables();

// Each thread builds into its own buffers, so the GUI thread queuing a
// command never tramples a frame the looper is assembling.
thread_local tdu1 t_scratch[ZoProtocolBase::BufferSize];
thread_local tdu1 t_transmit[ZoProtocolBase::BufferSize];

} // namespace

ZoProtocolBase::ZoProtocolBase()
    : m_cutter(
        tdu1(m_header & 0xFF), tdu1(m_header >> 8), 3, MinFrame,
        [](void *self, const tdu1 *frame, tdu2 length) {
            return static_cast<ZoProtocolBase *>(self)->checkCrc(frame, length);
        },
        this)
{
}

ZoProtocolBase::~ZoProtocolBase() = default;

tdu1 *ZoProtocolBase::scratchBuffer()
{
    return t_scratch;
}

tdu1 *ZoProtocolBase::transmitBuffer()
{
    return t_transmit;
}

tdu1 *ZoProtocolBase::frameBuffer(bool tx)
{
    return tx ? t_transmit : m_cutter.currentSlot();
}

void ZoProtocolBase::assign(const ZoProtocolBase &other)
{
    m_cutter.assign(other.m_cutter);
}

void ZoProtocolBase::setReceiver(IReceivePackage *receiver)
{
    m_cutter.setReceiver(receiver);
}

tdu4 ZoProtocolBase::tag() const
{
    return m_tag;
}

bool ZoProtocolBase::reserved4()
{
    return false;
}

tdu2 ZoProtocolBase::frameLength(bool tx)
{
    return tdu2(frameBuffer(tx)[2] + 3);
}

tdu2 ZoProtocolBase::dataLength(bool tx)
{
    const int len = frameLength(tx) - MinFrame;
    return tdu2(len > 0 ? len : 0);
}

tdu1 ZoProtocolBase::subMessageCount(bool tx)
{
    return subMessageCountOf(frameBuffer(tx), BufferSize);
}

tdu1 *ZoProtocolBase::subMessageAt(tdu1 index, bool tx)
{
    return subMessageAtImpl(frameBuffer(tx), index, BufferSize);
}

bool ZoProtocolBase::isType(const tdu1 *subMessage, tdu1 type)
{
    return subMessage && subMessage[0] == type;
}

void ZoProtocolBase::setHeader(tdu2 header)
{
    m_header = header;
    m_cutter.setHeader(tdu1(header & 0xFF), tdu1(header >> 8));
}

tdu2 ZoProtocolBase::header() const
{
    return m_header;
}

bool ZoProtocolBase::reserved12()
{
    return false;
}

tdu1 *ZoProtocolBase::buildFrame(tdu2 header, tdu1 type, const tdu1 *data, tdu1 &length)
{
    const int n = length;
    if (n + 7 > 255 || (n > 0 && !data)) {
        length = 0;
        return nullptr;
    }
    tdu1 frame[BufferSize];
    frame[0] = tdu1(header & 0xFF);
    frame[1] = tdu1(header >> 8);
    frame[2] = tdu1(n + 4);
    frame[3] = type;
    frame[4] = tdu1(n);
    if (n > 0)
        std::memcpy(frame + 5, data, size_t(n));
    const tdu2 crc = crc16(frame, tdu2(n + 5));
    frame[n + 5] = tdu1(crc & 0xFF);
    frame[n + 6] = tdu1(crc >> 8);
    std::memcpy(t_transmit, frame, size_t(n + 7));
    length = tdu1(n + 7);
    return t_transmit;
}

tdu1 *ZoProtocolBase::makeSubMessage(tdu1 type, tdu1 &length)
{
    t_scratch[0] = type;
    t_scratch[1] = 0;
    length = 2;
    return t_scratch;
}

tdu1 *ZoProtocolBase::makeSubMessage(tdu1 type, tdu1 value, tdu1 &length)
{
    t_scratch[0] = type;
    t_scratch[1] = 1;
    t_scratch[2] = value;
    length = 3;
    return t_scratch;
}

tdu1 *ZoProtocolBase::buildFrame(
    const tdu1 *prefix, tdu1 prefixLength, const tdu1 *body, tdu1 &length)
{
    const int p = prefix ? prefixLength : 0;
    const int b = length;
    if (p + b > MaxFrameBody || (b > 0 && !body)) {
        length = 0;
        return nullptr;
    }
    // Prefix or body may live in this thread's scratch buffer; assemble on
    // the stack so no input is overwritten before it is read.
    tdu1 frame[BufferSize];
    frame[0] = tdu1(m_header & 0xFF);
    frame[1] = tdu1(m_header >> 8);
    frame[2] = tdu1(p + b + 2);
    if (p > 0)
        std::memcpy(frame + 3, prefix, size_t(p));
    if (b > 0)
        std::memcpy(frame + 3 + p, body, size_t(b));
    const int crcAt = 3 + p + b;
    const tdu2 crc = crc16(frame, tdu2(crcAt));
    frame[crcAt] = tdu1(crc & 0xFF);
    frame[crcAt + 1] = tdu1(crc >> 8);
    std::memcpy(t_transmit, frame, size_t(crcAt + 2));
    length = tdu1(crcAt + 2);
    return t_transmit;
}

tdu1 *ZoProtocolBase::makeSubMessage(
    tdu1 type, const tdu1 *partA, tdu1 lengthA, const tdu1 *partB, tdu1 &lengthB)
{
    const int a = partA ? lengthA : 0;
    const int b = partB ? lengthB : 0;
    if (a + b + 2 > 255) {
        lengthB = 0;
        return nullptr;
    }
    tdu1 sub[BufferSize];
    sub[0] = type;
    sub[1] = tdu1(a + b);
    if (a > 0)
        std::memcpy(sub + 2, partA, size_t(a));
    if (b > 0)
        std::memcpy(sub + 2 + a, partB, size_t(b));
    std::memcpy(t_scratch, sub, size_t(a + b + 2));
    lengthB = tdu1(a + b + 2);
    return t_scratch;
}

tdu1 *ZoProtocolBase::makeSubMessage(tdu1 type, const tdu1 *data, tdu1 &length)
{
    const int n = length;
    if (n + 2 > 255 || (n > 0 && !data)) {
        length = 0;
        return nullptr;
    }
    if (n > 0)
        std::memmove(t_scratch + 2, data, size_t(n));
    t_scratch[0] = type;
    t_scratch[1] = tdu1(n);
    length = tdu1(n + 2);
    return t_scratch;
}

tdu1 *ZoProtocolBase::currentSlotData()
{
    return m_cutter.currentSlot() + 5;
}

tdu1 *ZoProtocolBase::currentSlot()
{
    return m_cutter.currentSlot();
}

void ZoProtocolBase::markCurrentSlot(bool ok, tdu2 length)
{
    tdu1 *slot = m_cutter.currentSlot();
    if (length > 0 && length < 246)
        std::memset(slot + length, 0, size_t(246 - length));
    const tds8 now = QDateTime::currentMSecsSinceEpoch();
    std::memcpy(slot + 246, &now, sizeof now);
    slot[254] = ok ? 'O' : 0;
    slot[255] = ok ? 'K' : 0;
}

tdu1 *ZoProtocolBase::concat(const tdu1 *partA, int lengthA, const tdu1 *partB, tdu1 &lengthB)
{
    const int a = (partA && lengthA > 0) ? lengthA : 0;
    const int b = partB ? lengthB : 0;
    if (a + b > 255) {
        lengthB = 0;
        return nullptr;
    }
    tdu1 out[BufferSize];
    if (a > 0)
        std::memcpy(out, partA, size_t(a));
    if (b > 0)
        std::memcpy(out + a, partB, size_t(b));
    std::memcpy(t_scratch, out, size_t(a + b));
    lengthB = tdu1(a + b);
    return t_scratch;
}

bool ZoProtocolBase::isHeader(const tdu1 *bytes)
{
    return bytes && ZoLittleEndian::read16(bytes, 2, 0) == m_header;
}

bool ZoProtocolBase::checkCrc(const tdu1 *frame, tdu2 length)
{
    if (!frame || length < 4)
        return false;
    return crc16(frame, tdu2(length - 2)) == ZoLittleEndian::read16(frame, length, length - 2u);
}

tdu2 ZoProtocolBase::crc16(const tdu1 *data, tdu2 length)
{
    tdu2 crc = 0xFFFF;
    if (!data)
        return crc;
    const tdu1 *p = data;
    size_t n = length;
    const auto &t = kCrc.t;
    while (n >= 8) {
        const tdu1 b0 = tdu1((crc ^ p[0]) & 0xFF);
        const tdu1 b1 = tdu1(((crc >> 8) ^ p[1]) & 0xFF);
        crc = tdu2(t[7][b0] ^ t[6][b1] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]]
            ^ t[1][p[6]] ^ t[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = tdu2((crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF]);
    return crc;
}

bool ZoProtocolBase::feed(const tdu1 *data, int length)
{
    if (!m_cutter.append(data, length))
        return false;
    // parse() is the hook a codec may take over; the cutter does the work.
    if (m_cutter.cuttable())
        parse();
    return true;
}

bool ZoProtocolBase::parse()
{
    return m_cutter.cut();
}

tdu1 ZoProtocolBase::subMessageCountOf(const tdu1 *frame, tdu2 available)
{
    if (!frame || available < MinFrame || frame[2] < 2)
        return 0;
    int rest = std::min<int>(frame[2] - 2, available - MinFrame);
    const tdu1 *p = frame + 3;
    int size = p[1] + 2;
    int count = 1;
    if (rest < size)
        return 1;
    for (;;) {
        rest -= size;
        if (rest <= 2)
            break;
        p += size;
        ++count;
        size = p[1] + 2;
        if (rest < size)
            break;
    }
    return tdu1(count);
}

tdu1 *ZoProtocolBase::subMessageAtImpl(const tdu1 *frame, tdu1 index, tdu2 available)
{
    if (!frame || available < MinFrame || frame[2] < 2)
        return nullptr;
    int rest = std::min<int>(frame[2] - 2, available - MinFrame);
    const tdu1 *p = frame + 3;
    for (int i = 0; i < index; ++i) {
        const int size = p[1] + 2;
        if (rest < size)
            return nullptr;
        rest -= size;
        if (rest <= 2)
            return nullptr;
        p += size;
    }
    return const_cast<tdu1 *>(p);
}

const tdu1 *ZoProtocolBase::subMessageOf(
    const tdu1 *frame, tdu1 index, tdu1 &dataLength, tdu2 available)
{
    dataLength = 0;
    if (!frame || available < MinFrame || frame[2] < 2)
        return nullptr;
    int rest = std::min<int>(frame[2] - 2, available - MinFrame);
    const tdu1 *p = frame + 3;
    for (int i = 0; i < index; ++i) {
        const int size = p[1] + 2;
        if (rest - size <= 0)
            return nullptr;
        rest -= size;
        p += size;
    }
    // p[1] is inside the frame: with rest >= 1 it is a body byte or the first
    // CRC byte, with rest == 0 (empty body) the second CRC byte.
    const int present = std::max(0, rest - 2);
    dataLength = tdu1(std::min<int>(p[1], present));
    return p;
}
