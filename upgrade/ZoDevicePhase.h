#pragma once

#include "ZoDeviceKey.h"

#include <QMetaType>
#include <QString>

// Where a device's flash stands, as a technician must know it: from the
// enter command until the bootloader is told to leave, the device holds no
// whole application and cutting its power or link leaves it in its
// bootloader (the next run finds it there, but the aircraft is not whole
// until then); once it restarts on its new image it may be unplugged.
// A value type, copied across threads.
struct ZoDevicePhase
{
    enum Phase : int { Entering, Erasing, Programming, Leaving, Restarting, Confirming };

    ZoDeviceKey key;
    Phase phase = Entering;
    int bytes = 0; // acknowledged so far
    int total = 0; // the image's bytes
    double bytesPerSecond = 0; // over the acknowledged blocks so far; 0: not known yet
    int etaSeconds = -1; // until the last block is acknowledged; -1: not known

    // "entering", "erasing", ... as logs and JSON events name the phase.
    static QString name(Phase phase);
    // False while cutting power or link would leave the device without its
    // application.
    static bool mayPowerOff(Phase phase) { return phase >= Restarting; }
    bool mayPowerOff() const { return mayPowerOff(phase); }
};
Q_DECLARE_METATYPE(ZoDevicePhase)
