#pragma once

#include "ZoProtocolBase.h"

#include <memory>

// Command set of the flight controller's application firmware, on frames
// with the header 0xAB 0x0E. Builders put one sub-message [type, n, data]
// into the calling thread's scratch buffer and return it with its length
// (copy it at once); parsers take a received sub-message and return
//   -1 not this sub-message (or a length that fits no form),
//   -2 bad length or a status of 0,
//   >0 the status code of a one-byte reply,
//    0 decoded into the output arguments.
//
// Every parser takes `available`: how many bytes may be read from the
// sub-message's first byte. A sub-message whose length byte claims more than
// that is refused with -2 instead of being read past the end of its frame.
// ZoProtocolBase::subMessageOf reports the data length that is really there;
// pass that + 2.
class ZoFcsProtocolBase : public ZoProtocolBase
{
public:
    static constexpr tdu2 FcsHeader = 0x0EAB;

    ZoFcsProtocolBase();
    ~ZoFcsProtocolBase() override;

    // Also copies the sequence area.
    void assign(const ZoProtocolBase &other) override;

    virtual bool reserved26();
    virtual bool reserved27();
    virtual bool reserved28();
    // [type, 1, code] gives code.
    virtual tds4 parseStatus(const tdu1 *sub, tdu1 type, tdu2 available = 0xFFFF);
    virtual bool isKnownType(tdu1 type);
    virtual bool isClass1(tdu1 value);
    virtual bool isClass2(tdu1 value);
    virtual bool isClass3(tdu1 value);
    // The first sub-message of the current ring slot is of type 0xBB.
    virtual bool isEventFrame();
    virtual bool isEventType(tdu1 type);
    // [0x10, 0x02, counter, value]; the process-wide counter's low byte is
    // used, then the counter is incremented.
    virtual tdu1 *makeSequence(tdu1 value, tdu1 &length);
    // [0xE1, 8, eight zeros]
    virtual tdu1 *makeEnterBootloader(tdu1 &length);
    // [0xE1, 0], for the device with type code 76 ('L')
    virtual tdu1 *makeEnterBootloaderShort(tdu1 &length);
    virtual tdu1 *makeRequestD0(tdu1 &length);
    virtual tds4 parseStatusD0(const tdu1 *sub, tdu2 available = 0xFFFF);
    virtual tdu1 *makeRequestD1(tdu1 &length);
    virtual tds4 parseStatusD1(const tdu1 *sub, tdu2 available = 0xFFFF);
    // [0xE2, 1, 0]
    virtual tdu1 *makeVersionRequest(tdu1 &length);
    virtual tds4 parseVersion(const tdu1 *sub, tVersion &version, tdu2 available = 0xFFFF);
    // [0xE3, 1, 0]
    virtual tdu1 *makeCompileTimeRequest(tdu1 &length);
    virtual tds4 parseCompileTime(const tdu1 *sub, tFcsDateTime &time, tdu2 available = 0xFFFF);
    virtual tdu1 *makeRequestEA(tdu1 a, tdu1 b, tdu1 &length);
    // One data byte: a status; returns it (-2 for 0), text stays null, length
    // 1. Otherwise text holds the n data bytes and a terminating zero, length
    // n, result 0; so a result of 0 always comes with a text.
    virtual tds4 parseTextEA(
        const tdu1 *sub, std::unique_ptr<tdu1[]> &text, tdu1 &length, tdu2 available = 0xFFFF);
    // The hardware identity (0xEB), same rule as parseTextEA.
    virtual tds4 parseIdentity(
        const tdu1 *sub, std::unique_ptr<tdu1[]> &text, tdu1 &length, tdu2 available = 0xFFFF);
    // With data: [0x92, n + 1, code, data]; without: [0x92, 9, code, 8 zeros].
    virtual tdu1 *makeCommand92(tdu1 code, const tdu1 *data, tdu1 &length);
    virtual tds4 parseStatus92(const tdu1 *sub, tdu2 available = 0xFFFF);
    // [0x20, 10, a * 16 + b, nine zeros]
    virtual tdu1 *makeFlagQuery(tdu1 a, tdu1 b, tdu1 &length);
    virtual tds4 parseFlagQueryCount(const tdu1 *sub, tdu1 *flags10, tdu2 available = 0xFFFF);
    virtual tds4 parseFlagQueryMask(const tdu1 *sub, tdu2 available = 0xFFFF);
    virtual tdu1 *makeCommandCA(const tdu1 *data, tdu1 &length);
    virtual tdu1 *makeCommandFE(const tdu1 *data, tdu1 &length);
    virtual tdu1 *makeRequestE5(tdu1 &length);
    virtual tds4 parseE5(const tdu1 *sub, tdu1 *out16, tdu2 available = 0xFFFF);
    virtual tdu1 *makeCommandE4(tdu1 value, tdu1 &length);
    virtual tds4 parseE4(const tdu1 *sub, tdu1 &value, tdu2 available = 0xFFFF);
    virtual tdu1 *makeCommandDA(tdu2 value, tdu1 &length);
    virtual tds4 parseDA(const tdu1 *sub, tdu1 &value, tdu2 available = 0xFFFF);
    // 0x5F: identifier = data bytes 0-1; all n data bytes (identifier too)
    // are copied to `data`, which must hold 255 bytes; length = n.
    virtual tds4 parseCanReply(
        const tdu1 *sub, tdu2 &identifier, tdu1 *data, tdu2 &length, tdu2 available = 0xFFFF);
    // [0x5B, n, data]: identifier word (u16 LE) and CAN payload.
    virtual tdu1 *makeCanSend(const tdu1 *data, tdu1 &length);
    virtual tds4 parse5E(const tdu1 *sub, tdu1 *out8, tdu2 available = 0xFFFF);
    virtual tdu1 *makeCommand5E(tdu1 value, tdu1 &length);
    virtual tdu1 *makeCommand5D(const tdu1 *data, tdu1 &length);
    virtual tdu1 *makeCommand5C(const tdu1 *data, tdu1 &length);
    // [0x9B, n + 2, 0xA0, selector, data]; null (length 0) when n >= 249.
    virtual tdu1 *makeBusSend(tdu1 selector, const tdu1 *data, tdu1 &length);

    // [0xEB, 2, 0, 0]
    tdu1 *makeIdentityRequest(tdu1 &length);

    // The process-wide counter behind makeSequence.
    static tdu4 sequenceCounter();

private:
    tds4 parseOneByte(const tdu1 *sub, tdu1 type, tdu2 available);
    tds4 parseText(
        const tdu1 *sub, tdu1 type, std::unique_ptr<tdu1[]> &text, tdu1 &length, tdu2 available);
    tdu1 *fixedSubMessage(tdu1 type, tdu1 n, tdu1 first, tdu1 &length);

    tdu1 m_sequenceArea[5] = {0x10, 0x02, 0, 0, 0};
};
