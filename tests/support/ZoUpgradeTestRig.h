#pragma once

// Shared by the end-to-end tests of the workflow and of the window, which
// run the engine against both simulators on loopback.

#include "ZoFRMFileInfo.h"
#include "ZoPlaneSearch.h"
#include "ZoTestFiles.h"
#include "ZoTestFirmware.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeWorkflow.h"

#include <QDir>
#include <QLoggingCategory>
#include <QUdpSocket>

// Quiet frame logs, GCPM announcements to `gcpmSink` on loopback, and `dir`
// as the working directory, whose busdevcfg.xml names the serial-bus nodes
// the program asks for.
inline bool zoTestEnterWorkDir(
    QUdpSocket &gcpmSink, const QString &dir, const QByteArray &busDevCfg)
{
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false"));
    if (!gcpmSink.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return false;
    qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
    qputenv("TOLVANE_GCPM_PORT", QByteArray::number(gcpmSink.localPort()));
    return QDir::setCurrent(dir) && zoWriteFile(QStringLiteral("busdevcfg.xml"), busDevCfg)
        && ZoTvkInstance::instance()->loadBusDevCfg();
}

// What the program would hand the engine, with the test's link record and
// cloud simulator.
inline ZoUpgradeEnvironment zoTestEnvironment(ZoPlaneConfig *link, const QString &cloudUrl = {})
{
    ZoUpgradeEnvironment env = ZoUpgradeEnvironment::from(*ZoTvkInstance::instance());
    env.link = link;
    env.cloudBaseUrl = QUrl(cloudUrl);
    // Each engine keeps its journal to itself, and no history, unless a test
    // hands it a file.
    env.journalPath.clear();
    env.historyPath.clear();
    env.imageCacheDir.clear();
    return env;
}

// Waits sized for simulators on loopback rather than for a radio link.
inline void zoTestFastTimings(ZoUpgradeWorkflow &engine, ZoPlaneSearch::Timings search = {})
{
    search.waitModuleInfoMs = 150;
    ZoUpgradeTimings t;
    t.search = search;
    t.enterBootloaderMs = 300;
    t.blockMs = 400;
    t.eraseMs = 2000;
    t.betweenDevicesMs = 100;
    t.identityToCatalogueMs = 100;
    t.researchDelayMs = 50;
    t.probeListenMs = 300;
    t.probeSweepMs = 200;
    t.coreRecoveryMs = 300;
    t.confirmQueryMs = 200;
    t.confirmModuleMs = 3000;
    t.confirmCoreMs = 15000;
    engine.setTimings(t);
}

// Offline firmware for a core of type 80: version 1.9.0 and an image of
// `bytes` bytes whose content follows from `seed`.
inline ZoFRMFileInfo zoTestCoreFirmware(int bytes, tdu4 seed = 12345)
{
    QByteArray f = zoTestFirmwareBytes(tdu4(bytes), {80, 1, 9, 0}, bytes);
    for (int i = 48; i < f.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        f[i] = char(seed >> 24);
    }
    ZoFRMFileInfo info;
    info.fid = 80;
    info.version = {80, 1, 9, 0};
    info.setBytes(f);
    return info;
}
