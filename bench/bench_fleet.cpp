// Several aircraft from one tolvane-cli, each behind its own simulator on a
// pty paced at 115200 baud (loopback only, offline firmware):
//   BENCH fleet_one_s_median              one aircraft alone, the whole run
//   BENCH fleet_two_vs_one_pct_median / _min
//         time (one alone) / time (two at once) x 200: 200 when two take
//         no longer than one
//   BENCH fleet_four_vs_one_pct_median / _min   the same for four (x 400)
//   BENCH fleet_eight_vs_one_pct_median / _min  and for eight (x 800)
//   BENCH fleet_cli_cpu_pct_per_aircraft
//         the program's own CPU time (user + system, from getrusage of the
//         reaped child) per aircraft it served, as a share of its wall time:
//         the highest of all runs
// A run is timed from the program's start to its exit: search, listing,
// module and core transfers, the core's read-back. Every aircraft carries an
// Emba2 core (256 KiB image) and a tuning module (32 KiB) and is fresh for
// each run, so every run flashes both. Rounds alternate one, two, four,
// eight, so a slow moment of the machine falls on all alike; each percentage
// pairs a round's run with that round's single one.
//
//   bench_fleet [rounds]     (default 3)

#include "ZoTestAircraftSim.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kCoreBytes = 256 * 1024;
constexpr int kModuleBytes = 32 * 1024;
constexpr int kMostAircraft = 8;

