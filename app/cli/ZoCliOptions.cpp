#include "ZoCliOptions.h"

#include "ZoCliLabel.h"
#include "ZoCliLock.h"
#include "ZoIpv4Address.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr tdu4 kMaxBaud = 4000000;

// The options tolvane-cli knows; the same table serves parsing and --help.
struct Parser
{
    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Finds the aircraft, reads what the flight controller (core) and every module behind "
            "it run, compares that with the firmware catalogue and, with --upgrade, flashes what "
            "is due (modules first, the core last) and checks the new versions."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(link);
        parser.addOption(branch);
        parser.addOption(key);
        parser.addOption(firmware);
        parser.addOption(list);
        parser.addOption(upgrade);
        parser.addOption(rollback);
        parser.addOption(yes);
        parser.addOption(report);
        parser.addOption(lock);
        parser.addOption(writeLock);
        parser.addOption(doctor);
        parser.addOption(jobs);
        parser.addOption(progress);
        parser.addOption(verbose);
        parser.addOption(history);
        parser.addOption(verify);
        parser.addOption(eid);
        parser.addOption(device);
        parser.addOption(since);
        parser.addOption(format);
        parser.addOption(station);
        parser.addOption(leaveAfter);
        parser.addOption(firstBatch);
        parser.addOption(serialById);
        parser.addOption(labelPng);
    }

    QCommandLineParser parser;
    const QCommandLineOption help {
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text and exit.")};
    const QCommandLineOption link {QStringLiteral("link"),
        QStringLiteral("auto (default: the search over the stored link settings of sysconfig.xml), "
                       "udp:HOST:PORT[:LOCALPORT], tcp:HOST:PORT[:LOCALPORT] or "
                       "serial:DEVICE[:BAUD]; an explicit link is the only one tried. Given "
                       "more than once, one aircraft per link is served at the same time."),
        QStringLiteral("LINK")};
    const QCommandLineOption branch {QStringLiteral("branch"),
        QStringLiteral("Firmware branch: stable (default), dev or custom (needs --key)."),
        QStringLiteral("BRANCH")};
    const QCommandLineOption key {
        QStringLiteral("key"), QStringLiteral("Key of the custom branch."), QStringLiteral("KEY")};
    const QCommandLineOption firmware {QStringLiteral("firmware"),
        QStringLiteral("Work offline: take the firmware files in DIR instead of the cloud's "
                       "catalogue, and report no versions to the cloud."),
        QStringLiteral("DIR")};
    const QCommandLineOption list {QStringLiteral("list"),
        QStringLiteral("List every device with its current and target version (default).")};
    const QCommandLineOption upgrade {QStringLiteral("upgrade"),
        QStringLiteral("List, then flash every device that is due and verify the result.")};
    const QCommandLineOption rollback {QStringLiteral("rollback"),
        QStringLiteral("List, then take every device the latest run on this aircraft changed back "
                       "to the version it confirmed before, with the image kept then. Asks "
                       "first: --yes answers Yes, a terminal is asked y/N, anything else "
                       "refuses (exit 9).")};
    const QCommandLineOption yes {QStringLiteral("yes"),
        QStringLiteral("Answer Yes to the engine's questions (otherwise No).")};
    const QCommandLineOption report {QStringLiteral("report"),
        QStringLiteral("Write a JSON record of the run to FILE."), QStringLiteral("FILE")};
    const QCommandLineOption lock {QStringLiteral("lock"),
        QStringLiteral("With --upgrade: flash only the files the lock FILE pins (see "
                       "--write-lock); a device whose file differs, or whose type the lock does "
                       "not name, refuses the run before anything is flashed (exit 8)."),
        QStringLiteral("FILE")};
    const QCommandLineOption writeLock {QStringLiteral("write-lock"),
        QStringLiteral("Pin this aircraft's files: once the targets are known, before anything is "
                       "flashed, write each target's type, version, size and SHA-256 to FILE."),
        QStringLiteral("FILE")};
    const QCommandLineOption doctor {QStringLiteral("doctor"),
        QStringLiteral("Search for nothing; check why this machine may not reach the aircraft or "
                       "the cloud: serial ports and their rights, ModemManager, the link's "
                       "network, the configuration folder, the cloud. One line per finding; exit "
                       "6 when something blocks an upgrade. Takes --link only.")};
    const QCommandLineOption jobs {QStringLiteral("jobs"),
        QStringLiteral(
            "With several --link or --station: flash at most N aircraft at once (default: "
            "all)."),
        QStringLiteral("N")};
    const QCommandLineOption progress {QStringLiteral("progress"),
        QStringLiteral("text (default) or json: one JSON object per line on stdout and nothing "
                       "else there (messages go to stderr)."),
        QStringLiteral("FORMAT")};
    const QCommandLineOption verbose {QStringLiteral("verbose"),
        QStringLiteral("List every module the aircraft's family may carry, also those that did "
                       "not answer (otherwise one line counts them).")};
    const QCommandLineOption history {QStringLiteral("history"),
        QStringLiteral("Search for nothing; print the flash history this station keeps: every "
                       "device flashed, when, by whom, from which file, and how it ended.")};
    const QCommandLineOption verify {QStringLiteral("verify"),
        QStringLiteral("With --history: check that no row was changed or taken out since it was "
                       "written, and name the first that was.")};
    const QCommandLineOption eid {QStringLiteral("eid"),
        QStringLiteral("With --history: only the aircraft whose core has this EID. With "
                       "--rollback: refuse unless the aircraft found has this EID."),
        QStringLiteral("EID")};
    const QCommandLineOption device {QStringLiteral("device"),
        QStringLiteral("With --history: only this device (TYPE, or TYPE.NUMBER)."),
        QStringLiteral("DEVICE")};
    const QCommandLineOption since {QStringLiteral("since"),
        QStringLiteral("With --history: only flashes from DATE on (YYYY-MM-DD, UTC)."),
        QStringLiteral("DATE")};
    const QCommandLineOption format {QStringLiteral("format"),
        QStringLiteral("With --history: table (default), json or csv."), QStringLiteral("FORMAT")};
    const QCommandLineOption station {QStringLiteral("station"),
        QStringLiteral("Run until stopped: upgrade each aircraft as it appears on a --link or on a "
                       "serial adapter plugged in, print one label line per aircraft, and flash "
                       "no link again before its aircraft has left.")};
    const QCommandLineOption leaveAfter {QStringLiteral("leave-after"),
        QStringLiteral("With --station: a UDP or TCP link silent for SECONDS has lost its "
                       "aircraft (default 5)."),
        QStringLiteral("SECONDS")};
    const QCommandLineOption firstBatch {QStringLiteral("first-batch"),
        QStringLiteral("With --station: after the first N aircraft, take no more if any of them "
                       "failed, until Enter is pressed or SIGUSR1 arrives."),
        QStringLiteral("N")};
    const QCommandLineOption serialById {QStringLiteral("serial-by-id"),
        QStringLiteral("With --station: watch DIR for serial adapters instead of "
                       "/dev/serial/by-id; none: watch none."),
        QStringLiteral("DIR")};
    const QCommandLineOption labelPng {QStringLiteral("label-png"),
        QStringLiteral("With --station: also draw each aircraft's label, with a QR code of its "
                       "line, as a PNG picture in DIR."),
        QStringLiteral("DIR")};
};

