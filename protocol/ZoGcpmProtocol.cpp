#include "ZoGcpmProtocol.h"

#include "ZoLittleEndian.h"

#include <QtGlobal>

#include <array>
#include <cstring>

namespace {
constexpr std::array<tdu2, 256> makeXmodemTable()
{
    std::array<tdu2, 256> table {};
    for (int i = 0; i < 256; ++i) {
        tdu2 crc = tdu2(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? tdu2((crc << 1) ^ 0x1021) : tdu2(crc << 1);
        table[size_t(i)] = crc;
    }
    return table;
}
constexpr std::array<tdu2, 256> kXmodemTable = makeXmodemTable();
} // namespace

ZoGcpmTarget ZoGcpmTarget::fromEnvironment()
{
    ZoGcpmTarget target;
    const QString host = qEnvironmentVariable("TOLVANE_GCPM_HOST");
    if (!host.isEmpty())
        target.address = host;
    bool ok = false;
    const uint port = qEnvironmentVariable("TOLVANE_GCPM_PORT").toUInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        target.port = tdu2(port);
    return target;
}

ZoGcpmProtocol::ZoGcpmProtocol() = default;
ZoGcpmProtocol::~ZoGcpmProtocol() = default;

tdu2 ZoGcpmProtocol::crc16(const tdu1 *data, int length)
{
    tdu2 crc = 0;
    if (!data)
        return crc;
    for (int i = 0; i < length; ++i)
        crc = tdu2((crc << 8) ^ kXmodemTable[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

tdu1 *ZoGcpmProtocol::makePoll01(tdu1 &length)
{
    return makeCommand(CmdPoll01, length);
}

tdu1 *ZoGcpmProtocol::makeAnnounce(const tdu1 *args, tdu1 &length)
{
    if (!args || length != AnnounceArgs)
        return nullptr;
    return makeCommand(CmdAnnounce, args, length);
}

tdu1 *ZoGcpmProtocol::makePoll(tdu1 &length)
{
    return makeCommand(CmdPoll, length);
}

tdu1 *ZoGcpmProtocol::makePoll06(tdu1 &length)
{
    return makeCommand(CmdPoll06, length);
}

tdu1 *ZoGcpmProtocol::buildFrame(const tdu1 *data, tdu2 &length)
{
    // The length byte holds data length + 2 and the frame adds five bytes.
    if (!data || length == 0 || length > BufferSize - 5) {
        length = 0;
        return nullptr;
    }
    const tdu2 n = length;
    m_frame[0] = tdu1(m_header & 0xFF);
    m_frame[1] = tdu1(m_header >> 8);
    m_frame[2] = tdu1(n + 2);
    std::memmove(m_frame + 3, data, n);
    const tdu2 crc = crc16(m_frame, n + 3);
    m_frame[3 + n] = tdu1(crc & 0xFF);
    m_frame[4 + n] = tdu1(crc >> 8);
    length = tdu2(n + 5);
    return m_frame;
}

tdu1 *ZoGcpmProtocol::makeCommand(tdu1 command, tdu1 &length)
{
    m_command[0] = command;
    length = 1;
    return m_command;
}

tdu1 *ZoGcpmProtocol::prefixHeader(const tdu1 *data, tdu1 &length)
{
    if (length > BufferSize - 3 || (!data && length > 0))
        return nullptr;
    if (length > 0)
        std::memmove(m_frame + 2, data, length);
    m_frame[0] = tdu1(m_header & 0xFF);
    m_frame[1] = tdu1(m_header >> 8);
    length = tdu1(length + 2);
    return m_frame;
}

tdu1 *ZoGcpmProtocol::makeCommand(tdu1 command, const tdu1 *data, tdu1 &length)
{
    if (length >= BufferSize - 1 || (!data && length > 0))
        return nullptr;
    if (length > 0)
        std::memmove(m_command + 1, data, length);
    m_command[0] = command;
    length = tdu1(length + 1);
    return m_command;
}

bool ZoGcpmProtocol::isHeader(const tdu1 *p) const
{
    return p && ZoLittleEndian::read16(p, 2, 0) == m_header;
}

bool ZoGcpmProtocol::checkCrc(const tdu1 *frame, tdu1 length) const
{
    if (!frame || length < 3)
        return false;
    const tdu2 stored = ZoLittleEndian::read16(frame, length, length - 2u);
    return crc16(frame, length - 2) == stored;
}

tdu2 ZoGcpmProtocol::frameLength(const tdu1 *frame) const
{
    return frame ? tdu2(frame[2] + 3) : 0;
}
