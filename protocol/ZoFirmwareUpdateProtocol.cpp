#include "ZoFirmwareUpdateProtocol.h"

#include "ZoLittleEndian.h"
#include "ZoProtocolBase.h"

#include <QUuid>
#include <cstring>

namespace {

constexpr tdu1 Sync0 = 0xEB;
constexpr tdu1 Sync1 = 0x90;

void writeShortCommand(tdu1 *out, tdu1 command)
{
    out[0] = Sync0;
    out[1] = Sync1;
    out[2] = 6;
    out[3] = 0xFF;
    out[4] = 0xFF;
    out[5] = command;
}

} // namespace

ZoFirmwareUpdateProtocol::ZoFirmwareUpdateProtocol()
    : m_cutter(Sync0, Sync1, 0, MinFrame)
{
}

ZoFirmwareUpdateProtocol::~ZoFirmwareUpdateProtocol() = default;

void ZoFirmwareUpdateProtocol::setReceiver(IReceivePackage *receiver)
{
    m_cutter.setReceiver(receiver);
}

void ZoFirmwareUpdateProtocol::setKeyMode(tdu1 mode)
{
    m_keyMode = mode != 0;
}

void ZoFirmwareUpdateProtocol::makeSessionKey(tdu1 *key16)
{
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    std::memcpy(m_sessionKey, bytes.constData(), KeyBytes);
    if (key16)
        std::memcpy(key16, m_sessionKey, KeyBytes);
    m_cipher.setKey(m_sessionKey);
}

tdu2 ZoFirmwareUpdateProtocol::buildKeyFrame(
    tdu1 *out, tdu1 *header48, bool framed, tdu1 deviceType, tdu1 deviceIndex, bool addressed)
{
    if (!out || !header48)
        return 0;
    makeSessionKey(header48);
    m_cipher.encrypt(header48 + KeyBytes, HeaderBytes - KeyBytes);
    int lead;
    if (framed) {
        const tdu2 crc = crc16(header48, HeaderBytes);
        out[0] = Sync0;
        out[1] = Sync1;
        out[2] = 6 + HeaderBytes;
        out[3] = tdu1(crc & 0xFF);
        out[4] = tdu1(crc >> 8);
        out[5] = m_keyMode ? '#' : '!';
        lead = 6;
    } else if (addressed) {
        out[0] = deviceType;
        out[1] = deviceIndex;
        out[2] = '!';
        out[3] = HeaderBytes;
        lead = 4;
    } else {
        out[0] = '!';
        lead = 1;
    }
    std::memcpy(out + lead, header48, HeaderBytes);
    return tdu2(lead + HeaderBytes);
}

tdu2 ZoFirmwareUpdateProtocol::buildDataFrame(tdu1 *out, const tdu1 *image, tdu4 offset, tdu2 n,
    bool framed, tdu1 deviceType, tdu1 deviceIndex, bool addressed)
{
    if (!out || !image || n > MaxBlock)
        return 0;
    const tdu2 block = tdu2(offset / 32);
    int lead;
    if (framed) {
        out[0] = Sync0;
        out[1] = Sync1;
        out[2] = tdu1(n + 8);
        out[5] = m_keyMode ? '2' : '1';
        lead = 6;
    } else if (addressed) {
        out[0] = deviceType;
        out[1] = deviceIndex;
        out[2] = '1';
        out[3] = tdu1(n + 2);
        lead = 4;
    } else {
        out[0] = '1';
        lead = 1;
    }
    out[lead] = tdu1(block & 0xFF);
    out[lead + 1] = tdu1(block >> 8);
    // Encrypt in a padded copy: the caller's frame buffer only has to hold
    // the frame, not a rounded-up block tail.
    tdu1 data[256] = {};
    std::memcpy(data, image + offset, n);
    m_cipher.encrypt(data, (n + 15) & ~15);
    std::memcpy(out + lead + 2, data, n);
    if (framed) {
        const tdu2 crc = crc16(out + 6, n + 2);
        out[3] = tdu1(crc & 0xFF);
        out[4] = tdu1(crc >> 8);
        return tdu2(tdu1(n + 8));
    }
    return tdu2(lead + 2 + n);
}

void ZoFirmwareUpdateProtocol::buildReadParameters(
    tdu1 *out, tdu1 &command, tdu1 &length, bool enable)
{
    if (!enable || !out)
        return;
    writeShortCommand(out, 0x22);
    command = 0x22;
    length = 6;
}

void ZoFirmwareUpdateProtocol::buildLeaveBootloader(tdu1 *out, tdu1 &length, bool enable)
{
    if (!enable || !out)
        return;
    writeShortCommand(out, 0x50);
    length = 6;
}

tdu2 ZoFirmwareUpdateProtocol::parseAck(const tdu1 *frame, bool enable, tdu2 length)
{
    if (!enable || !frame || length < 9)
        return 0;
    if (frame[5] != 0x81 || (frame[6] != '1' && frame[6] != '2'))
        return 0;
    return ZoLittleEndian::read16(frame, length, 7);
}

tdu2 ZoFirmwareUpdateProtocol::crc16(const tdu1 *data, int length)
{
    if (length < 1)
        return 0xFFFF;
    return ZoProtocolBase::crc16(data, tdu2(length > 0xFFFF ? 0xFFFF : length));
}

bool ZoFirmwareUpdateProtocol::feed(const tdu1 *data, int length)
{
    return m_cutter.feed(data, length);
}
