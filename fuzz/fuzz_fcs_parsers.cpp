// Sub-message walkers and every parser of the command set, on a frame held
// in a buffer of exactly the input's size, so any read past it is reported.
#include "ZoFcsProtocolBase.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void parseAll(ZoFcsProtocolBase &codec, const tdu1 *sub, tdu2 available)
{
    tVersion v;
    tFcsDateTime t;
    std::unique_ptr<tdu1[]> text;
    tdu1 textLength = 0;
    tdu1 buf[255];
    tdu2 id = 0;
    tdu2 len = 0;
    tdu1 one = 0;
    codec.parseStatus(sub, sub[0], available);
    codec.parseStatusD0(sub, available);
    codec.parseStatusD1(sub, available);
    codec.parseVersion(sub, v, available);
    codec.parseCompileTime(sub, t, available);
    if (codec.parseTextEA(sub, text, textLength, available) == 0 && text[textLength] != 0)
        std::abort();
    if (codec.parseIdentity(sub, text, textLength, available) == 0 && text[textLength] != 0)
        std::abort();
    codec.parseStatus92(sub, available);
    codec.parseFlagQueryCount(sub, buf, available);
    codec.parseFlagQueryMask(sub, available);
    codec.parseE5(sub, buf, available);
    codec.parseE4(sub, one, available);
    codec.parseDA(sub, one, available);
    if (codec.parseCanReply(sub, id, buf, len, available) == 0 && len + 2 > available)
        std::abort();
    codec.parse5E(sub, buf, available);
    codec.isType(sub, 0xE2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 1024)
        return 0;
    std::vector<tdu1> exact(data, data + size);
    const tdu1 *frame = exact.data();
    const tdu2 available = tdu2(size);
    ZoFcsProtocolBase codec;

    // The input as a frame somebody holds.
    const tdu1 count = ZoProtocolBase::subMessageCountOf(frame, available);
    for (int i = 0; i <= count; ++i) {
        tdu1 dataLength = 0;
        const tdu1 *sub = ZoProtocolBase::subMessageOf(frame, tdu1(i), dataLength, available);
        if (!sub) {
            if (i < count)
                std::abort(); // every counted sub-message can be indexed
            break;
        }
        if (sub + 2 + dataLength > frame + size)
            std::abort();
        parseAll(codec, sub, tdu2(dataLength + 2));
    }

    // The input as one sub-message.
    if (size >= 2)
        parseAll(codec, frame, available);

    // Builders with lengths taken from the input never write past their
    // buffers and hand back what they promise.
    const tdu1 want = tdu1(data[0] < size ? data[0] : size > 255 ? 255 : size);
    tdu1 n = want;
    if (tdu1 *p = codec.makeSubMessage(0x5B, frame, n); p && n != want + 2)
        std::abort();
    n = tdu1(size > 255 ? 255 : size);
    const tdu1 a = size > 1 ? data[1] : 0;
    if (a <= size)
        codec.concat(frame, a, frame, n);
    n = tdu1(size > 255 ? 255 : size);
    if (const tdu1 *f
        = codec.buildFrame(frame, tdu1(size > 1 ? data[1] % (size + 1) : 0), frame, n)) {
        if (!codec.checkCrc(f, n) || codec.frameLength(true) != n)
            std::abort();
    }
    n = tdu1(size > 255 ? 255 : size);
    codec.makeBusSend(0xFC, frame, n);
    return 0;
}
