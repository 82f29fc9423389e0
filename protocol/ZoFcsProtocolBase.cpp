#include "ZoFcsProtocolBase.h"

#include "ZoLittleEndian.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<tdu4> s_sequence {0};

// The sub-message's data is [2, 2 + n); refuse one that claims more bytes
// than the caller can let us read.
inline bool fits(const tdu1 *sub, tdu2 available)
{
    return available >= 2 && int(sub[1]) + 2 <= int(available);
}

} // namespace

ZoFcsProtocolBase::ZoFcsProtocolBase()
{
    setHeader(FcsHeader);
}

ZoFcsProtocolBase::~ZoFcsProtocolBase() = default;

void ZoFcsProtocolBase::assign(const ZoProtocolBase &other)
{
    ZoProtocolBase::assign(other);
    if (const auto *fcs = dynamic_cast<const ZoFcsProtocolBase *>(&other))
        std::memcpy(m_sequenceArea, fcs->m_sequenceArea, sizeof m_sequenceArea);
}

bool ZoFcsProtocolBase::reserved26()
{
    return false;
}
bool ZoFcsProtocolBase::reserved27()
{
    return false;
}
bool ZoFcsProtocolBase::reserved28()
{
    return false;
}

tds4 ZoFcsProtocolBase::parseStatus(const tdu1 *sub, tdu1 type, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != type)
        return -1;
    if (sub[1] != 1 || !fits(sub, available))
        return -2;
    return sub[2];
}

bool ZoFcsProtocolBase::isKnownType(tdu1 type)
{
    switch (type) {
    case 0x01:
    case 0x02:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x44:
    case 0x48:
        return true;
    default:
        return false;
    }
}

bool ZoFcsProtocolBase::isClass1(tdu1 value)
{
    return value < 16 && (value & 3) == 1;
}
bool ZoFcsProtocolBase::isClass2(tdu1 value)
{
    return value < 16 && (value & 3) == 2;
}
bool ZoFcsProtocolBase::isClass3(tdu1 value)
{
    return value < 16 && (value & 3) == 3;
}

bool ZoFcsProtocolBase::isEventFrame()
{
    return currentSlot()[3] == 0xBB;
}

bool ZoFcsProtocolBase::isEventType(tdu1 type)
{
    return type == 0xBB;
}

tdu1 *ZoFcsProtocolBase::makeSequence(tdu1 value, tdu1 &length)
{
    tdu1 *out = scratchBuffer();
    out[0] = m_sequenceArea[0];
    out[1] = m_sequenceArea[1];
    out[2] = tdu1(s_sequence.fetch_add(1, std::memory_order_relaxed) & 0xFF);
    out[3] = value;
    length = 4;
    return out;
}

tdu4 ZoFcsProtocolBase::sequenceCounter()
{
    return s_sequence.load(std::memory_order_relaxed);
}

tdu1 *ZoFcsProtocolBase::fixedSubMessage(tdu1 type, tdu1 n, tdu1 first, tdu1 &length)
{
    tdu1 *out = scratchBuffer();
    out[0] = type;
    out[1] = n;
    if (n > 0) {
        std::memset(out + 2, 0, n);
        out[2] = first;
    }
    length = tdu1(n + 2);
    return out;
}

tdu1 *ZoFcsProtocolBase::makeEnterBootloader(tdu1 &length)
{
    return fixedSubMessage(0xE1, 8, 0, length);
}

tdu1 *ZoFcsProtocolBase::makeEnterBootloaderShort(tdu1 &length)
{
    return fixedSubMessage(0xE1, 0, 0, length);
}

tdu1 *ZoFcsProtocolBase::makeRequestD0(tdu1 &length)
{
    return fixedSubMessage(0xD0, 1, 0, length);
}

tds4 ZoFcsProtocolBase::parseOneByte(const tdu1 *sub, tdu1 type, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != type || sub[1] != 1)
        return -1;
    if (!fits(sub, available))
        return -2;
    return sub[2];
}

tds4 ZoFcsProtocolBase::parseStatusD0(const tdu1 *sub, tdu2 available)
{
    return parseOneByte(sub, 0xD0, available);
}

tdu1 *ZoFcsProtocolBase::makeRequestD1(tdu1 &length)
{
    return fixedSubMessage(0xD1, 1, 0, length);
}

