// Moves 11,520 bytes each way through the aircraft simulator's pty paced at
// 115200 baud (10 bits a byte, so 1.000 s) and prints how far off it was:
//   BENCH pty_pacing_error_pct <worst of both directions> pct
//   BENCH pty_pacing_out_s / pty_pacing_in_s <seconds> s
//   BENCH pty_exchange_ms, pty_exchange_error_pct: one stop-and-wait exchange
//         (136 bytes in, 9 back) against its 145 byte times

#include "ZoSimPtyLink.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kBytes = 11520;
constexpr int kBaud = 115200;

using Clock = std::chrono::steady_clock;

double outbound(ZoSimPtyLink &pty, int fd, const QByteArray &payload)
{
    Clock::time_point last {};
    int got = 0;
    const Clock::time_point start = Clock::now();
    std::thread reader([&] {
        char buf[4096];
        const auto end = start + std::chrono::seconds(5);
        while (got < kBytes && Clock::now() < end) {
            struct pollfd p
            {
                fd, POLLIN, 0
            };
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                got += int(n);
                last = Clock::now();
            }
        }
    });
    pty.write(payload);
    QElapsedTimer t;
    t.start();
    while (pty.pendingOut() > 0 && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    reader.join();
    return got == kBytes ? std::chrono::duration<double>(last - start).count() : -1.0;
}

double inbound(ZoSimPtyLink &pty, int fd, const QByteArray &payload)
{
    int got = 0;
    Clock::time_point last {};
    auto c = QObject::connect(&pty, &ZoSimPtyLink::received, [&](const QByteArray &b) {
        got += b.size();
        last = Clock::now();
    });
    const Clock::time_point start = Clock::now();
    std::thread writer([&] {
        int off = 0;
        while (off < payload.size() && Clock::now() < start + std::chrono::seconds(5)) {
            const ssize_t n = ::write(fd, payload.constData() + off, size_t(payload.size() - off));
            if (n > 0)
                off += int(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    QElapsedTimer t;
    t.start();
    while (got < kBytes && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    writer.join();
    QObject::disconnect(c);
    return got == kBytes ? std::chrono::duration<double>(last - start).count() : -1.0;
}

// Stop-and-wait exchanges, as a bootloader transfer makes them: 136 bytes
// in, 9 bytes back, the next 136 once those arrived. Returns the mean time
// of one exchange, which a real line takes 145 byte times for.
double exchanges(ZoSimPtyLink &pty, int fd, int count)
{
    int got = 0;
    auto c = QObject::connect(&pty, &ZoSimPtyLink::received, [&](const QByteArray &b) {
        got += b.size();
        if (got >= 136) {
            got -= 136;
            pty.write(QByteArray(9, '\x2A'));
        }
    });
    std::atomic<bool> done {false};
    double seconds = -1.0;
    std::thread peer([&] {
        const QByteArray frame(136, '\x55');
        char buf[256];
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = start + std::chrono::seconds(10);
        for (int i = 0; i < count && Clock::now() < end; ++i) {
            if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
                break;
            int back = 0;
            while (back < 9 && Clock::now() < end) {
                struct pollfd p
                {
                    fd, POLLIN, 0
                };
                if (::poll(&p, 1, 20) > 0) {
                    const ssize_t n = ::read(fd, buf, sizeof buf);
                    back += n > 0 ? int(n) : 0;
                }
            }
            if (i == count - 1 && back >= 9)
                seconds = std::chrono::duration<double>(Clock::now() - start).count() / count;
        }
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    peer.join();
    QObject::disconnect(c);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ttyBench"));
    ZoSimPtyLink pty;
    QString error;
    if (!pty.open(path, kBaud, &error)) {
        std::fprintf(stderr, "bench_pty_pacing: %s\n", qPrintable(error));
        return 1;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 1;
    struct termios tio;
    ::tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);

    const QByteArray payload(kBytes, '\x55');
    const double out = outbound(pty, fd, payload);
    const double in = inbound(pty, fd, payload);
    const double exchange = exchanges(pty, fd, 200);
    ::close(fd);
    if (out < 0 || in < 0 || exchange < 0) {
        std::fprintf(stderr, "bench_pty_pacing: bytes went missing\n");
        return 1;
    }
    const double ideal = double(kBytes) * 10.0 / kBaud;
    const double worst = std::max(std::fabs(out - ideal), std::fabs(in - ideal)) / ideal * 100.0;
    std::printf("BENCH pty_pacing_out_s %.4f s\n", out);
    std::printf("BENCH pty_pacing_in_s %.4f s\n", in);
    std::printf("BENCH pty_pacing_error_pct %.2f pct\n", worst);
    const double exchangeIdeal = 145 * 10.0 / kBaud;
    std::printf("BENCH pty_exchange_ms %.3f ms\n", exchange * 1000);
    std::printf("BENCH pty_exchange_error_pct %.2f pct\n",
        std::fabs(exchange - exchangeIdeal) / exchangeIdeal * 100.0);
    return 0;
}