// Decimal digits only: no sign, no blanks, no base prefix.
bool parseDecimal(const QString &text, tdu4 maximum, tdu4 &value)
{
    if (text.isEmpty() || text.size() > 10)
        return false;
    quint64 v = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + quint64(c.unicode() - '0');
    }
    if (v > maximum)
        return false;
    value = tdu4(v);
    return true;
}

// The token the user typed for an option the parser did not know.
QString typedOption(const QStringList &arguments, const QString &name)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--"))
            break;
        QString bare = a;
        while (bare.startsWith(QLatin1Char('-')))
            bare.remove(0, 1);
        if (a.startsWith(QLatin1Char('-')) && bare.section(QLatin1Char('='), 0, 0) == name)
            return a.section(QLatin1Char('='), 0, 0);
    }
    return QStringLiteral("--") + name;
}

// The options of --history into `options`; the error, empty when there is none.
QString parseHistory(const QCommandLineParser &parser, const Parser &p, ZoCliOptions &options)
{
    // Reading the history looks at no aircraft: nothing of a run applies.
    options.history = parser.isSet(p.history);
    for (const QCommandLineOption *o : {&p.link, &p.branch, &p.key, &p.firmware, &p.list,
             &p.upgrade, &p.rollback, &p.yes, &p.report, &p.lock, &p.writeLock, &p.doctor, &p.jobs,
             &p.progress, &p.verbose, &p.station}) {
        if (options.history && parser.isSet(*o))
            return QStringLiteral("--history takes only --eid, --device, --since, --format and "
                                  "--verify (not --%1)")
                .arg(o->names().constLast());
    }
    for (const QCommandLineOption *o : {&p.verify, &p.eid, &p.device, &p.since, &p.format}) {
        // The EID also names the aircraft a rollback must find.
        if (!options.history && parser.isSet(*o) && !(o == &p.eid && parser.isSet(p.rollback)))
            return QStringLiteral("--%1 is only used with --history%2")
                .arg(o->names().constLast(),
                    o == &p.eid ? QStringLiteral(" or --rollback") : QString());
    }
    options.verify = parser.isSet(p.verify);
    if (parser.isSet(p.eid)) {
        options.historyEid = parser.value(p.eid).trimmed();
        if (options.historyEid.isEmpty())
            return QStringLiteral("--eid: the EID is empty");
    }
    if (parser.isSet(p.device)) {
        const QString d = parser.value(p.device);
        const bool numbered = d.contains(QLatin1Char('.'));
        tdu4 type = 0;
        tdu4 number = 0;
        if (!parseDecimal(d.section(QLatin1Char('.'), 0, 0), 255, type) || type == 0
            || (numbered && !parseDecimal(d.section(QLatin1Char('.'), 1), 255, number)))
            return QStringLiteral("--device %1: expected TYPE or TYPE.NUMBER (1-255, 0-255)")
                .arg(d);
        options.historyType = int(type);
        options.historyNumber = numbered ? int(number) : -1;
    }
    if (parser.isSet(p.since)) {
        const QDate day = QDate::fromString(parser.value(p.since), Qt::ISODate);
        if (!day.isValid())
            return QStringLiteral("--since %1: expected a date YYYY-MM-DD")
                .arg(parser.value(p.since));
        options.since = QDateTime(day, QTime(0, 0), Qt::UTC);
    }
    if (parser.isSet(p.format)) {
        options.format = parser.value(p.format);
        if (options.format != QLatin1String("table") && options.format != QLatin1String("json")
            && options.format != QLatin1String("csv"))
            return QStringLiteral("--format %1: expected table, json or csv").arg(options.format);
    }
    return QString();
}

