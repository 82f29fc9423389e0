// The bootloader transfer protocol's receive path and reply parser.
#include "ZoFuzzChunks.h"
#include "ZoFirmwareUpdateProtocol.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Checker : IReceivePackage
{
    ZoFirmwareUpdateProtocol *proto = nullptr;
    void onPackage(const tdu1 *frame, tdu2 length) override
    {
        if (length < ZoFirmwareUpdateProtocol::MinFrame || length > 255)
            std::abort();
        if (frame[0] != 0xEB || frame[1] != 0x90 || frame[2] != length)
            std::abort();
        std::vector<tdu1> copy(frame, frame + length);
        proto->parseAck(copy.data(), true, length);
    }
    void onBadPackage(const tdu1 *, tdu2) override { std::abort(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    ZoFirmwareUpdateProtocol proto;
    Checker checker;
    checker.proto = &proto;
    proto.setReceiver(&checker);
    tdu4 seed = data[0];
    ++data;
    --size;
    zoFuzzFeedInChunks(data, size, seed, [&proto](const tdu1 *bytes, int count) {
        proto.feed(bytes, count);
        if (proto.bufferedCount() < 0
            || proto.bufferedCount() > ZoFirmwareUpdateProtocol::MaxChunk)
            std::abort();
    });
    return 0;
}
