// A whole core transfer through the upgrade workflow against the aircraft
// simulator (its own process, loopback only):
//   BENCH upgrade_core_115200_ceiling_pct  128 KiB over the simulator's pty
//         paced at 115200 baud, against the stop-and-wait ceiling
//         blocks x (data frame + acknowledgement bytes) x 10 bits / 115200
//   BENCH upgrade_core_115200_s            the time that took
//   BENCH upgrade_udp_blocks_per_s         1 MiB over unpaced UDP
// Each transfer is timed from the erase acknowledgement (the first data
// block leaves right after it) to the last block's acknowledgement.

#include "ZoBenchUpgradeRig.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

constexpr int kDataFrameBytes = 128 + 8;
constexpr int kAckBytes = 9;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false\n"
                                                    "tolvane.*.critical=false"));
    qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
    qputenv("TOLVANE_GCPM_PORT", "9");

    const zobench::Run paced = zobench::engineTransfer(
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

    const zobench::Run udp = zobench::engineTransfer(ZoTestAircraftSim::Udp, 1024 * 1024, {});
    if (udp.seconds <= 0) {
        std::fprintf(stderr, "UDP transfer did not complete\n");
        return 1;
    }
    std::printf("BENCH upgrade_udp_blocks_per_s %.0f blocks/s\n", udp.blocks / udp.seconds);
    return 0;
}
