// Block round trip of a firmware transfer through the message looper.
//
// The looper runs on its UDP link to a peer thread on loopback that answers
// every framed data block with its acknowledgement at once. A driver on the
// main thread does per block what the upgrade workflow does: on
// sigGNCUpgradeProgAck it builds the next 128-byte framed data frame and
// hands it to sendCommand(), whose queued call writes it on the worker.
//
// Measured at the peer: from sending an acknowledgement to receiving the
// next block. The driver also notes when its slot runs and when the worker
// decoded the acknowledgement, which splits the round trip into: socket and
// worker decode, the queued hop to the main thread, and the outbound half
// (build, queued hop to the worker, write, peer wake-up). A plain two-hop
// ping-pong between two threads gives the floor of the queued hops alone.
//
//   bench_looper [blocks]        (default 24000)

#include "ZoFirmwareUpdateProtocol.h"
#include "ZoMsgLooper.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

tds8 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

constexpr int BlockSize = 128;
constexpr int ImageSize = 1 << 20; // block indices stay inside 16 bits
constexpr int Warmup = 500;

// The bootloader side: a plain blocking socket on its own thread.
class Peer
{
public:
    bool start()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0)
            return false;
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return false;
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        timeval tv {0, 200000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        worker = std::thread([this] { loop(); });
        return true;
    }

    void stop()
    {
        running = false;
        if (worker.joinable())
            worker.join();
        if (fd >= 0)
            ::close(fd);
    }

    tdu2 port = 0;
    std::atomic<tds8> lastAckNs {0};
    std::vector<tds8> rttNs;

private:
    void loop()
    {
        rttNs.reserve(70000);
        tdu1 buf[512];
        sockaddr_in from {};
        while (running) {
            socklen_t fl = sizeof from;
            const ssize_t n
                = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fl);
            const tds8 t = nowNs();
            if (n < 6 || buf[0] != 0xEB || buf[1] != 0x90)
                continue;
            tdu1 reply[9] = {0xEB, 0x90, 0, 0xFF, 0xFF, 0x81, 0, 0, 0};
            int replyLength = 0;
            if (buf[5] == '!') {
                reply[2] = 7;
                reply[6] = '!';
                replyLength = 7;
            } else if (buf[5] == '1' && n >= 8) {
                const tds8 sent = lastAckNs.load();
                if (sent != 0)
                    rttNs.push_back(t - sent);
                reply[2] = 9;
                reply[6] = '1';
                reply[7] = buf[6];
                reply[8] = buf[7];
                replyLength = 9;
            } else {
                continue;
            }
            lastAckNs = nowNs();
            ::sendto(fd, reply, size_t(replyLength), 0, reinterpret_cast<sockaddr *>(&from), fl);
        }
    }

    int fd = -1;
    std::atomic<bool> running {true};
    std::thread worker;
};

class Driver : public QObject
{
public:
    Driver(ZoMsgLooper *l, Peer *p, int blocks)
        : looper(l)
        , peer(p)
        , total(blocks)
        , image(ImageSize)
    {
        for (int i = 0; i < ImageSize; ++i)
            image[size_t(i)] = tdu1(i * 7 + 3);
        inboundNs.reserve(size_t(blocks));
        hopToMainNs.reserve(size_t(blocks));
        buildNs.reserve(size_t(blocks) + 1);
    }

    void begin()
    {
        looper->setProtocol(ZoMsgLooper::ModeCoreBootloader, 0);
        tdu1 header[48] = {};
        tdu1 out[64];
        upd.setKeyMode(0);
        const tdu2 n = upd.buildKeyFrame(out, header, true, 0, 0, false);
        looper->sendCommand(out, n);
        started = Clock::now();
    }

    void onErased() { sendNext(); }

    void onAck(tds4)
    {
        const tds8 t = nowNs();
        const tds8 sent = peer->lastAckNs.load();
        if (sent != 0)
            inboundNs.push_back(t - sent);
        const tds8 framed = frameOnWorkerNs.load();
        if (framed != 0)
            hopToMainNs.push_back(t - framed);
        if (++acked >= total) {
            finished = Clock::now();
            QCoreApplication::quit();
            return;
        }
        sendNext();
    }

    void sendNext()
    {
        const tds8 t0 = nowNs();
        upd.setKeyMode(0);
        const tdu2 n
            = upd.buildDataFrame(frame, image.data(), offset, BlockSize, true, 0, 0, false);
        offset = (offset + BlockSize) % ImageSize;
        looper->sendCommand(frame, n);
        buildNs.push_back(nowNs() - t0);
    }

    ZoMsgLooper *looper;
    // The driver's own builder, as each sending thread of the workflow has.
    ZoFirmwareUpdateProtocol upd;
    Peer *peer;
    int total;
    int acked = 0;
    tdu4 offset = 0;
    std::vector<tdu1> image;
    tdu1 frame[BlockSize + 8] = {};
    std::vector<tds8> inboundNs;
    std::vector<tds8> hopToMainNs;
    // Set on the worker thread when an acknowledgement was decoded.
    std::atomic<tds8> frameOnWorkerNs {0};
    std::vector<tds8> buildNs;
    Clock::time_point started;
    Clock::time_point finished;
};

