// The flight-controller frame codec's receive path: any bytes in any chunking.
// The first input bytes choose the chunk sizes; every delivered frame is
// checked and walked in an exact-size copy.
#include "ZoFuzzChunks.h"
#include "ZoFcsProtocolBase.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Checker : IReceivePackage
{
    ZoFcsProtocolBase *codec = nullptr;
    void check(const tdu1 *frame, tdu2 length, bool good)
    {
        if (length < ZoProtocolBase::MinFrame || length > ZoProtocolBase::SlotSize)
            std::abort();
        if (frame[0] != 0xAB || frame[1] != 0x0E || frame[2] + 3 != length)
            std::abort();
        if (codec->checkCrc(frame, length) != good)
            std::abort();
        std::vector<tdu1> copy(frame, frame + length);
        const tdu1 count = ZoProtocolBase::subMessageCountOf(copy.data(), length);
        for (int i = 0; i < count; ++i) {
            tdu1 n = 0;
            const tdu1 *sub = ZoProtocolBase::subMessageOf(copy.data(), tdu1(i), n, length);
            if (!sub || sub + 2 + n > copy.data() + length)
                std::abort();
            tVersion v;
            codec->parseVersion(sub, v, tdu2(n + 2));
        }
        if (count != ZoProtocolBase::subMessageCountOf(frame))
            std::abort();
    }
    void onPackage(const tdu1 *frame, tdu2 length) override { check(frame, length, true); }
    void onBadPackage(const tdu1 *frame, tdu2 length) override { check(frame, length, false); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    ZoFcsProtocolBase codec;
    Checker checker;
    checker.codec = &codec;
    codec.setReceiver(&checker);
    const size_t seedBytes = size < 4 ? size : 4;
    tdu4 seed = 0;
    std::memcpy(&seed, data, seedBytes);
    data += seedBytes;
    size -= seedBytes;
    zoFuzzFeedInChunks(data, size, seed, [&codec](const tdu1 *bytes, int count) {
        codec.feed(bytes, count);
        if (codec.bufferedCount() < 0 || codec.bufferedCount() > ZoProtocolBase::MaxChunk)
            std::abort();
    });
    return 0;
}