tds4 ZoFcsProtocolBase::parseStatusD1(const tdu1 *sub, tdu2 available)
{
    return parseOneByte(sub, 0xD1, available);
}

tdu1 *ZoFcsProtocolBase::makeVersionRequest(tdu1 &length)
{
    return fixedSubMessage(0xE2, 1, 0, length);
}

tds4 ZoFcsProtocolBase::parseVersion(const tdu1 *sub, tVersion &version, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != 0xE2)
        return -1;
    if (!fits(sub, available))
        return -2;
    if (sub[1] == 4) {
        std::memcpy(&version, sub + 2, 4);
        return 0;
    }
    if (sub[1] == 1)
        return sub[2] ? tds4(sub[2]) : -2;
    return -1;
}

tdu1 *ZoFcsProtocolBase::makeCompileTimeRequest(tdu1 &length)
{
    return fixedSubMessage(0xE3, 1, 0, length);
}

tds4 ZoFcsProtocolBase::parseCompileTime(const tdu1 *sub, tFcsDateTime &time, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != 0xE3)
        return -1;
    if (!fits(sub, available))
        return -2;
    if (sub[1] == 7) {
        time.year = ZoLittleEndian::read16(sub, available, 2);
        time.month = sub[4];
        time.day = sub[5];
        time.hour = sub[6];
        time.minute = sub[7];
        time.second = sub[8];
        return 0;
    }
    if (sub[1] == 1)
        return sub[2] ? tds4(sub[2]) : -2;
    return -1;
}

tdu1 *ZoFcsProtocolBase::makeRequestEA(tdu1 a, tdu1 b, tdu1 &length)
{
    tdu1 *out = fixedSubMessage(0xEA, 2, a, length);
    out[3] = b;
    return out;
}

tds4 ZoFcsProtocolBase::parseText(
    const tdu1 *sub, tdu1 type, std::unique_ptr<tdu1[]> &text, tdu1 &length, tdu2 available)
{
    text.reset();
    length = 0;
    if (!sub || available < 2 || sub[0] != type)
        return -1;
    if (!fits(sub, available))
        return -2;
    const tdu1 n = sub[1];
    if (n == 1) {
        // A status, no text. A status of 0 must not read as "decoded": the
        // caller would then look for a text that is not there.
        length = 1;
        return sub[2] ? tds4(sub[2]) : -2;
    }
    text = std::make_unique<tdu1[]>(size_t(n) + 1);
    if (n > 0)
        std::memcpy(text.get(), sub + 2, n);
    text[n] = 0;
    length = n;
    return 0;
}

tds4 ZoFcsProtocolBase::parseTextEA(
    const tdu1 *sub, std::unique_ptr<tdu1[]> &text, tdu1 &length, tdu2 available)
{
    return parseText(sub, 0xEA, text, length, available);
}

tds4 ZoFcsProtocolBase::parseIdentity(
    const tdu1 *sub, std::unique_ptr<tdu1[]> &text, tdu1 &length, tdu2 available)
{
    return parseText(sub, 0xEB, text, length, available);
}

tdu1 *ZoFcsProtocolBase::makeCommand92(tdu1 code, const tdu1 *data, tdu1 &length)
{
    if (!data)
        return fixedSubMessage(0x92, 9, code, length);
    const tdu1 lead = code;
    return makeSubMessage(0x92, &lead, 1, data, length);
}

tds4 ZoFcsProtocolBase::parseStatus92(const tdu1 *sub, tdu2 available)
{
    return parseOneByte(sub, 0x92, available);
}

tdu1 *ZoFcsProtocolBase::makeFlagQuery(tdu1 a, tdu1 b, tdu1 &length)
{
    return fixedSubMessage(0x20, 10, tdu1(a * 16 + b), length);
}

tds4 ZoFcsProtocolBase::parseFlagQueryCount(const tdu1 *sub, tdu1 *flags10, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != 0x20)
        return -1;
    if (!fits(sub, available))
        return -2;
    if (sub[1] == 10) {
        if (flags10)
            std::memcpy(flags10, sub + 2, 10);
        tds4 set = 0;
        for (int i = 2; i < 10; ++i)
            set += sub[2 + i] ? 1 : 0;
        return set;
    }
    if (sub[1] == 1)
        return tds4(sub[2]) * 256;
    return -2;
}

