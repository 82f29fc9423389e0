#pragma once

#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QMetaType>
#include <QString>

// What became of one device in a run, as the engine tells it: views draw
// this and decide nothing of their own. Upgraded is the device's own word:
// it reported its target after the transfer. A plain value, made on the
// engine's thread and handed out by copy.
struct ZoDeviceOutcome
{
    enum class Result : int {
        Skipped = 0, // due but not flashed (the run stopped first), or nothing to flash it with
        UpToDate, // it runs what it should
        Upgraded,
        NotConfirmed, // transferred, but it did not report its target afterwards
        Failed, // see Failure
        Interrupted, // stopped by the user during its transfer, left in its bootloader
    };
    enum class Failure : int {
        None = 0,
        RefusedFile, // no file that fits it: nothing was sent to it
        NoTarget, // it waits in its bootloader and no file names it
        NotRecorded, // the run journal could not be written: nothing was sent to it
        Unidentified, // a core that never told its identity: nothing was sent to it
        SendFailed, // the link refused a frame
        BlockTimeout, // a block went unanswered through every resend (see acknowledgedBytes)
        LinkLost, // the link went away during its transfer or read-back
        WrongVersion, // it came back running something else
        Silent, // it did not come back
        OtherAircraft, // another core's identity answered its read-back
    };

    ZoDeviceKey key;
    Result result = Result::Skipped;
    Failure failure = Failure::None;
    tVersion before; // what it ran before its transfer (type 0: not known)
    tVersion target; // what it was to be given (type 0: no target)
    // What the device reported after its transfer; type 0: nothing.
    tVersion reported;
    // The firmware file taken for it: the catalogue's fid and the SHA-256
    // (lowercase hex) of the file's bytes; empty when there is none.
    tdu1 firmwareId = 0;
    QString sha256;
    qint64 fileBytes = 0;
    int blocksSent = 0;
    int resends = 0;
    // How far the device had acknowledged its image when the transfer stopped.
    int acknowledgedBytes = 0;
    double seconds = 0;

    bool transferred() const
    {
        return result == Result::Upgraded || result == Result::NotConfirmed;
    }
};

Q_DECLARE_METATYPE(ZoDeviceOutcome)
