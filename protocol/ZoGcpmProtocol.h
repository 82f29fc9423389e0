#pragma once

#include "ZoTypes.h"

#include <QString>

// Where the GCPM announcer sends its datagrams. Only address and port are
// used; the other fields are kept for the endpoint's other services.
struct ZoGcpmTarget
{
    QString address = QStringLiteral("192.168.0.100");
    tdu2 port = 8000;
    tdu2 secondPort = 8050;
    QString groupAddress = QStringLiteral("226.0.0.80");
    tdu2 groupPort = 5555;
    tdu1 flag = 1;

    // The defaults above, with TOLVANE_GCPM_HOST and TOLVANE_GCPM_PORT taking
    // their place when set (test rigs point them at loopback). A port that is
    // not a number from 1 to 65535 is ignored.
    static ZoGcpmTarget fromEnvironment();
};

// Builds the frames of the GCPM channel: 0xAB 0xEF, a length byte (data
// length + 2), the data and a CRC-16/XMODEM, low byte first. Nothing is
// received on this channel. Builders write into the object's own buffers and
// return pointers to them, valid until the next build of the same buffer.
class ZoGcpmProtocol
{
public:
    enum : tdu1 {
        CmdPoll01 = 0x01,
        CmdAnnounce = 0x03,
        CmdPoll = 0x05,
        CmdPoll06 = 0x06,
    };
    static constexpr int BufferSize = 256;
    static constexpr int AnnounceArgs = 6;

    ZoGcpmProtocol();
    virtual ~ZoGcpmProtocol();

    virtual tdu1 *makePoll01(tdu1 &length);
    // args: own IPv4 address (u32 LE) and TCP port (u16 LE). Null unless args
    // is set and length is 6 on entry.
    virtual tdu1 *makeAnnounce(const tdu1 *args, tdu1 &length);
    virtual tdu1 *makePoll(tdu1 &length);
    virtual tdu1 *makePoll06(tdu1 &length);
    // Frames data; length becomes the frame length. Null when the data does
    // not fit a frame.
    virtual tdu1 *buildFrame(const tdu1 *data, tdu2 &length);
    virtual tdu1 *makeCommand(tdu1 command, tdu1 &length);
    virtual tdu1 *prefixHeader(const tdu1 *data, tdu1 &length);
    virtual tdu1 *makeCommand(tdu1 command, const tdu1 *data, tdu1 &length);
    virtual bool isHeader(const tdu1 *p) const;
    virtual bool checkCrc(const tdu1 *frame, tdu1 length) const;
    virtual tdu2 frameLength(const tdu1 *frame) const;

    // CRC-16/XMODEM: polynomial 0x1021, initial 0, not reflected, no final XOR.
    static tdu2 crc16(const tdu1 *data, int length);

private:
    tdu2 m_header = 0xEFAB;
    tdu1 m_command[BufferSize] = {};
    tdu1 m_frame[BufferSize] = {};
};