tds4 ZoFcsProtocolBase::parseFlagQueryMask(const tdu1 *sub, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != 0x20)
        return -1;
    if (!fits(sub, available))
        return -2;
    if (sub[1] == 10) {
        tds4 mask = 0;
        for (int i = 0; i < 8; ++i)
            if (sub[4 + i])
                mask |= 1 << i;
        return mask;
    }
    if (sub[1] == 1)
        return sub[2];
    return -1;
}

tdu1 *ZoFcsProtocolBase::makeCommandCA(const tdu1 *data, tdu1 &length)
{
    return makeSubMessage(0xCA, data, length);
}

tdu1 *ZoFcsProtocolBase::makeCommandFE(const tdu1 *data, tdu1 &length)
{
    return makeSubMessage(0xFE, data, length);
}

tdu1 *ZoFcsProtocolBase::makeRequestE5(tdu1 &length)
{
    return fixedSubMessage(0xE5, 1, 0, length);
}

tds4 ZoFcsProtocolBase::parseE5(const tdu1 *sub, tdu1 *out16, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != 0xE5)
        return -1;
    if (sub[1] != 16 || !fits(sub, available))
        return -2;
    if (out16)
        std::memcpy(out16, sub + 2, 16);
    return 0;
}

tdu1 *ZoFcsProtocolBase::makeCommandE4(tdu1 value, tdu1 &length)
{
    return fixedSubMessage(0xE4, 16, value, length);
}

tds4 ZoFcsProtocolBase::parseE4(const tdu1 *sub, tdu1 &value, tdu2 available)
{
    const tds4 r = parseOneByte(sub, 0xE4, available);
    if (r < 0)
        return r;
    value = tdu1(r);
    return 0;
}

tdu1 *ZoFcsProtocolBase::makeCommandDA(tdu2 value, tdu1 &length)
{
    tdu1 *out = fixedSubMessage(0xDA, 2, tdu1(value & 0xFF), length);
    out[3] = tdu1(value >> 8);
    return out;
}

tds4 ZoFcsProtocolBase::parseDA(const tdu1 *sub, tdu1 &value, tdu2 available)
{
    const tds4 r = parseOneByte(sub, 0xDA, available);
    if (r < 0)
        return r;
    value = tdu1(r);
    return 0;
}

tds4 ZoFcsProtocolBase::parseCanReply(
    const tdu1 *sub, tdu2 &identifier, tdu1 *data, tdu2 &length, tdu2 available)
{
    length = 0;
    if (!sub || available < 2 || sub[0] != 0x5F)
        return -1;
    const tdu1 n = sub[1];
    if (n < 2 || !fits(sub, available))
        return -2;
    identifier = ZoLittleEndian::read16(sub, available, 2);
    if (data)
        std::memcpy(data, sub + 2, n);
    length = n;
    return 0;
}

tdu1 *ZoFcsProtocolBase::makeCanSend(const tdu1 *data, tdu1 &length)
{
    return makeSubMessage(0x5B, data, length);
}

tds4 ZoFcsProtocolBase::parse5E(const tdu1 *sub, tdu1 *out8, tdu2 available)
{
    if (!sub || available < 2 || sub[0] != 0x5E)
        return -1;
    if (sub[1] != 8 || !fits(sub, available))
        return -2;
    if (out8)
        std::memcpy(out8, sub + 2, 8);
    return 0;
}

tdu1 *ZoFcsProtocolBase::makeCommand5E(tdu1 value, tdu1 &length)
{
    return fixedSubMessage(0x5E, 1, value, length);
}

tdu1 *ZoFcsProtocolBase::makeCommand5D(const tdu1 *data, tdu1 &length)
{
    return makeSubMessage(0x5D, data, length);
}

tdu1 *ZoFcsProtocolBase::makeCommand5C(const tdu1 *data, tdu1 &length)
{
    return makeSubMessage(0x5C, data, length);
}

tdu1 *ZoFcsProtocolBase::makeBusSend(tdu1 selector, const tdu1 *data, tdu1 &length)
{
    if (length >= 249 || (length > 0 && !data)) {
        length = 0;
        return nullptr;
    }
    const tdu1 lead[2] = {0xA0, selector};
    return makeSubMessage(0x9B, lead, 2, data, length);
}

tdu1 *ZoFcsProtocolBase::makeIdentityRequest(tdu1 &length)
{
    return fixedSubMessage(0xEB, 2, 0, length);
}
