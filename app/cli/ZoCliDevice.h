#pragma once

#include "ZoDevFMInfo.h"
#include "ZoDeviceOutcome.h"
#include "ZoTypes.h"

#include <QString>

// One device as a tolvane-cli run saw it: what it ran and the target the
// catalogue offered when the run listed it, and what the engine says became
// of it.
struct ZoCliDevice
{
    static QString resultName(ZoDeviceOutcome::Result result);
    static QString stateName(ZoDevFMInfo::Presence presence);
    static QString versionText(const tVersion &version);

    // How the run's lines name it.
    QString label() const;
    // What it runs after the run: what it reported after its transfer, else
    // what it ran before (nothing for a device that never answered, or one
    // whose transfer ended without a word from it). False: nothing known.
    bool versionAfter(tVersion &version) const;

    ZoDeviceKey key;
    bool core = false;
    tdu1 type = 0;
    tdu1 deviceNumber = 0;
    QString name;
    QString serial;
    // Whether it answered as itself when the run listed it.
    ZoDevFMInfo::Presence presence = ZoDevFMInfo::Presence::Answering;
    // Silent, and only what such an aircraft may carry; or silent although
    // the bus configuration names it (a fault).
    bool optional = false;
    bool missing = false;
    tVersion before;
    bool hasTarget = false;
    tVersion target;
    bool due = false;
    bool attempted = false; // its transfer was prepared
    ZoDeviceOutcome outcome;
};