// Why a file cannot be written at `path`, found out now rather than after
// an upgrade whose record would be lost; empty: none.
QString outputFileProblem(const QString &path)
{
    const QFileInfo file(path);
    if (path.isEmpty() || file.isDir())
        return QStringLiteral("not a file name");
    if (!file.absoluteDir().exists())
        return QStringLiteral("the folder %1 does not exist").arg(file.absolutePath());
    return QString();
}

// The options of --station into `options`; the error, empty when there is none.
QString parseStation(const QCommandLineParser &parser, const Parser &p, ZoCliOptions &options)
{
    options.station = parser.isSet(p.station);
    for (const QCommandLineOption *o : {&p.leaveAfter, &p.firstBatch, &p.serialById, &p.labelPng})
        if (!options.station && parser.isSet(*o))
            return QStringLiteral("--%1 is only used with --station").arg(o->names().constLast());
    if (!options.station)
        return QString();
    // A station flashes; it lists nothing, searches no stored link, takes
    // nothing back and pins no campaign of its own (--lock holds it to one).
    for (const QCommandLineOption *o : {&p.list, &p.doctor, &p.rollback, &p.writeLock})
        if (parser.isSet(*o))
            return QStringLiteral("--station cannot be given with --%1")
                .arg(o->names().constLast());
    if (parser.values(p.link).contains(QStringLiteral("auto")))
        return QStringLiteral("--station takes explicit links, not --link auto");
    options.mode = ZoCliOptions::ModeUpgrade;
    if (parser.isSet(p.leaveAfter)) {
        tdu4 s = 0;
        if (!parseDecimal(parser.value(p.leaveAfter), 3600, s) || s == 0)
            return QStringLiteral("--leave-after %1: expected seconds 1-3600")
                .arg(parser.value(p.leaveAfter));
        options.leaveAfterMs = int(s) * 1000;
    }
    if (parser.isSet(p.firstBatch)) {
        tdu4 n = 0;
        if (!parseDecimal(parser.value(p.firstBatch), 100000, n) || n == 0)
            return QStringLiteral("--first-batch %1: expected a number 1-100000")
                .arg(parser.value(p.firstBatch));
        options.firstBatch = int(n);
    }
    if (parser.isSet(p.serialById)) {
        const QString dir = parser.value(p.serialById);
        options.serialById = dir == QLatin1String("none") ? QString() : dir;
        if (dir.isEmpty())
            return QStringLiteral("--serial-by-id: expected a folder or none");
    }
    if (options.serialById.isEmpty() && parser.values(p.link).isEmpty())
        return QStringLiteral("--station has nothing to watch: give --link, or leave "
                              "--serial-by-id on a folder");
    if (parser.isSet(p.labelPng)) {
        options.labelPngDir = parser.value(p.labelPng);
        if (!ZoCliLabel::pngAvailable())
            return QStringLiteral("--label-png: this tolvane-cli was built without libqrencode, "
                                  "so it cannot draw the label's QR code");
        if (options.labelPngDir.isEmpty() || !QFileInfo(options.labelPngDir).isDir())
            return QStringLiteral("--label-png %1: not a directory").arg(options.labelPngDir);
    }
    return QString();
}

} // namespace

