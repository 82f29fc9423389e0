// One whole tolvane-cli --upgrade of the simulator's default scenario (the
// Emba2 core and seven modules; the core and six of them are due against the
// cloud simulator's sample catalogue) over a pty paced at 115200 baud,
// against the least time the protocol allows for it (loopback only):
//   BENCH run_wall_s_min / _median           program start to exit
//   BENCH run_floor_s_min / _median          the protocol's floor (below)
//   BENCH run_overhead_pct_min / _median     wall / floor x 100 - 100
// and where the rest went, medians over the runs (CLI clock, from its
// --progress json events; the floor of each part beside it):
//   search (searching -> found), catalogue (found -> the listing: the
//   catalogue comes in the search, so this is the look at the buses for
//   bootloaders), the time from the listing to the first transfer, each
//   device's entering, erasing, programming (against the bytes its blocks
//   and acknowledgements take on the line), leaving + read-back, and the
//   gaps between devices.
//
// The floor is what the protocol cannot do without:
//   - the line time of every frame a run must send and of its reply, from
//     the simulator's own log (--log-frames): the search's and the
//     read-back's first answered question of each kind per device, each
//     enter-bootloader command, key frame and erase acknowledgement, every
//     data block taken in order and its acknowledgement, one leave command;
//   - the waits the protocol mandates: ZoUpgradeTimings' enter-bootloader
//     wait per device, the pause between devices, the search's wait per
//     expected module; the simulator's erase and restart times.
// Telemetry, resent blocks, repeated questions, repeated leave commands and
// the probes' force reports are not in it: they are what the run spends
// beyond it.
//
//   bench_run_overhead [--runs N]     (default 3)

#include "ZoTestAircraftSim.h"
#include "ZoUpgradeTimings.h"
#include "ZoUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int kBaud = 115200;
// The default scenario's erase time; the test rig's shorter one is for tests.
constexpr int kEraseMs = 1500;

double lineSeconds(qint64 bytes)
{
    return double(bytes) * 10.0 / kBaud;
}

int hexBytes(const QString &spaced)
{
    return spaced.isEmpty() ? 0 : (spaced.size() + 1) / 3;
}

QString text(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toString();
}

double num(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toDouble();
}

// What the simulator's log says a run had to move and wait for.
struct Floor
{
    qint64 bytes = 0; // both directions: a stop-and-wait exchange takes both in turn
    qint64 searchBytes = 0;
    qint64 readBackBytes = 0;
    double restartS = 0; // the core's, as the simulator was told
    double waitS = 0;
    int transfers = 0;
    int expectedModules = 0;
    // Per device (the simulator's name): the programming phase's floor.
    QMap<QString, double> programmingS;
    int probeFrames = 0;
    int extraFrames = 0; // taken but not required: repeats, polls, resends
    double seconds() const { return lineSeconds(bytes) + waitS; }
};

