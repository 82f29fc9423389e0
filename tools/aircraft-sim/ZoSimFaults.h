#pragma once

#include <QJsonObject>
#include <QString>

// Failure switches of one device. A device starts from the global set and a
// per-device set overrides single fields. Counts of 0 (or -1 where 0 is a
// meaningful count) switch a fault off.
struct ZoSimFaults
{
    int dropAckEvery = 0; // drop every Nth block acknowledgement
    int corruptEvery = 0; // corrupt one byte of every Nth reply frame
    int latencyMs = 0; // hold every reply this long
    int stallAfterBlocks = -1; // after N accepted blocks, answer nothing until the next key frame
    int closeAfterBlocks = -1; // after N accepted blocks, close the TCP connection they came on
    bool neverAckErase = false;
    bool refuseKey = false; // refuse to enter the bootloader (as if the 6-byte key were wrong)
    // Take the whole image, then keep running the old firmware (a failed
    // self-check after the leave command).
    bool keepOldFirmware = false;
    bool noIdentity = false; // the core never answers the identity (EID) query

    // Keys as in the scenario file: "dropAckEvery", "corruptEvery", "latencyMs",
    // "stallAfterBlocks", "closeAfterBlocks", "neverAckErase", "refuseKey", "keepOldFirmware", "noIdentity".
    bool apply(const QJsonObject &o, QString *error);
    // One switch from the command line: "drop-ack-every=3", "never-ack-erase", ...
    bool applyFlag(const QString &nameValue, QString *error);

    QJsonObject toJson() const;
};