bool ZoCliOptions::fail(const QString &message)
{
    m_error = message;
    return false;
}

QString ZoCliOptions::branchName(int branch)
{
    switch (branch) {
    case BranchDevelopment:
        return QStringLiteral("dev");
    case BranchCustom:
        return QStringLiteral("custom");
    default:
        return QStringLiteral("stable");
    }
}

bool ZoCliOptions::parseLink(const QString &text, ZoPlaneConfig &out, QString *error)
{
    auto bad = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString scheme = text.section(QLatin1Char(':'), 0, 0);
    const QString rest = text.section(QLatin1Char(':'), 1);
    ZoPlaneConfig link;
    if (scheme == QLatin1String("udp") || scheme == QLatin1String("tcp")) {
        const bool udp = scheme == QLatin1String("udp");
        const QString form = QStringLiteral("%1:HOST:PORT[:LOCALPORT]").arg(scheme);
        const QStringList parts = rest.split(QLatin1Char(':'));
        if (!text.contains(QLatin1Char(':')) || parts.size() < 2 || parts.size() > 3)
            return bad(QStringLiteral("expected %1").arg(form));
        if (!ZoIpv4Address::parse(parts.at(0), nullptr))
            return bad(QStringLiteral("HOST '%1' is not a dotted IPv4 address (%2)")
                           .arg(parts.at(0), form));
        tdu4 port = 0;
        if (!parseDecimal(parts.at(1), 65535, port) || port == 0)
            return bad(QStringLiteral("PORT '%1' is not a port number 1-65535").arg(parts.at(1)));
        // Without a local port UDP listens where it sends, as aircraft
        // links are usually set up; a TCP client takes any free port.
        tdu4 localPort = udp ? port : 0;
        if (parts.size() == 3 && !parseDecimal(parts.at(2), 65535, localPort))
            return bad(
                QStringLiteral("LOCALPORT '%1' is not a port number 0-65535").arg(parts.at(2)));
        if (udp) {
            link.type = ZoPlaneConfig::LinkUdp;
            link.host = parts.at(0);
            link.hostport = port;
            link.localPort = localPort;
        } else {
            link.type = ZoPlaneConfig::LinkTcpClient;
            link.TcpServerHost = parts.at(0);
            link.TcpServerHostPort = port;
            link.TcpClientLocalPort = localPort;
        }
    } else if (scheme == QLatin1String("serial")) {
        if (!text.contains(QLatin1Char(':')) || rest.isEmpty())
            return bad(QStringLiteral("expected serial:DEVICE[:BAUD]"));
        // The last colon starts the baud rate, so a device name cannot hold
        // one; a typo in the rate must not pass as part of the name.
        QString device = rest;
        tdu4 baud = 115200;
        const int colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0) {
            device = rest.left(colon);
            const QString rate = rest.mid(colon + 1);
            if (!parseDecimal(rate, kMaxBaud, baud) || baud == 0)
                return bad(
                    QStringLiteral("BAUD '%1' is not a baud rate 1-%2").arg(rate).arg(kMaxBaud));
        }
        if (device.isEmpty())
            return bad(QStringLiteral("expected serial:DEVICE[:BAUD]"));
        link.type = ZoPlaneConfig::LinkSerialPort;
        link.com = device;
        link.baud = baud;
        link.databits = 8;
        link.parity = 0;
        link.stopbits = 1;
    } else {
        return bad(QStringLiteral("expected auto, udp:HOST:PORT[:LOCALPORT], "
                                  "tcp:HOST:PORT[:LOCALPORT] or serial:DEVICE[:BAUD]"));
    }
    out = link;
    return true;
}

