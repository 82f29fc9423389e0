#pragma once

#include "ZoTypes.h"

#include <array>
#include <memory>

class ZoFcsProtocolBase;
class ZoFirmwareUpdateProtocol;
class ZoMsgLooper;

// The commands that find, enter and leave the bootloaders of the core and
// of the modules behind it, and the transfer frames themselves, each built
// and handed to the looper. An instance builds into buffers of its own, so
// each thread that sends keeps one (the engine's on its thread, a transfer
// session's on the looper's).
//
// Every send returns false, and sends nothing, when the looper does not
// take commands or the command does not fit.
class ZoBootCommands
{
public:
    // The bus kinds of ZoUtils::protocolClass, as far as sending goes.
    enum ModuleOp { OpVersion, OpEnter, OpForceReport, OpLeave };

    explicit ZoBootCommands(ZoMsgLooper *looper);
    ~ZoBootCommands();
    ZoBootCommands(const ZoBootCommands &) = delete;
    ZoBootCommands &operator=(const ZoBootCommands &) = delete;

    ZoMsgLooper *looper() const { return m_looper; }

    // The core's application: version and compile time, identity.
    bool coreVersionQuery();
    bool identityQuery();
    // The core: into its bootloader (type 76 takes the short form), out of
    // it, and asked for its parameters from there.
    bool coreEnterBootloader(tdu1 coreType);
    bool coreLeaveBootloader();
    bool coreReadParameters();

    // A module behind the core, by type and the number it is addressed with.
    bool module(ModuleOp op, tdu1 devId, tdu1 devNum);
    // What a search asks for (ZoPlaneSearch::sigGetFirmwareInfo): `what` 0
    // the core's version, 1 a module's; anything else sends nothing.
    bool searchQuery(tdu1 what, tdu4 type, tdu4 number);

    // The key frame (the bootloader erases on it) and one data block. A core
    // takes them framed on the link; a module inside CAN or bus frames.
    bool keyFrame(bool core, tdu1 devId, tdu1 devNum, const std::array<tdu1, 48> &header);
    bool dataBlock(bool core, tdu1 devId, tdu1 devNum, const tdu1 *image, tds4 offset,
        tds4 chunkSize);

private:
    bool send(const tdu1 *bytes, int length);
    bool canPackage(tdu2 canId, bool standard, const tdu1 *data, int length);
    bool busPackage(tdu1 command, const tdu1 *data, int length);
    bool transferFrame(bool core, tdu1 devId, const tdu1 *frame, int length);

    ZoMsgLooper *m_looper;
    std::unique_ptr<ZoFcsProtocolBase> m_fcs;
    std::unique_ptr<ZoFirmwareUpdateProtocol> m_update;
};
