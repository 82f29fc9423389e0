#pragma once

#include "ZoTypes.h"

#include <QMetaType>
#include <QString>

// What the workflow knows of one device on board: what it runs, what it
// should run and whether it must be flashed even without a newer version.
// Keyed by type << 16 | device number (0 for the core and for modules that
// have no number).
struct ZoDevFMInfo
{
    tds4 key = 0;
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
};

Q_DECLARE_METATYPE(ZoDevFMInfo)