double cpuSecondsOfChildren()
{
    rusage u {};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool pack(const QString &out, int type, const char *version, int size)
{
    QProcess p;
    p.start(QStringLiteral(TOLVANE_FWPACK),
        {QStringLiteral("-o"), out, QStringLiteral("--type"), QString::number(type),
            QStringLiteral("--version"), QLatin1String(version), QStringLiteral("--size"),
            QString::number(size), QStringLiteral("--seed"), QString::number(type)});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The Emba2 core one version behind the packed image, with its tuning module
// on the serial bus; each aircraft has its own EID, or the program would
// refuse the second link as the same aircraft.
QByteArray scenario(int index)
{
    return QStringLiteral(R"({"address": "none",
        "core": {"type": 80, "version": "1.7.5", "compileTime": "2024-05-17 13:45:09",
                 "eid": "3A0F2C5D001700%1"},
        "modules": [{"type": 77, "node": 1, "version": "1.0.4", "serial": "7701"}]})")
        .arg(index + 10, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

class Bench
{
public:
    bool prepare()
    {
        if (!m_dir.isValid())
            return false;
        m_firmware = m_dir.filePath(QStringLiteral("firmware"));
        m_work = m_dir.filePath(QStringLiteral("work"));
        if (!QDir().mkpath(m_firmware) || !QDir().mkpath(m_work)
            || !QDir().mkpath(m_dir.filePath(QStringLiteral("config"))))
            return false;
        for (int i = 0; i < kMostAircraft; ++i)
            if (!writeFile(m_dir.filePath(QStringLiteral("aircraft%1.json").arg(i)), scenario(i)))
                return false;
        // The tuning module answers only with its node id configured.
        return writeFile(QDir(m_work).filePath(QStringLiteral("busdevcfg.xml")),
                   "<busdevcfg><tunex><NodeId>1</NodeId></tunex></busdevcfg>\n")
            && pack(m_firmware + QStringLiteral("/emba2-80.bin"), 80, "1.8.2", kCoreBytes)
            && pack(m_firmware + QStringLiteral("/tunex-77.bin"), 77, "2.0.4", kModuleBytes);
    }

    // Seconds from the program's start to its exit with every aircraft
    // upgraded, or -1; the program's CPU seconds in *cpu.
    double run(int aircraft, double *cpu)
    {
        std::vector<std::unique_ptr<ZoTestAircraftSim>> sims;
        QStringList args {QStringLiteral("--upgrade"), QStringLiteral("--firmware"), m_firmware};
        for (int i = 0; i < aircraft; ++i) {
            sims.push_back(std::make_unique<ZoTestAircraftSim>());
            if (!sims.back()->start(ZoTestAircraftSim::Pty,
                    m_dir.filePath(QStringLiteral("aircraft%1.json").arg(i)),
                    {QStringLiteral("--baud"), QStringLiteral("115200")})) {
                std::fprintf(stderr, "bench_fleet: simulator %d did not start\n", i);
                return -1;
            }
            args << QStringLiteral("--link")
                 << QStringLiteral("serial:%1:115200").arg(sims.back()->ptyPath);
        }
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("TOLVANE_CLOUD_URL"), QStringLiteral("http://127.0.0.1:1"));
        env.insert(QStringLiteral("TOLVANE_GCPM_HOST"), QStringLiteral("127.0.0.1"));
        env.insert(QStringLiteral("TOLVANE_GCPM_PORT"), QStringLiteral("1"));
        cli.setProcessEnvironment(env);
        cli.setWorkingDirectory(m_work);
        // The simulators are still running, so the only child reaped in
        // between is the program.
        const double cpuBefore = cpuSecondsOfChildren();
        QElapsedTimer clock;
        clock.start();
        cli.start(QStringLiteral(TOLVANE_CLI), args);
        const bool ended = cli.waitForFinished(300000);
        const double seconds = clock.nsecsElapsed() / 1e9;
        *cpu = cpuSecondsOfChildren() - cpuBefore;
        if (!ended || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
            std::fprintf(stderr, "bench_fleet: %d aircraft: exit %d\n%s\n%s\n", aircraft,
                cli.exitCode(), cli.readAllStandardOutput().constData(),
                cli.readAllStandardError().constData());
            cli.kill();
            cli.waitForFinished(3000);
            return -1;
        }
        return seconds;
    }

private:
    QTemporaryDir m_dir;
    QString m_firmware;
    QString m_work;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double minimum(const std::vector<double> &v)
{
    return *std::min_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    Bench bench;
    if (!bench.prepare()) {
        std::fprintf(stderr, "bench_fleet: cannot prepare the firmware and scenarios\n");
        return 1;
    }
    std::vector<double> one, two, four, eight;
    double cpuPct = 0;
    for (int r = 0; r < rounds; ++r) {
        double t[4];
        const int sizes[4] = {1, 2, 4, kMostAircraft};
        for (int k = 0; k < 4; ++k) {
            double cpu = 0;
            t[k] = bench.run(sizes[k], &cpu);
            if (t[k] < 0)
                return 1;
            cpuPct = std::max(cpuPct, cpu / sizes[k] / t[k] * 100);
        }
        one.push_back(t[0]);
        two.push_back(t[0] / t[1] * 200);
        four.push_back(t[0] / t[2] * 400);
        eight.push_back(t[0] / t[3] * 800);
        std::fprintf(stderr, "round %d: one %.2f s, two %.2f s, four %.2f s, eight %.2f s\n", r + 1,
            t[0], t[1], t[2], t[3]);
    }
    std::printf("BENCH fleet_one_s_median %.2f s\n", median(one));
    std::printf("BENCH fleet_two_vs_one_pct_median %.1f pct\n", median(two));
    std::printf("BENCH fleet_two_vs_one_pct_min %.1f pct\n", minimum(two));
    std::printf("BENCH fleet_four_vs_one_pct_median %.1f pct\n", median(four));
    std::printf("BENCH fleet_four_vs_one_pct_min %.1f pct\n", minimum(four));
    std::printf("BENCH fleet_eight_vs_one_pct_median %.1f pct\n", median(eight));
    std::printf("BENCH fleet_eight_vs_one_pct_min %.1f pct\n", minimum(eight));
    std::printf("BENCH fleet_cli_cpu_pct_per_aircraft %.2f pct\n", cpuPct);
    return 0;
}
