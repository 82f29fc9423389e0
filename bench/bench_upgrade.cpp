// Whole core transfers through the upgrade workflow against the aircraft
// simulator (its own process, loopback only):
//   BENCH upgrade_core_115200_ceiling_median_pct / _min_pct
//         five transfers of 128 KiB over the simulator's pty paced at
//         115200 baud, against the stop-and-wait ceiling
//         blocks x (data frame + acknowledgement bytes) x 10 bits / 115200
//   BENCH upgrade_core_115200_median_s     the median time that took
//   BENCH upgrade_block_turnaround_p50_us / _p99_us
//         the program's own share of each exchange in those transfers: from
//         the acknowledgement's bytes read from the link to the next block
//         written to it
//   BENCH upgrade_udp_blocks_per_s_median / _min
//         three transfers of 1 MiB over unpaced UDP
// Each transfer is timed from the first data block written to the last
// block's acknowledgement.
//
//   bench_upgrade [paced runs] [udp runs]     (default 5 3)

#include "ZoBenchUpgradeRig.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kDataFrameBytes = 128 + 8;
constexpr int kAckBytes = 9;

template <typename T>
T percentile(std::vector<T> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false\n"
                                                    "tolvane.*.critical=false"));
    qputenv("TOLVANE_GCPM_HOST", "127.0.0.1");
    qputenv("TOLVANE_GCPM_PORT", "9");
    const int pacedRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int udpRuns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    std::vector<double> pct;
    std::vector<double> seconds;
    std::vector<qint32> turnaround;
    for (int i = 0; i < pacedRuns; ++i) {
        const zobench::Run paced = zobench::engineTransfer(ZoTestAircraftSim::Pty, 128 * 1024,
            {QStringLiteral("--baud"), QStringLiteral("115200")});
        if (paced.seconds <= 0) {
            std::fprintf(stderr, "paced transfer did not complete\n");
            return 1;
        }
        const double ceiling = paced.blocks * double(kDataFrameBytes + kAckBytes) * 10 / 115200;
        pct.push_back(100.0 * ceiling / paced.seconds);
        seconds.push_back(paced.seconds);
        turnaround.insert(turnaround.end(), paced.turnaroundUs.begin(), paced.turnaroundUs.end());
        std::fprintf(stderr, "paced run %d: %.3f s, %.1f %%\n", i + 1, paced.seconds, pct.back());
    }
    std::printf("BENCH upgrade_core_115200_ceiling_median_pct %.1f pct\n", percentile(pct, 0.5));
    std::printf("BENCH upgrade_core_115200_ceiling_min_pct %.1f pct\n", percentile(pct, 0.0));
    std::printf("BENCH upgrade_core_115200_median_s %.3f s\n", percentile(seconds, 0.5));
    if (!turnaround.empty()) {
        std::printf("BENCH upgrade_block_turnaround_p50_us %d us\n", percentile(turnaround, 0.5));
        std::printf("BENCH upgrade_block_turnaround_p99_us %d us\n", percentile(turnaround, 0.99));
    }
    std::fflush(stdout);

    std::vector<double> rates;
    for (int i = 0; i < udpRuns; ++i) {
        const zobench::Run udp = zobench::engineTransfer(ZoTestAircraftSim::Udp, 1024 * 1024, {});
        if (udp.seconds <= 0) {
            std::fprintf(stderr, "UDP transfer did not complete\n");
            return 1;
        }
        rates.push_back(udp.blocks / udp.seconds);
    }
    std::printf("BENCH upgrade_udp_blocks_per_s_median %.0f blocks/s\n", percentile(rates, 0.5));
    std::printf("BENCH upgrade_udp_blocks_per_s_min %.0f blocks/s\n", percentile(rates, 0.0));
    return 0;
}
