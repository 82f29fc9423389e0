// A 1 MiB core image through the main window (offscreen, rows and progress
// drawn) over unpaced UDP to the aircraft simulator, and the same transfer
// through the engine alone, five times each in turn (medians):
//   BENCH upgrade_gui_udp_blocks_per_s      through the window
//   BENCH upgrade_engine_udp_blocks_per_s   the engine alone
//   BENCH upgrade_gui_vs_engine_pct         the first against the second
//   BENCH upgrade_gui_peak_rss_mb           the process's peak resident set
//                                           after the window's first transfer

#include "ZoBenchUpgradeRig.h"
#include "ZoMessageBox.h"
#include "ZoPlaneSearch.h"
#include "ZoTolMainWindow.h"
#include "ZoTvkInstance.h"

#include <QApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr int kImageBytes = 1024 * 1024;
// A stop-and-wait transfer on two cores swings by a fifth from one run to
// the next, whichever path drives it.
constexpr int kRounds = 5;

double peakRssMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

zobench::Run windowTransfer()
{
    QTemporaryDir dir;
    ZoTestAircraftSim sim;
    if (!zobench::startCoreAircraft(sim, dir, ZoTestAircraftSim::Udp, {}))
        return {};
    // The window searches its stored link as soon as the event loop runs:
    // the simulator's, and no serial port.
    ZoPlaneConfig config = zobench::linkTo(sim, ZoTestAircraftSim::Udp);
    config.TcpServerHostPort = 9;
    ZoUpgradeEnvironment env = ZoUpgradeEnvironment::from(*ZoTvkInstance::instance());
    env.link = &config;
    env.portEnumerator = [] { return QList<ZoPlaneSearch::PortCandidate>(); };
    ZoTolMainWindow window(env);
    window.show();
    return zobench::timeCoreTransfer(*window.engine(), kImageBytes, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false\n"
                                                    "tolvane.*.critical=false"));
    qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
    qputenv("TOLVANE_GCPM_PORT", "9");
    // The end of the run is announced in a box: answered at once.
    ZoMessageBox::setTestResponder([](const ZoMessageBox::Request &) { return QMessageBox::Ok; });

    // The machine's speed drifts between runs: alternate the two and take
    // each one's median.
    QList<double> guiRates;
    QList<double> engineRates;
    double rss = -1;
    for (int round = 0; round < kRounds; ++round) {
        const zobench::Run gui = windowTransfer();
        if (round == 0)
            rss = peakRssMb();
        const zobench::Run engine
            = zobench::engineTransfer(ZoTestAircraftSim::Udp, kImageBytes, {});
        if (gui.seconds <= 0 || engine.seconds <= 0) {
            std::fprintf(stderr, "a transfer did not complete\n");
            return 1;
        }
        guiRates << gui.blocks / gui.seconds;
        engineRates << engine.blocks / engine.seconds;
    }
    std::sort(guiRates.begin(), guiRates.end());
    std::sort(engineRates.begin(), engineRates.end());
    const double guiRate = guiRates.at(kRounds / 2);
    const double engineRate = engineRates.at(kRounds / 2);
    std::printf("BENCH upgrade_gui_udp_blocks_per_s %.0f blocks/s\n", guiRate);
    std::printf("BENCH upgrade_engine_udp_blocks_per_s %.0f blocks/s\n", engineRate);
    std::printf("BENCH upgrade_gui_vs_engine_pct %.1f pct\n", 100.0 * guiRate / engineRate);
    std::printf("BENCH upgrade_gui_peak_rss_mb %.1f MB\n", rss);
    return 0;
}