// Walks the log in order: a "frame" event comes before whatever the frame
// caused, so the events up to the next one are its requests and replies.
Floor floorOf(const QList<QJsonObject> &log, int expectedModules)
{
    Floor f;
    const ZoUpgradeTimings timings;
    f.expectedModules = expectedModules;
    f.waitS = expectedModules * timings.search.waitModuleInfoMs / 1000.0;
    QSet<QString> answered; // dev/cmd answered since the device last left its bootloader
    QSet<QString> entered; // devices in a transfer
    QSet<QString> transferred;
    bool anyEntered = false;
    int i = 0;
    // The simulator's own waits, and its erase acknowledgements: each is
    // the device's next reply after its "erase done", wherever it falls.
    QSet<int> eraseAcks;
    for (int k = 0; k < log.size(); ++k) {
        const QJsonObject &o = log[k];
        const QString ev = text(o, "event");
        if (ev == QLatin1String("transfer")) {
            f.waitS += num(o, "eraseMs") / 1000.0;
            ++f.transfers;
        } else if (ev == QLatin1String("state") && text(o, "why") == QLatin1String("erase done")) {
            for (int j = k + 1; j < log.size(); ++j)
                if (text(log[j], "event") == QLatin1String("reply")
                    && text(log[j], "dev") == text(o, "dev")) {
                    f.bytes += hexBytes(text(log[j], "bytes"));
                    eraseAcks.insert(j);
                    break;
                }
        } else if (ev == QLatin1String("state") && text(o, "to") == QLatin1String("restarting")) {
            f.waitS += num(o, "ms") / 1000.0;
            f.restartS += num(o, "ms") / 1000.0;
        }
    }
    while (i < log.size()) {
        const QJsonObject &o = log[i];
        if (text(o, "event") != QLatin1String("frame")) {
            ++i;
            continue;
        }
        const qint64 frameBytes = qint64(num(o, "bytes"));
        const bool taken = o.value(QLatin1String("taken")).toBool();
        int j = i + 1;
        QList<QJsonObject> caused;
        for (; j < log.size() && text(log[j], "event") != QLatin1String("frame"); ++j)
            if (!eraseAcks.contains(j))
                caused << log[j];
        i = j;
        if (!taken)
            continue;
        bool required = false;
        bool probe = false;
        bool readBack = false;
        QString dev;
        QSet<QString> repliedBy;
        for (const QJsonObject &c : caused)
            if (text(c, "event") == QLatin1String("reply"))
                repliedBy.insert(text(c, "dev"));
        qint64 replyBytes = 0;
        for (const QJsonObject &c : caused) {
            const QString e = text(c, "event");
            const QString cmd = text(c, "cmd");
            const QString d = text(c, "dev");
            if (e == QLatin1String("ignored") && c.value(QLatin1String("id")).toInt() == 0x6F1)
                probe = true;
            if (e != QLatin1String("request"))
                continue;
            dev = d;
            if (cmd == QLatin1String("dataBlock")) {
                if (text(c, "order") == QLatin1String("in"))
                    required = true;
            } else if (cmd == QLatin1String("keyFrame")) {
                required = true;
            } else if (cmd == QLatin1String("enterBootloader")) {
                if (!entered.contains(d)) {
                    required = true;
                    anyEntered = true;
                    entered.insert(d);
                    f.waitS += timings.enterBootloaderMs / 1000.0;
                    if (!transferred.isEmpty())
                        f.waitS += timings.betweenDevicesMs / 1000.0;
                }
            } else if (cmd == QLatin1String("leaveBootloader")) {
                if (entered.remove(d)) {
                    required = true;
                    transferred.insert(d);
                    const QSet<QString> before = answered;
                    for (const QString &k : before)
                        if (k.startsWith(d + QLatin1Char('/')))
                            answered.remove(k);
                }
            } else if (cmd == QLatin1String("forceReport")) {
                probe = true;
            } else if (repliedBy.contains(d)) {
                // A question: the first answered one of its kind counts.
                const QString k = d + QLatin1Char('/') + cmd;
                if (!answered.contains(k)) {
                    answered.insert(k);
                    required = true;
                    readBack = transferred.contains(d);
                }
            }
        }
        for (const QJsonObject &c : caused)
            if (text(c, "event") == QLatin1String("reply"))
                replyBytes += hexBytes(text(c, "bytes"));
        // The search's questions to modules go out within its wait for each.
        if (required && !anyEntered && dev != QLatin1String("core"))
            continue;
        if (required) {
            f.bytes += frameBytes + replyBytes;
            if (!anyEntered)
                f.searchBytes += frameBytes + replyBytes;
            if (readBack)
                f.readBackBytes += frameBytes + replyBytes;
            bool data = false;
            for (const QJsonObject &c : caused)
                data = data || text(c, "cmd") == QLatin1String("dataBlock");
            if (data)
                f.programmingS[dev] += lineSeconds(frameBytes + replyBytes);
        } else if (probe) {
            ++f.probeFrames;
        } else {
            ++f.extraFrames;
        }
    }
    return f;
}

// The CLI's events of one run, by its own clock (ms).
struct Timeline
{
    double searching = -1, found = -1, catalogue = -1, finished = -1;
    struct Device
    {
        QString name; // the simulator's
        QMap<QString, double> phase; // first time each phase was entered
        double result = -1;
    };
    std::vector<Device> devices; // in the order they were flashed
};

Timeline timelineOf(const QByteArray &events)
{
    Timeline tl;
    for (const QByteArray &line : events.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString ev = text(o, "event");
        const double t = num(o, "t");
        if (ev == QLatin1String("searching") && tl.searching < 0)
            tl.searching = t;
        else if (ev == QLatin1String("found") && tl.found < 0)
            tl.found = t;
        else if (ev == QLatin1String("catalogue") && tl.catalogue < 0)
            tl.catalogue = t;
        else if (ev == QLatin1String("finished"))
            tl.finished = t;
        if (ev != QLatin1String("phase") && ev != QLatin1String("result"))
            continue;
        const int type = o.value(QLatin1String("type")).toInt();
        const QString name = type == 80
            ? QStringLiteral("core")
            : QStringLiteral("%1.%2").arg(type).arg(o.value(QLatin1String("number")).toInt());
        auto it = std::find_if(tl.devices.begin(), tl.devices.end(),
            [&](const Timeline::Device &d) { return d.name == name; });
        if (it == tl.devices.end()) {
            tl.devices.push_back({name, {}, -1});
            it = tl.devices.end() - 1;
        }
        if (ev == QLatin1String("result"))
            it->result = t;
        else if (!it->phase.contains(text(o, "phase")))
            it->phase.insert(text(o, "phase"), t);
    }
    return tl;
}