double percentileUs(std::vector<tds8> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return double(v[i]) / 1000.0;
}

// The floor of the design without any socket: a queued call from the main
// thread to a worker thread's object and a queued call back, per round.
class Echo : public QObject
{
};

std::vector<tds8> twoHopFloor(int rounds)
{
    QThread thread;
    Echo far;
    far.moveToThread(&thread);
    thread.start();
    Echo near;
    std::vector<tds8> out;
    out.reserve(size_t(rounds));
    QEventLoop loop;
    int left = rounds;
    tds8 t0 = 0;
    std::function<void()> round = [&] {
        t0 = nowNs();
        QMetaObject::invokeMethod(&far, [&] {
            QMetaObject::invokeMethod(&near, [&] {
                out.push_back(nowNs() - t0);
                if (--left > 0)
                    round();
                else
                    loop.quit();
            });
        });
    };
    round();
    loop.exec();
    thread.quit();
    thread.wait();
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The per-frame debug lines would dominate the measurement.
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false"));
    const int blocks = argc > 1 ? std::max(1000, atoi(argv[1])) : 24000;

    Peer peer;
    if (!peer.start()) {
        std::fprintf(stderr, "bench_looper: cannot bind the peer socket on loopback\n");
        return 1;
    }
    ZoMsgLooper looper;
    looper.startLooper();
    while (!looper.isReady())
        QThread::msleep(1);

    Driver driver(&looper, &peer, blocks + Warmup);
    // No context object: runs on the worker thread when the acknowledgement
    // has been decoded, just before the queued call to the driver is posted
    // (connected first, so it runs first).
    QObject::connect(&looper, &ZoMsgLooper::sigGNCUpgradeProgAck,
        [&driver](tds4) { driver.frameOnWorkerNs = nowNs(); });
    QObject::connect(
        &looper, &ZoMsgLooper::sigGNCUpgEraseFlashAck, &driver, [&driver] { driver.onErased(); });
    QObject::connect(&looper, &ZoMsgLooper::sigGNCUpgradeProgAck, &driver,
        [&driver](tds4 n) { driver.onAck(n); });
    bool opened = false;
    QObject::connect(&looper, &ZoMsgLooper::openPlaneComm, &driver, [&](int, bool ok) {
        opened = ok;
        // The open slot resets protocolMode after reporting; the workflow
        // switches modes long after that, so start a moment later too.
        if (ok)
            QTimer::singleShot(100, &driver, [&driver] { driver.begin(); });
        else
            QCoreApplication::exit(1);
    });
    const tds4 peerPort = peer.port;
    QMetaObject::invokeMethod(&looper,
        [&looper, peerPort] { looper.onOpenPlaneUdp(QStringLiteral("127.0.0.1"), peerPort, 0); });
    QTimer::singleShot(120000, &app, [] { QCoreApplication::exit(2); });
    const int rc = app.exec();

    QMetaObject::invokeMethod(&looper, [&looper] { looper.onTerminateLooper(); });
    looper.wait(3000);
    peer.stop();
    if (rc != 0 || !opened) {
        std::fprintf(stderr,
            "bench_looper: run did not complete (code %d, %d blocks acknowledged)\n", rc,
            driver.acked);
        return 1;
    }

    std::vector<tds8> rtt(
        peer.rttNs.begin() + std::min<long>(Warmup, long(peer.rttNs.size())), peer.rttNs.end());
    std::vector<tds8> inbound(
        driver.inboundNs.begin() + std::min<long>(Warmup, long(driver.inboundNs.size())),
        driver.inboundNs.end());
    const double seconds = std::chrono::duration<double>(driver.finished - driver.started).count();
    std::printf("BENCH looper_block_rtt_p50_us %.1f us\n", percentileUs(rtt, 0.50));
    std::printf("BENCH looper_block_rtt_p99_us %.1f us\n", percentileUs(rtt, 0.99));
    std::printf("BENCH looper_blocks_per_s %.0f blocks/s\n", double(driver.acked) / seconds);
    std::printf("BENCH looper_ack_to_driver_p50_us %.1f us\n", percentileUs(inbound, 0.50));
    std::printf("BENCH looper_ack_to_driver_p99_us %.1f us\n", percentileUs(inbound, 0.99));
    std::vector<tds8> hop(
        driver.hopToMainNs.begin() + std::min<long>(Warmup, long(driver.hopToMainNs.size())),
        driver.hopToMainNs.end());
    std::printf("BENCH looper_decoded_to_driver_p50_us %.1f us\n", percentileUs(hop, 0.50));
    std::printf("BENCH looper_driver_build_p50_us %.1f us\n", percentileUs(driver.buildNs, 0.50));
    const std::vector<tds8> floor = twoHopFloor(20000);
    std::printf("BENCH looper_floor_two_queued_hops_p50_us %.1f us\n", percentileUs(floor, 0.50));
    std::printf("BENCH looper_floor_two_queued_hops_p99_us %.1f us\n", percentileUs(floor, 0.99));
    std::printf("BENCH looper_blocks_measured %zu blocks\n", rtt.size());
    return 0;
}
