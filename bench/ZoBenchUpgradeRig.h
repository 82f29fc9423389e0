#pragma once

// What the upgrade benchmarks share: a core-only aircraft, a core image of a
// given size standing in for the catalogue, and the timing of one transfer
// from the erase acknowledgement (the first data block leaves right after
// it) to the last block's acknowledgement.

#include "ZoFRMFileInfo.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneConfig.h"
#include "ZoTestAircraftSim.h"
#include "ZoTestWait.h"
#include "ZoUpgradeWorkflow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>

namespace zobench {

inline ZoFRMFileInfo coreFirmware(int imageBytes)
{
    QByteArray f(48 + imageBytes, '\0');
    for (int i = 0; i < 4; ++i)
        f[16 + i] = char((tdu4(imageBytes) >> (8 * i)) & 0xFF);
    f[22] = char(80);
    f[23] = 1;
    f[24] = 9;
    f[25] = 0;
    tdu4 x = 12345;
    for (int i = 48; i < f.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        f[i] = char(x >> 24);
    }
    ZoFRMFileInfo info;
    info.fid = 80;
    info.version.type = 80;
    info.version.major = 1;
    info.version.minor = 9;
    info.setBytes(f);
    return info;
}

// A core at 1.0.0 and nothing else, on `link`.
inline bool startCoreAircraft(ZoTestAircraftSim &sim, const QTemporaryDir &dir,
    ZoTestAircraftSim::Link link, const QStringList &extra)
{
    const QString scenario = dir.filePath(QStringLiteral("scenario.json"));
    QFile f(scenario);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QJsonDocument(
        QJsonObject {{QStringLiteral("address"), QStringLiteral("none")},
            {QStringLiteral("core"),
                QJsonObject {{QStringLiteral("type"), 80},
                    {QStringLiteral("version"), QStringLiteral("1.0.0")},
                    {QStringLiteral("compileTime"), QStringLiteral("2026-01-01 00:00:00")},
                    {QStringLiteral("eid"), QStringLiteral("BE0C")}}}})
                .toJson());
    f.close();
    return sim.start(link, scenario, extra, QStringLiteral("100"));
}

inline ZoPlaneConfig linkTo(const ZoTestAircraftSim &sim, ZoTestAircraftSim::Link link)
{
    ZoPlaneConfig c;
    c.host = QStringLiteral("127.0.0.1");
    c.TcpServerHost = QStringLiteral("127.0.0.1");
    if (link == ZoTestAircraftSim::Udp) {
        c.type = ZoPlaneConfig::LinkUdp;
        c.hostport = sim.port;
        c.localPort = sim.programUdpPort;
    } else {
        c.type = ZoPlaneConfig::LinkSerialPort;
        c.com = sim.ptyPath;
        c.baud = 115200;
    }
    return c;
}

// Seconds of the transfer and the blocks sent; negative seconds when it did
// not complete.
struct Run
{
    double seconds = -1;
    int blocks = 0;
    QVector<qint32> turnaroundUs;
};

// Prepares `wf` (offline firmware, short waits), calls `search`, waits until
// the firmware is offered, upgrades and times the transfer.
inline Run timeCoreTransfer(
    ZoUpgradeWorkflow &wf, int imageBytes, const std::function<void()> &search)
{
    ZoUpgradeTimings t;
    t.enterBootloaderMs = 300;
    t.identityToCatalogueMs = 50;
    wf.setTimings(t);
    wf.source().setVersionReporting(false);
    wf.source().setLocalFirmware({coreFirmware(imageBytes)});
    bool ready = false;
    bool done = false;
    bool ok = false;
    QObject::connect(&wf.targets(), &ZoTargetIntake::sigStateChanged,
        [&](ZoTargetIntake::State s) {
            ready = s == ZoTargetIntake::State::Ready;
        });
    QObject::connect(&wf, &ZoUpgradeWorkflow::sigDeviceOutcome, [&](const ZoDeviceOutcome &o) {
        ok = o.result == ZoDeviceOutcome::Result::Upgraded;
    });
    QObject::connect(&wf, &ZoUpgradeWorkflow::sigRunEnded, [&] { done = true; });
    if (search)
        search();
    if (!zoWaitFor([&] { return ready; }, 15000))
        return {};
    wf.upgradeAll();
    if (!zoWaitFor([&] { return done; }, 120000) || !ok)
        return {};
    const ZoTransferSession::Stats stats = wf.transferStats(ZoDeviceKey(80));
    Run r;
    r.seconds = double(stats.lastAckNs - stats.firstBlockNs) / 1e9;
    r.blocks = stats.blocksSent;
    r.turnaroundUs = stats.turnaroundUs;
    return r;
}

// The engine alone over `link`.
inline Run engineTransfer(ZoTestAircraftSim::Link link, int imageBytes, const QStringList &extra)
{
    QTemporaryDir dir;
    ZoTestAircraftSim sim;
    if (!startCoreAircraft(sim, dir, link, extra))
        return {};
    ZoPlaneConfig config;
    ZoUpgradeEnvironment env;
    env.link = &config;
    ZoUpgradeWorkflow wf(env);
    const ZoPlaneConfig c = linkTo(sim, link);
    return timeCoreTransfer(wf, imageBytes, [&] { wf.searchLink(c); });
}

} // namespace zobench
