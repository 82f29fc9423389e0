#pragma once

#include "ZoDevFMInfo.h"
#include "ZoTypes.h"

#include <QString>

// One device as a tolvane-cli run saw it: what it ran, the target the
// catalogue offered, what became of its transfer and what it reported
// afterwards.
struct ZoCliDevice
{
    enum Result {
        ResultUpgraded,
        ResultFailed,
        ResultUpToDate,
        ResultSkipped,
        ResultInterrupted,
        ResultNotConfirmed,
    };

    static QString resultName(Result result);
    static QString stateName(ZoDevFMInfo::Presence presence);
    static QString versionText(const tVersion &version);

    Result result() const;
    // How the run's lines name it.
    QString label() const;

    tds4 key = 0;
    bool core = false;
    tdu1 type = 0;
    tdu1 deviceNumber = 0;
    QString name;
    QString serial;
    // Whether it answered as itself when the run listed it.
    ZoDevFMInfo::Presence presence = ZoDevFMInfo::Presence::Answering;
    tVersion before;
    bool hasTarget = false;
    tVersion target;
    // SHA-256 (lowercase hex) of the firmware file's bytes as the engine held
    // them when it was selected for the device or its transfer was prepared;
    // empty when there was none.
    QString sha256;
    bool due = false;
    bool attempted = false; // its transfer was prepared
    bool upgraded = false; // it reported its target after the transfer
    bool notConfirmed = false; // transferred, but it did not report its target
    bool failed = false;
    bool interrupted = false; // the run was stopped during its transfer
    bool hasAfter = false; // `after` was read from the device after its transfer
    tVersion after;
    bool verified = false;
    int blocksSent = 0;
    int resends = 0;
    double seconds = 0;
};
