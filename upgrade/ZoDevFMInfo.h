#pragma once

#include "ZoDeviceKey.h"
#include "ZoTypes.h"

#include <QMetaType>
#include <QString>

// What the workflow knows of one device on board: what it runs, what it
// should run and whether it must be flashed even without a newer version.
// Keyed by type and device number (see ZoDeviceRoster::recordKey).
struct ZoDevFMInfo
{
    // Whether the device answered as itself. An expected module that stayed
    // silent has a record too, so that nobody takes its silence for absence.
    enum class Presence : tdu1 {
        Answering = 0,
        NotAnswering, // expected by the configuration, silent to its version query
        InBootloader, // answered only from its bootloader: left there by an earlier run
    };
    // What the last run did to the device. Upgraded means the device itself
    // reported its target after the transfer.
    enum class Result : tdu1 {
        None = 0,
        Upgraded,
        NotConfirmed, // transferred, but it did not report its target afterwards
        Failed, // the transfer did not complete
        Interrupted, // stopped by the user or a lost link, left in its bootloader
    };

    ZoDeviceKey key;
    // Resource path of the device's icon; the view loads the picture.
    QString icon;
    QString name;
    tVersion curVersion;
    tFcsDateTime curCompileTime;
    tVersion tarVersion;
    tFcsDateTime tarCompileTime;
    QString releaseNote;
    QString serial;
    bool needUpgrade = false;
    // The device number the module reported. A module addressed by type and
    // device number on the CAN bus is keyed by its type alone, so the key
    // cannot say which number to address it with.
    tdu1 devIdx = 0;
    Presence presence = Presence::Answering;
    Result result = Result::None;
    // What the device reported after its transfer (type 0: nothing).
    tVersion confirmedVersion;
};

Q_DECLARE_METATYPE(ZoDevFMInfo)