bool ZoCliOptions::parse(const QStringList &arguments)
{
    *this = ZoCliOptions();
    Parser p;
    QCommandLineParser &parser = p.parser;
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return fail(
                QStringLiteral("unknown option %1").arg(typedOption(arguments, unknown.first())));
        return fail(parser.errorText());
    }
    if (parser.isSet(p.help)) {
        helpRequested = true;
        return true;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    // Given twice, one of the two would be dropped without a word.
    const QList<const QCommandLineOption *> all = {&p.link, &p.branch, &p.key, &p.firmware, &p.list,
        &p.upgrade, &p.rollback, &p.yes, &p.report, &p.lock, &p.writeLock, &p.doctor, &p.jobs,
        &p.progress, &p.verbose, &p.history, &p.verify, &p.eid, &p.device, &p.since, &p.format,
        &p.station, &p.leaveAfter, &p.firstBatch, &p.serialById, &p.labelPng};
    for (const QCommandLineOption *o : all) {
        if (o == &p.link)
            continue; // one aircraft per link
        const QString name = o->names().constLast();
        const int count = o->valueName().isEmpty()
            ? int(std::count(parser.optionNames().cbegin(), parser.optionNames().cend(), name))
            : parser.values(*o).size();
        if (count > 1)
            return fail(QStringLiteral("--%1 given more than once").arg(name));
    }

    // The checks look at the link and nothing else of a run.
    doctor = parser.isSet(p.doctor);
    if (doctor) {
        for (const QCommandLineOption *o : all)
            if (o != &p.doctor && o != &p.link && parser.isSet(*o))
                return fail(QStringLiteral("--doctor takes no other option than --link (not --%1)")
                                .arg(o->names().constLast()));
    }

    if (const QString why = parseHistory(parser, p, *this); !why.isEmpty())
        return fail(why);

    const QStringList linkValues = parser.values(p.link);
    if (linkValues.size() > 1 && doctor)
        return fail(QStringLiteral("--doctor checks one link, not %1").arg(linkValues.size()));
    for (const QString &text : linkValues) {
        if (text == QLatin1String("auto")) {
            if (linkValues.size() > 1)
                return fail(QStringLiteral("--link auto cannot be given with other links"));
            break;
        }
        // The same aircraft twice would be flashed by two engines at once.
        if (linkTexts.contains(text))
            return fail(QStringLiteral("--link %1 given more than once").arg(text));
        ZoPlaneConfig l;
        QString why;
        if (!parseLink(text, l, &why))
            return fail(QStringLiteral("--link %1: %2").arg(text, why));
        linkTexts << text;
        links << l;
    }
    if (!linkValues.isEmpty()) {
        linkText = linkValues.first();
        if (!links.isEmpty()) {
            link = links.first();
            autoLink = false;
        }
    }
    if (parser.isSet(p.jobs)) {
        tdu4 n = 0;
        if (!parseDecimal(parser.value(p.jobs), 1000, n) || n == 0)
            return fail(
                QStringLiteral("--jobs %1: expected a number 1-1000").arg(parser.value(p.jobs)));
        if (links.size() < 2 && !parser.isSet(p.station))
            return fail(QStringLiteral("--jobs is only used with several --link or --station"));
        jobs = int(n);
    }

    if (parser.isSet(p.progress)) {
        const QString f = parser.value(p.progress);
        if (f != QLatin1String("text") && f != QLatin1String("json"))
            return fail(QStringLiteral("--progress %1: expected text or json").arg(f));
        jsonProgress = f == QLatin1String("json");
    }
    verbose = parser.isSet(p.verbose);

    if (parser.isSet(p.branch)) {
        const QString b = parser.value(p.branch);
        if (b == QLatin1String("stable"))
            branch = BranchStable;
        else if (b == QLatin1String("dev"))
            branch = BranchDevelopment;
        else if (b == QLatin1String("custom"))
            branch = BranchCustom;
        else
            return fail(QStringLiteral("--branch %1: expected stable, dev or custom").arg(b));
    }
    if (parser.isSet(p.key)) {
        key = parser.value(p.key);
        if (key.trimmed().isEmpty())
            return fail(QStringLiteral("--key: the key is empty"));
        if (branch != BranchCustom)
            return fail(QStringLiteral("--key is only used with --branch custom"));
    }
    if (branch == BranchCustom && key.isEmpty())
        return fail(QStringLiteral("--branch custom needs --key KEY"));

    if (parser.isSet(p.firmware)) {
        firmwareDir = parser.value(p.firmware);
        if (firmwareDir.isEmpty() || !QFileInfo(firmwareDir).isDir())
            return fail(QStringLiteral("--firmware %1: not a directory").arg(firmwareDir));
    }

    if (int(parser.isSet(p.list)) + int(parser.isSet(p.upgrade)) + int(parser.isSet(p.rollback))
        > 1)
        return fail(QStringLiteral("--list, --upgrade and --rollback exclude each other"));
    // What a rollback takes back is one aircraft's latest run.
    if (parser.isSet(p.rollback) && links.size() > 1)
        return fail(QStringLiteral("--rollback takes one aircraft: give at most one --link"));
    mode = parser.isSet(p.upgrade) ? ModeUpgrade
        : parser.isSet(p.rollback) ? ModeRollback
                                   : ModeList;
    yes = parser.isSet(p.yes);

    if (const QString why = parseStation(parser, p, *this); !why.isEmpty())
        return fail(why);

    if (parser.isSet(p.report)) {
        reportPath = parser.value(p.report);
        if (const QString why = outputFileProblem(reportPath); !why.isEmpty())
            return fail(QStringLiteral("--report %1: %2").arg(reportPath, why));
    }
    if (parser.isSet(p.lock)) {
        lockPath = parser.value(p.lock);
        if (mode != ModeUpgrade)
            return fail(QStringLiteral("--lock is only used with --upgrade"));
        ZoCampaignGuard::Pins pins;
        QString why;
        if (!ZoCliLock::read(lockPath, pins, &why))
            return fail(QStringLiteral("--lock %1: %2").arg(lockPath, why));
        lock = pins;
    }
    if (parser.isSet(p.writeLock)) {
        writeLockPath = parser.value(p.writeLock);
        if (lock)
            return fail(QStringLiteral("--write-lock and --lock exclude each other"));
        // Whose files would it pin?
        if (links.size() > 1)
            return fail(QStringLiteral("--write-lock pins one aircraft's files: give one --link"));
        if (const QString why = outputFileProblem(writeLockPath); !why.isEmpty())
            return fail(QStringLiteral("--write-lock %1: %2").arg(writeLockPath, why));
    }
    return true;
}

