// Throughput of the device-protocol hot paths: the frame codec's receive side
// against plain memcpy of the same chunks, heap allocations per received
// frame, AES-128 and the building of encrypted transfer frames.
#include "AESCrypt.h"
#include "ZoFcsProtocolBase.h"
#include "ZoFirmwareUpdateProtocol.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

namespace {
std::atomic<long> g_allocations {0};
}

void *operator new(std::size_t n)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n)
{
    return operator new(n);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

struct Counter : IReceivePackage
{
    long good = 0;
    long bad = 0;
    unsigned sum = 0;
    void onPackage(const tdu1 *frame, tdu2 length) override
    {
        ++good;
        sum += frame[length - 1];
    }
    void onBadPackage(const tdu1 *, tdu2) override { ++bad; }
};

// Keeps the optimiser from dropping work whose result nobody reads.
volatile unsigned g_sink = 0;

void report(const char *name, double value, const char *unit, int decimals = 1)
{
    std::printf("BENCH %s %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

} // namespace

int main()
{
    std::mt19937 rng(20240611);

    // A stream of valid application frames: sequence, one command of random
    // size, as the flight controller sends them.
    ZoFcsProtocolBase builder;
    std::vector<tdu1> stream;
    long frames = 0;
    const size_t target = 32u << 20;
    stream.reserve(target + 512);
    tdu1 body[250];
    while (stream.size() < target) {
        const int n = int(rng() % 240);
        for (int i = 0; i < n; ++i)
            body[i] = tdu1(rng());
        body[0] = 0x10;
        body[1] = 0x02;
        tdu1 len = tdu1(n);
        const tdu1 *f = builder.buildFrame(nullptr, 0, body, len);
        stream.insert(stream.end(), f, f + len);
        ++frames;
    }
    std::vector<int> chunks;
    for (size_t at = 0; at < stream.size();) {
        const int c = int(std::min<size_t>(1 + rng() % 256, stream.size() - at));
        chunks.push_back(c);
        at += size_t(c);
    }

    double bestCodec = 0;
    double bestMemcpy = 0;
    long allocs = 0;
    std::vector<tdu1> sink(stream.size());
    for (int round = 0; round < 5; ++round) {
        ZoFcsProtocolBase codec;
        Counter counter;
        codec.setReceiver(&counter);
        const long before = g_allocations.load();
        auto t0 = Clock::now();
        const tdu1 *p = stream.data();
        for (int c : chunks) {
            codec.feed(p, c);
            p += c;
        }
        auto t1 = Clock::now();
        allocs = g_allocations.load() - before;
        if (counter.good != frames || counter.bad != 0) {
            std::fprintf(stderr, "codec delivered %ld good, %ld bad of %ld frames\n", counter.good,
                counter.bad, frames);
            return 1;
        }
        g_sink = g_sink + counter.sum;
        bestCodec = std::max(bestCodec, double(stream.size()) / seconds(t0, t1) / 1e6);

        auto m0 = Clock::now();
        p = stream.data();
        tdu1 *q = sink.data();
        for (int c : chunks) {
            std::memcpy(q, p, size_t(c));
            p += c;
            q += c;
        }
        auto m1 = Clock::now();
        if (std::memcmp(sink.data(), stream.data(), 64) != 0)
            return 1;
        bestMemcpy = std::max(bestMemcpy, double(stream.size()) / seconds(m0, m1) / 1e6);
    }
    report("codec_rx_mbps", bestCodec, "MB/s");
    report("memcpy_mbps", bestMemcpy, "MB/s");
    report("codec_rx_allocs_per_frame", double(allocs) / double(frames), "allocs/frame", 3);

    // AES-128 ECB over a 1 MiB buffer.
    {
        std::vector<tdu1> buf(1u << 20);
        for (auto &b : buf)
            b = tdu1(rng());
        AESCrypt crypt;
        tdu1 key[16];
        for (auto &k : key)
            k = tdu1(rng());
        crypt.setKey(key);
        double best = 0;
        for (int round = 0; round < 5; ++round) {
            auto t0 = Clock::now();
            for (int i = 0; i < 16; ++i)
                crypt.encrypt(buf.data(), int(buf.size()));
            auto t1 = Clock::now();
            best = std::max(best, 16.0 * double(buf.size()) / seconds(t0, t1) / 1e6);
        }
        g_sink = g_sink + buf[12345];
        report("aes_encrypt_mbps", best, "MB/s");
    }

    // 128-byte framed data frames: copy from the image, encrypt, CRC.
    {
        ZoFirmwareUpdateProtocol proto;
        std::vector<tdu1> image(1u << 20);
        for (auto &b : image)
            b = tdu1(rng());
        tdu1 header[48] = {};
        tdu1 out[256];
        proto.buildKeyFrame(out, header, true, 0, 0, false);
        double best = 0;
        unsigned check = 0;
        for (int round = 0; round < 5; ++round) {
            const int count = 200000;
            auto t0 = Clock::now();
            tdu4 offset = 0;
            for (int i = 0; i < count; ++i) {
                check += proto.buildDataFrame(out, image.data(), offset, 128, true, 0, 0, false);
                check += out[100];
                offset = (offset + 128) % tdu4(image.size());
            }
            auto t1 = Clock::now();
            best = std::max(best, count / seconds(t0, t1));
        }
        g_sink = g_sink + check;
        report("data_frames_per_s", best, "frames/s");
    }
    return 0;
}
