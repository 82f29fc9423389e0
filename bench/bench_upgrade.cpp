// A whole core transfer through the upgrade workflow against the aircraft
// simulator (its own process, loopback only):
//   BENCH upgrade_core_115200_ceiling_pct  128 KiB over the simulator's pty
//         paced at 115200 baud, against the stop-and-wait ceiling
//         blocks x (data frame + acknowledgement bytes) x 10 bits / 115200
//   BENCH upgrade_core_115200_s            the time that took
//   BENCH upgrade_udp_blocks_per_s         1 MiB over unpaced UDP
// Each transfer is timed from the erase acknowledgement (the first data
// block leaves right after it) to the last block's acknowledgement.

#include "ZoFRMFileInfo.h"
#include "ZoMsgLooper.h"
#include "ZoPlaneConfig.h"
#include "ZoPlaneSearch.h"
#include "ZoTestAircraftSim.h"
#include "ZoTestWait.h"
#include "ZoUpgradeWorkflow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

namespace {

constexpr int kDataFrameBytes = 128 + 8;
constexpr int kAckBytes = 9;

ZoFRMFileInfo coreFirmware(int imageBytes)
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
    info.setDataCopy(f);
    return info;
}

// Seconds from the erase acknowledgement to the last acknowledgement, and
// the blocks sent; negative when the transfer did not complete.
struct Run
{
    double seconds = -1;
    int blocks = 0;
};

Run transfer(ZoTestAircraftSim::Link link, int imageBytes, const QStringList &extra)
{
    QTemporaryDir dir;
    const QString scenario = dir.filePath(QStringLiteral("scenario.json"));
    {
        QFile f(scenario);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(QJsonDocument(
            QJsonObject {{QStringLiteral("address"), QStringLiteral("none")},
                {QStringLiteral("core"),
                    QJsonObject {{QStringLiteral("type"), 80},
                        {QStringLiteral("version"), QStringLiteral("1.0.0")},
                        {QStringLiteral("compileTime"), QStringLiteral("2026-01-01 00:00:00")},
                        {QStringLiteral("eid"), QStringLiteral("BE0C")}}}})
                    .toJson());
    }
    ZoTestAircraftSim sim;
    if (!sim.start(link, scenario, extra, QStringLiteral("100")))
        return {};

    ZoPlaneConfig config;
    ZoUpgradeWorkflow wf(&config);
    ZoUpgradeWorkflow::Timings t;
    t.enterBootloaderMs = 300;
    t.identityToCatalogueMs = 50;
    wf.setTimings(t);
    wf.setVersionReporting(false);
    wf.setLocalFirmware({coreFirmware(imageBytes)});

    ZoPlaneConfig c;
    if (link == ZoTestAircraftSim::Udp) {
        c.type = ZoPlaneConfig::LinkUdp;
        c.host = QStringLiteral("127.0.0.1");
        c.hostport = sim.port;
        c.localPort = sim.programUdpPort;
    } else {
        c.type = ZoPlaneConfig::LinkSerialPort;
        c.com = sim.ptyPath;
        c.baud = 115200;
    }
    bool ready = false;
    bool done = false;
    bool ok = false;
    QElapsedTimer clock;
    qint64 first = -1;
    qint64 last = -1;
    QObject::connect(&wf, &ZoUpgradeWorkflow::sigCatalogueResult, [&](bool s) { ready = s; });
    QObject::connect(wf.looper(), &ZoMsgLooper::sigGNCUpgEraseFlashAck, &wf, [&] {
        if (first < 0)
            first = clock.nsecsElapsed();
    });
    QObject::connect(&wf, &ZoUpgradeWorkflow::sigDeviceResult, [&](tds4, bool s) {
        last = clock.nsecsElapsed();
        ok = s;
    });
    QObject::connect(&wf, &ZoUpgradeWorkflow::sigRunFinished, [&] { done = true; });
    clock.start();
    wf.searchLink(c);
    if (!zoWaitFor([&] { return ready; }, 15000))
        return {};
    wf.upgradeAll();
    if (!zoWaitFor([&] { return done; }, 120000) || !ok || first < 0)
        return {};
    Run r;
    r.seconds = double(last - first) / 1e9;
    r.blocks = wf.transferStats(tds4(80) << 16).blocksSent;
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false\n"
                                                    "tolvane.*.critical=false"));
    qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
    qputenv("TOLVANE_GCPM_PORT", "9");

    const Run paced = transfer(
        ZoTestAircraftSim::Pty, 128 * 1024, {QStringLiteral("--baud"), QStringLiteral("115200")});
    if (paced.seconds <= 0) {
        std::fprintf(stderr, "paced transfer did not complete\n");
        return 1;
    }
    const double ceiling = paced.blocks * double(kDataFrameBytes + kAckBytes) * 10 / 115200;
    std::printf(
        "BENCH upgrade_core_115200_ceiling_pct %.1f pct\n", 100.0 * ceiling / paced.seconds);
    std::printf("BENCH upgrade_core_115200_s %.3f s\n", paced.seconds);
    std::fflush(stdout);

    const Run udp = transfer(ZoTestAircraftSim::Udp, 1024 * 1024, {});
    if (udp.seconds <= 0) {
        std::fprintf(stderr, "UDP transfer did not complete\n");
        return 1;
    }
    std::printf("BENCH upgrade_udp_blocks_per_s %.0f blocks/s\n", udp.blocks / udp.seconds);
    return 0;
}