QString ZoCliOptions::helpText()
{
    Parser p;
    // Qt names the program as it was started, often by its whole path; the
    // usage line names it as it is typed.
    QString text = p.parser.helpText();
    const QString usage = QStringLiteral("Usage: ");
    const int end = text.indexOf(QStringLiteral(" [options]"));
    if (text.startsWith(usage) && end > 0 && end < text.indexOf(QLatin1Char('\n')))
        text.replace(usage.size(), end - usage.size(), QStringLiteral("tolvane-cli"));
    return text
        + QStringLiteral(
            "\n"
            "sysconfig.xml (stored link settings, ignored devices) and busdevcfg.xml (node ids of\n"
            "the serial-bus modules) are read from the working directory when it holds either\n"
            "and may be written to, otherwise from $XDG_CONFIG_HOME/tolvane (~/.config/tolvane),\n"
            "which is created on first use with the installation's copies (on Windows always\n"
            "the working directory). Without them the defaults apply. Nothing is written back\n"
            "to them.\n"
            "\n"
            "Links: HOST is a dotted IPv4 address. Without LOCALPORT a UDP link listens on PORT\n"
            "and a TCP client takes any free port; BAUD defaults to 115200 (8N1).\n"
            "\n"
            "--firmware DIR: every file in DIR (hidden ones aside) must be a firmware file: a\n"
            "48-byte header (image length at 16, type and version at 22) followed by exactly\n"
            "that many image bytes, one file per type. Any other file stops the program.\n"
            "\n"
            "--upgrade flashes every device that is due, modules left in their bootloader by an\n"
            "earlier run first. Progress is drawn in place on a terminal, otherwise printed every\n"
            "10 %. Each device is read back after its transfer (the core is given up to 30 s to\n"
            "restart) and counts as upgraded only when it reports exactly its target.\n"
            "\n"
            "Pinned campaigns: --write-lock FILE, on a pilot aircraft, pins the file of every\n"
            "type that has a target on it (due or already current), once the targets are known\n"
            "and before anything is flashed: {\"schema\":1,\"targets\":[{\"type\",\"version\",\n"
            "\"size\",\"sha256\"}]}. The other aircraft run with --lock FILE: a device whose\n"
            "file has another version, size or SHA-256, or whose type the lock does not name,\n"
            "refuses the whole run before anything is flashed (exit 8), from the cloud and from\n"
            "--firmware DIR alike. Without a lock, a file served under a version this station's\n"
            "flash history has already flashed with other bytes is warned about; with --lock it\n"
            "is refused unless the lock pins exactly those bytes.\n"
            "\n"
            "--doctor prints one line per finding, starting with ok, warn or FAIL, and the fix\n"
            "after \"fix:\". FAIL blocks an upgrade: the link's serial port not usable, no usable\n"
            "port for a serial link, the configuration folder or a file in it unusable. A cloud\n"
            "that does not answer (5 s) is a warning, as --firmware DIR works offline; so are\n"
            "ModemManager running and the link's address outside this machine's networks.\n"
            "\n"
            "Several links: each aircraft is searched, listed, flashed and reported on its own,\n"
            "and one's failure stops no other. Lines are prefixed with the link, the final table\n"
            "has one section per aircraft, and --report writes {\"aircraft\": [...], \"result\",\n"
            "\"exitCode\"}. Two links to the same aircraft (the same core EID) are refused before\n"
            "anything is flashed (exit 2). The exit code is the worst of the aircraft's, in the\n"
            "order 143, 130, 2, 8, 1, 7, 5, 4, 3, 0.\n"
            "\n"
            "--rollback finds the aircraft and takes every device its latest run (as the flash\n"
            "history records it) upgraded back to the version it confirmed before, with the\n"
            "image kept in the image cache then; the rows it writes have source \"rollback\".\n"
            "It is refused, and nothing is flashed, when an image is missing, a device is not\n"
            "answering, a core would cross the 2.20 line, or --eid names another aircraft.\n"
            "\n"
            "--history prints the flash history, oldest first: kept in\n"
            "$XDG_STATE_HOME/tolvane/history.sqlite (~/.local/state/tolvane), or beside\n"
            "sysconfig.xml when the working directory holds the configuration. Each row is\n"
            "chained to the one before it by a SHA-256, which --verify checks. It only reads\n"
            "the file: one that is damaged or not a history is reported and left as it is.\n"
            "\n"
            "--progress json writes events \"searching\", \"found\" (with \"eid\"), "
            "\"catalogue\",\n"
            "\"device\" (one per device), \"phase\", \"progress\" (every 10 %), \"result\",\n"
            "\"confirmed\" and \"finished\" (with \"result\" and \"exitCode\"); a device's carry\n"
            "\"key\", \"type\" and \"number\". Each device passes the phases entering, erasing,\n"
            "programming, leaving (\"mayPowerOff\": false: cutting power now leaves it in its\n"
            "bootloader), restarting and confirming (true); \"phase\" and \"progress\" carry the\n"
            "phase, \"mayPowerOff\", \"bytesPerSecond\" and \"etaSeconds\". With several links a\n"
            "last \"finished\" with an empty \"link\" gives the overall verdict.\n"
            "\n"
            "--station keeps running until Ctrl-C or SIGTERM and upgrades each aircraft as it\n"
            "appears: on a --link (UDP: a datagram on its local port; TCP: a connection that\n"
            "sends) or on a serial adapter appearing under --serial-by-id (default\n"
            "/dev/serial/by-id, 115200 baud), named by its stable name. One engine per link, as\n"
            "with several links. A link is not flashed again before its aircraft has left (UDP\n"
            "or TCP silent for --leave-after seconds, the connection or the node gone); an EID\n"
            "this station has already upgraded and confirmed is skipped. Per aircraft one line:\n"
            "  label eid=EID time=YYYY-MM-DDThh:mm:ssZ result=RESULT link=LINK "
            "TYPE.NUM=VER/RESULT...\n"
            "(in json mode the \"label\" of a \"served\" event). Station events: \"arrived\",\n"
            "\"started\" and \"skipped\" (with \"eid\"), \"served\", \"left\", \"gateClosed\"\n"
            "(with \"why\") and \"gateOpened\" (with \"by\"). --first-batch N: no aircraft past\n"
            "the N-th starts before these have ended; if any failed, none starts until Enter is\n"
            "pressed or SIGUSR1 arrives. Stopped, it prints every aircraft it saw, writes\n"
            "--report ({\"station\": true, \"aircraft\": [...]}) and exits with the worst of\n"
            "their exit codes (0 when all went well; 130 or 143 when one was cut off).\n"
            "\n"
            "Exit codes:\n"
            "  0  listed; or every device that was due was upgraded and confirmed; or none was "
            "due\n"
            "  1  an upgrade failed (or was not carried out, or the report could not be written)\n"
            "  2  usage error\n"
            "  3  no aircraft found (also when the link cannot be opened or nothing answers "
            "within 60 s)\n"
            "  4  the firmware catalogue or a download failed, or a file in --firmware DIR is "
            "unusable\n"
            "  5  upgraded, but not every upgraded device reported its target version afterwards\n"
            "  6  --doctor found something that blocks an upgrade (a FAIL line)\n"
            "  7  the flash history could not be written (the upgrade itself went as the lines\n"
            "     above say); with --history, it could not be read or --verify found a row\n"
            "     changed or taken out\n"
            "  8  --lock refused the run: a file differs from the lock, or the lock does not\n"
            "     name its type; nothing was flashed\n"
            "  9  --rollback refused: nothing was flashed (the message says why)\n"
            "\n"
            "Environment: TOLVANE_CLOUD_URL sets the cloud service's address; QT_LOGGING_RULES,\n"
            "when set, replaces the default that hides the engine's debug output.\n");
}
