// Drives the message looper's receive path: bytes reach it through its link
// listener on its own thread, exactly as a link would hand them over, in the
// application and both bootloader modes and with every module variant.
//
// Input: [mode/variant] [flags] data...
//   byte 0: bits 0-1 protocolMode (0-3), bits 2-4 moduleVariant (0-7)
//   byte 1: bit 0 wrap data into well-formed frames (valid header, length
//           and CRC, so the decoders behind the codecs are reached),
//           bits 1-2 which listener operation, bits 3-7 chunk size - 1 (x8)

#include "ZoMsgLooper.h"
#include "ZoProtocolBase.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

ZoMsgLooper *g_looper = nullptr;

// Body cut into frames of at most 250 bytes: [AB 0E len] body CRC, or
// [EB 90 len crc crc] + from byte 5 on (at least the marker byte).
void wrap(bool bootloader, const uint8_t *data, size_t size, std::vector<tdu1> &out)
{
    while (size > 0) {
        const size_t n = size > 250 ? 250 : size;
        const size_t at = out.size();
        if (bootloader)
            out.insert(out.end(), {0xEB, 0x90, tdu1(n + 5), 0xFF, 0xFF});
        else
            out.insert(out.end(), {0xAB, 0x0E, tdu1(n + 2)});
        out.insert(out.end(), data, data + n);
        if (!bootloader) {
            const tdu2 crc = ZoProtocolBase::crc16(out.data() + at, tdu2(n + 3));
            out.insert(out.end(), {tdu1(crc & 0xFF), tdu1(crc >> 8)});
        }
        data += n;
        size -= n;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*=false"));
    g_looper = new ZoMsgLooper();
    g_looper->startLooper();
    while (!g_looper->isReady())
        QThread::msleep(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const tds4 mode = data[0] & 0x03;
    const tdu1 variant = tdu1((data[0] >> 2) & 0x07);
    const tdu1 flags = data[1];
    data += 2;
    size -= 2;

    std::vector<tdu1> stream;
    if (flags & 0x01)
        wrap(mode >= 2, data, size, stream);
    else
        stream.assign(data, data + size);
    void (ZoMsgLooper::*const listener)(const tdu1 *, tds4) = ((flags >> 1) & 0x03) == 0
        ? &ZoMsgLooper::onUdpData
        : ((flags >> 1) & 0x03) == 1 ? &ZoMsgLooper::onTcpData
                                     : &ZoMsgLooper::onSerialData;
    const size_t chunk = size_t(((flags >> 3) + 1) * 8);

    ZoMsgLooper *looper = g_looper;
    QMetaObject::invokeMethod(
        looper,
        [looper, &stream, listener, chunk, mode, variant] {
            looper->setProtocol(mode, variant);
            for (size_t at = 0; at < stream.size(); at += chunk) {
                const size_t n = std::min(chunk, stream.size() - at);
                // Each listener gets its own copy so ASan sees reads past it.
                std::vector<tdu1> piece(stream.begin() + long(at), stream.begin() + long(at + n));
                (looper->*listener)(piece.data(), tds4(n));
            }
        },
        Qt::BlockingQueuedConnection);
    return 0;
}