// One run's figures, seconds.
using Figures = std::map<std::string, double>;

class Bench
{
public:
    bool prepare()
    {
        if (!m_dir.isValid())
            return false;
        m_cloud.setProgram(QStringLiteral(TOLVANE_CLOUD_SIM));
        m_cloud.setArguments({QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--root"), QStringLiteral(TOLVANE_CLOUD_SAMPLE), QStringLiteral("--log"),
            m_dir.filePath(QStringLiteral("cloud.jsonl"))});
        m_cloud.start();
        if (!m_cloud.waitForStarted(5000))
            return false;
        QElapsedTimer wait;
        wait.start();
        QByteArray first;
        while (!first.contains('\n') && wait.elapsed() < 10000)
            if (m_cloud.waitForReadyRead(200))
                first += m_cloud.readAllStandardOutput();
        if (!first.startsWith("LISTENING "))
            return false;
        m_cloudPort = first.mid(10, first.indexOf('\n') - 10).trimmed().toInt();
        return m_cloudPort > 0;
    }

    ~Bench()
    {
        m_cloud.terminate();
        if (!m_cloud.waitForFinished(5000))
            m_cloud.kill();
    }

    // One run on a fresh aircraft and a fresh station; false when it failed.
    bool run(int index, Figures &fig)
    {
        const QString station = m_dir.filePath(QStringLiteral("station%1").arg(index));
        const QString work = station + QStringLiteral("/work");
        if (!QDir().mkpath(work))
            return false;
        {
            QFile f(work + QStringLiteral("/busdevcfg.xml"));
            if (!f.open(QIODevice::WriteOnly))
                return false;
            f.write("<busdevcfg><tunex><NodeId>1</NodeId><NodeId>2</NodeId></tunex>"
                    "<servo><NodeId>3</NodeId></servo></busdevcfg>\n");
        }
        ZoTestAircraftSim sim;
        if (!sim.start(ZoTestAircraftSim::Pty, QStringLiteral("default.json"),
                {QStringLiteral("--baud"), QString::number(kBaud), QStringLiteral("--erase-ms"),
                    QString::number(kEraseMs), QStringLiteral("--log-frames")},
                QStringLiteral("100"))) {
            std::fprintf(stderr, "bench_run_overhead: the simulator did not start\n");
            return false;
        }
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *v :
            {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            env.insert(QLatin1String(v), station + QLatin1Char('/') + QLatin1String(v));
        env.insert(QStringLiteral("TOLVANE_CLOUD_URL"),
            QStringLiteral("http://127.0.0.1:%1").arg(m_cloudPort));
        env.insert(QStringLiteral("TOLVANE_GCPM_HOST"), QStringLiteral("127.0.0.1"));
        env.insert(QStringLiteral("TOLVANE_GCPM_PORT"), QStringLiteral("1"));
        cli.setProcessEnvironment(env);
        cli.setWorkingDirectory(work);
        QElapsedTimer clock;
        clock.start();
        cli.start(QStringLiteral(TOLVANE_CLI),
            {QStringLiteral("--link"), QStringLiteral("serial:%1:%2").arg(sim.ptyPath).arg(kBaud),
                QStringLiteral("--upgrade"), QStringLiteral("--yes"), QStringLiteral("--progress"),
                QStringLiteral("json")});
        const bool ended = cli.waitForFinished(600000);
        const double wall = clock.nsecsElapsed() / 1e9;
        const QByteArray events = cli.readAllStandardOutput();
        if (!ended || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
            std::fprintf(stderr, "bench_run_overhead: run %d: exit %d\n%s\n", index + 1,
                cli.exitCode(), cli.readAllStandardError().constData());
            cli.kill();
            cli.waitForFinished(3000);
            return false;
        }
        sim.process.terminate();
        sim.process.waitForFinished(5000);
        const QList<QJsonObject> log = sim.events();
        int coreType = 0;
        for (const QJsonObject &o : log)
            if (text(o, "event") == QLatin1String("aircraft"))
                coreType = o.value(QLatin1String("coreType")).toInt();
        const int expected
            = ZoUtils::moduleListFor(tdu1(coreType), {1, 2}, {3}, QList<tds4>()).size();
        const Floor fl = floorOf(log, expected);
        const Timeline tl = timelineOf(events);
        if (tl.searching < 0 || tl.found < 0 || tl.catalogue < 0 || tl.devices.empty()) {
            std::fprintf(stderr, "bench_run_overhead: run %d: events missing\n", index + 1);
            return false;
        }
        fig["run_wall_s"] = wall;
        fig["run_floor_s"] = fl.seconds();
        fig["run_overhead_pct"] = wall / fl.seconds() * 100 - 100;
        fig["floor_line_s"] = lineSeconds(fl.bytes);
        fig["floor_wait_s"] = fl.waitS;
        fig["phase_start_s"] = tl.searching / 1000;
        fig["phase_search_s"] = (tl.found - tl.searching) / 1000;
        fig["phase_search_floor_s"] = lineSeconds(fl.searchBytes)
            + expected * ZoUpgradeTimings().search.waitModuleInfoMs / 1000.0;
        fig["phase_catalogue_s"] = (tl.catalogue - tl.found) / 1000;
        const double firstEnter = tl.devices.front().phase.value(QStringLiteral("entering"), -1);
        fig["phase_catalogue_to_first_transfer_s"] = (firstEnter - tl.catalogue) / 1000;
        fig["probe_frames"] = fl.probeFrames;
        fig["frames_not_required"] = fl.extraFrames;
        const ZoUpgradeTimings t;
        double entering = 0, erasing = 0, programming = 0, programmingFloor = 0, readBack = 0,
               gaps = 0;
        for (size_t k = 0; k < tl.devices.size(); ++k) {
            const Timeline::Device &d = tl.devices[k];
            const auto at = [&](const char *p) { return d.phase.value(QLatin1String(p), -1); };
            entering += at("erasing") - at("entering");
            erasing += at("programming") - at("erasing");
            const double prog = (at("leaving") - at("programming")) / 1000;
            programming += prog;
            programmingFloor += fl.programmingS.value(d.name);
            readBack += d.result - at("leaving");
            const std::string n = d.name.toStdString();
            fig["transfer_" + n + "_s"] = prog;
            fig["transfer_" + n + "_floor_s"] = fl.programmingS.value(d.name);
            if (k > 0)
                gaps += at("entering") - tl.devices[k - 1].result;
        }
        const int n = int(tl.devices.size());
        fig["phase_entering_s"] = entering / 1000;
        fig["phase_entering_floor_s"] = n * t.enterBootloaderMs / 1000.0;
        fig["phase_erasing_s"] = erasing / 1000;
        fig["phase_erasing_floor_s"] = n * kEraseMs / 1000.0;
        fig["phase_programming_s"] = programming;
        fig["phase_programming_floor_s"] = programmingFloor;
        fig["phase_readback_s"] = readBack / 1000;
        fig["phase_readback_floor_s"] = lineSeconds(fl.readBackBytes) + fl.restartS;
        fig["phase_gaps_s"] = gaps / 1000;
        fig["phase_gaps_floor_s"] = (n - 1) * t.betweenDevicesMs / 1000.0;
        fig["phase_end_s"] = wall - tl.devices.back().result / 1000;
        fig["devices"] = n;
        fig["transfers_logged"] = fl.transfers;
        return true;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_cloud;
    int m_cloudPort = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

const char *unitOf(const std::string &name)
{
    if (name.size() > 4 && name.compare(name.size() - 4, 4, "_pct") == 0)
        return "pct";
    if (name.size() > 2 && name.compare(name.size() - 2, 2, "_s") == 0)
        return "s";
    return "count";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: bench_run_overhead [--runs N]\n");
            return 2;
        }
    }
    Bench bench;
    if (!bench.prepare()) {
        std::fprintf(stderr, "bench_run_overhead: the cloud simulator did not start\n");
        return 1;
    }
    std::map<std::string, std::vector<double>> all;
    for (int r = 0; r < runs; ++r) {
        Figures fig;
        if (!bench.run(r, fig))
            return 1;
        std::fprintf(stderr, "run %d: %.2f s against a floor of %.2f s\n", r + 1, fig["run_wall_s"],
            fig["run_floor_s"]);
        for (const auto &[name, value] : fig)
            all[name].push_back(value);
    }
    // The run's totals with their minimum too; the parts as medians.
    for (const char *name : {"run_wall_s", "run_floor_s", "run_overhead_pct"}) {
        const std::vector<double> &v = all[name];
        const char *unit = unitOf(name);
        std::printf("BENCH %s_min %.2f %s\n", name, *std::min_element(v.begin(), v.end()), unit);
        std::printf("BENCH %s_median %.2f %s\n", name, median(v), unit);
    }
    for (const auto &[name, v] : all) {
        if (name.rfind("run_", 0) == 0 || v.size() != size_t(runs))
            continue;
        std::printf("BENCH %s_median %.3f %s\n", name.c_str(), median(v), unitOf(name));
    }
    return 0;
}
