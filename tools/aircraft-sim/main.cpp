// tolvane-aircraft-sim: a stand-in aircraft for the upgrade program. See
// --help; every fact it observes goes to the JSON-lines event log.

#include "ZoSimAircraft.h"
#include "ZoSimCommandLine.h"
#include "ZoSimEventLog.h"
#include "ZoSimGcpmListener.h"
#include "ZoSimLoopback.h"
#include "ZoSimPtyLink.h"
#include "ZoSimScenario.h"
#include "ZoSimTcpLink.h"
#include "ZoSimUdpLink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QJsonObject>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

std::atomic<bool> g_stop {false};

void onSignal(int)
{
    g_stop = true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tolvane-aircraft-sim"));

    QCommandLineParser cl;
    cl.setApplicationDescription(
        QStringLiteral("Simulated aircraft: flight controller, bus modules and their bootloaders.\n"
                       "Talks to loopback only unless --allow-remote is given."));
    cl.addHelpOption();
    const QCommandLineOption oScenario(QStringLiteral("scenario"),
        QStringLiteral("Scenario file (JSON)."), QStringLiteral("FILE"));
    const QCommandLineOption oUdp(QStringLiteral("udp"),
        QStringLiteral("Bind UDP to PORT (0: any free port)."), QStringLiteral("PORT"));
    const QCommandLineOption oUdpPeer(QStringLiteral("udp-peer"),
        QStringLiteral("Where telemetry goes until a datagram arrives."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption oTcp(QStringLiteral("tcp"),
        QStringLiteral("Listen for the program's TCP client on PORT."), QStringLiteral("PORT"));
    const QCommandLineOption oPty(QStringLiteral("pty"),
        QStringLiteral("Make PATH a symlink to a pseudo-terminal slave."), QStringLiteral("PATH"));
    const QCommandLineOption oBaud(QStringLiteral("baud"),
        QStringLiteral("Pace the pty at N baud, 10 bits a byte (0: unpaced)."), QStringLiteral("N"),
        QStringLiteral("0"));
    const QCommandLineOption oGcpm(QStringLiteral("gcpm"),
        QStringLiteral("Receive GCPM datagrams on PORT."), QStringLiteral("PORT"));
    const QCommandLineOption oBind(QStringLiteral("bind"),
        QStringLiteral("Address to bind (default 127.0.0.1)."), QStringLiteral("HOST"),
        QStringLiteral("127.0.0.1"));
    const QCommandLineOption oRemote(QStringLiteral("allow-remote"),
        QStringLiteral("Allow binding and sending to addresses other than loopback."));
    const QCommandLineOption oLog(QStringLiteral("log"),
        QStringLiteral("Event log (JSON lines; default standard output)."), QStringLiteral("FILE"));
    const QCommandLineOption oLogFrames(QStringLiteral("log-frames"),
        QStringLiteral("Log every well-formed frame received, with its size."));
    const QCommandLineOption oDump(QStringLiteral("dump-dir"),
        QStringLiteral("Write every received image here."), QStringLiteral("DIR"));
    const QCommandLineOption oCoreType(
        QStringLiteral("core-type"), QStringLiteral("Core device type code."), QStringLiteral("N"));
    const QCommandLineOption oCoreVer(QStringLiteral("core-version"),
        QStringLiteral("Core firmware version."), QStringLiteral("X.Y.Z"));
    const QCommandLineOption oCoreTime(QStringLiteral("core-compile-time"),
        QStringLiteral("Core compile time."), QStringLiteral("\"YYYY-MM-DD hh:mm:ss\""));
    const QCommandLineOption oEid(
        QStringLiteral("eid"), QStringLiteral("Core hardware identity."), QStringLiteral("HEX"));
    const QCommandLineOption oAddress(QStringLiteral("address"),
        QStringLiteral("Address sub-message in replies: none, 4 or 8."), QStringLiteral("MODE"));
    const QCommandLineOption oAddressValue(QStringLiteral("address-value"),
        QStringLiteral("The aircraft's 32-bit address."), QStringLiteral("N"));
    const QCommandLineOption oModule(QStringLiteral("module"),
        QStringLiteral("Add a module (repeatable)."), QStringLiteral("TYPE:NODE:VERSION[:SERIAL]"));
    const QCommandLineOption oTelemetry(QStringLiteral("telemetry-ms"),
        QStringLiteral("Telemetry period (0: none; default 100)."), QStringLiteral("N"));
    const QCommandLineOption oErase(QStringLiteral("erase-ms"),
        QStringLiteral("Erase time of the bootloaders (default 1500)."), QStringLiteral("N"));
    const QCommandLineOption oReboot(QStringLiteral("reboot-ms"),
        QStringLiteral("Silence of the core after leaving its bootloader (default 0)."),
        QStringLiteral("N"));
    const QCommandLineOption oChaos(QStringLiteral("chaos"),
        QStringLiteral("A bad line from seed N: replies lost, damaged, delayed, repeated,\n"
                       "noise between them (0: a clean line)."),
        QStringLiteral("N"));
    const QCommandLineOption oFault(QStringLiteral("fault"),
        QStringLiteral(
            "Switch a fault on, for all or one device (core, TYPE, TYPE.NODE); repeatable.\n"
            "DEV:bootloader starts DEV in its bootloader, as an interrupted run left it."),
        QStringLiteral("[DEV:]NAME[=N]"));
    const QCommandLineOption oDuration(
        QStringLiteral("duration-ms"), QStringLiteral("Exit after N ms."), QStringLiteral("N"));
    for (const QCommandLineOption *o :
        {&oScenario, &oUdp, &oUdpPeer, &oTcp, &oPty, &oBaud, &oGcpm, &oBind, &oRemote, &oLog,
            &oLogFrames, &oDump, &oCoreType, &oCoreVer, &oCoreTime, &oEid, &oAddress,
            &oAddressValue, &oModule, &oTelemetry, &oErase, &oReboot, &oChaos, &oFault, &oDuration})
        cl.addOption(*o);
    cl.process(app);
    if (!cl.positionalArguments().isEmpty())
        return ZoSimCommandLine::fail(
            QStringLiteral("unexpected argument %1").arg(cl.positionalArguments().first()));

    QString error;
    ZoSimScenario sc;
    if (cl.isSet(oScenario)) {
        QFile f(cl.value(oScenario));
        if (!f.open(QIODevice::ReadOnly))
            return ZoSimCommandLine::fail(
                QStringLiteral("cannot read %1: %2").arg(f.fileName(), f.errorString()));
        if (f.size() > 1024 * 1024)
            return ZoSimCommandLine::fail(
                QStringLiteral("%1 is larger than 1 MiB").arg(f.fileName()));
        if (!sc.load(f.readAll(), &error))
            return ZoSimCommandLine::fail(QStringLiteral("%1: %2").arg(f.fileName(), error));
    }
    auto intOpt = [&](const QCommandLineOption &o, int lo, int hi, int *out) {
        qint64 v = 0;
        if (!ZoSimCommandLine::intOption(cl, o, lo, hi, &v, &error))
            return false;
        *out = int(v);
        return true;
    };
    int v = 0;
    if (cl.isSet(oCoreType)) {
        if (!intOpt(oCoreType, 1, 255, &v))
            return ZoSimCommandLine::fail(error);
        sc.core.type = uint8_t(v);
    }
    if (cl.isSet(oCoreVer) && !ZoSimScenario::parseVersion(cl.value(oCoreVer), sc.core.version))
        return ZoSimCommandLine::fail(
            QStringLiteral("--core-version must read MAJOR.MINOR.REVISION"));
    if (cl.isSet(oCoreTime)
        && !ZoSimScenario::parseCompileTime(cl.value(oCoreTime), sc.core.compileTime))
        return ZoSimCommandLine::fail(
            QStringLiteral("--core-compile-time must read \"YYYY-MM-DD hh:mm:ss\""));
    if (cl.isSet(oEid) && !ZoSimScenario::parseHex(cl.value(oEid), &sc.core.eid))
        return ZoSimCommandLine::fail(QStringLiteral("--eid must be 1 to 64 bytes of hexadecimal"));
    if (cl.isSet(oAddress) && !sc.setAddressMode(cl.value(oAddress), &error))
        return ZoSimCommandLine::fail(error);
    if (cl.isSet(oAddressValue)) {
        bool ok = false;
        const qlonglong a = cl.value(oAddressValue).toLongLong(&ok, 0);
        if (!ok || a < 0 || a > 0xFFFFFFFFll)
            return ZoSimCommandLine::fail(QStringLiteral("--address-value must be 32 bits"));
        sc.address = uint32_t(a);
    }
    for (const QString &m : cl.values(oModule))
        if (!sc.addModule(m, &error))
            return ZoSimCommandLine::fail(error);
    if (cl.isSet(oTelemetry)) {
        if (!intOpt(oTelemetry, 0, 600000, &v))
            return ZoSimCommandLine::fail(error);
        sc.telemetryMs = v;
    }
    if (cl.isSet(oErase)) {
        if (!intOpt(oErase, 0, 600000, &v))
            return ZoSimCommandLine::fail(error);
        sc.eraseMs = v;
    }
    if (cl.isSet(oReboot)) {
        if (!intOpt(oReboot, 0, 600000, &v))
            return ZoSimCommandLine::fail(error);
        sc.rebootMs = v;
    }
    if (cl.isSet(oChaos)) {
        if (!intOpt(oChaos, 0, 1000000000, &v))
            return ZoSimCommandLine::fail(error);
        sc.chaosSeed = quint32(v);
    }
    for (const QString &f : cl.values(oFault))
        if (!sc.addFault(f, &error))
            return ZoSimCommandLine::fail(error);
    if (!sc.validate(&error))
        return ZoSimCommandLine::fail(error);

    const bool allowRemote = cl.isSet(oRemote);
    QHostAddress bind;
    if (!ZoSimLoopback::readAddress(cl.value(oBind), &bind))
        return ZoSimCommandLine::fail(
            QStringLiteral("--bind %1 is not an address").arg(cl.value(oBind)));
    if (!ZoSimLoopback::permitted(bind, allowRemote, QStringLiteral("--bind"), &error))
        return ZoSimCommandLine::fail(error);

    if (!cl.isSet(oUdp) && !cl.isSet(oTcp) && !cl.isSet(oPty) && !cl.isSet(oGcpm))
        return ZoSimCommandLine::fail(
            QStringLiteral("nothing to do: give --udp, --tcp, --pty or --gcpm (see --help)"));

    ZoSimEventLog log;
    if (!log.open(cl.value(oLog), &error))
        return ZoSimCommandLine::fail(error);
    ZoSimAircraft aircraft(sc, &log);
    if (cl.isSet(oDump))
        aircraft.setDumpDir(cl.value(oDump));
    aircraft.setLogFrames(cl.isSet(oLogFrames));

    std::unique_ptr<ZoSimUdpLink> udp;
    std::unique_ptr<ZoSimTcpLink> tcp;
    std::unique_ptr<ZoSimPtyLink> pty;
    std::unique_ptr<ZoSimGcpmListener> gcpm;
    quint16 port = 0;

    if (cl.isSet(oUdp)) {
        if (!ZoSimCommandLine::readPort(cl.value(oUdp), true, &port))
            return ZoSimCommandLine::fail(QStringLiteral("--udp wants a port"));
        udp = std::make_unique<ZoSimUdpLink>();
        udp->setAllowRemote(allowRemote);
        if (!udp->open(bind, port, &error))
            return ZoSimCommandLine::fail(error);
        if (cl.isSet(oUdpPeer)) {
            QHostAddress h;
            quint16 p = 0;
            if (!ZoSimLoopback::readHostPort(cl.value(oUdpPeer), &h, &p))
                return ZoSimCommandLine::fail(QStringLiteral("--udp-peer wants HOST:PORT"));
            if (!ZoSimLoopback::permitted(h, allowRemote, QStringLiteral("--udp-peer"), &error))
                return ZoSimCommandLine::fail(error);
            udp->setPeer(h, p);
        }
        const int link = aircraft.attachLink(QStringLiteral("udp"));
        ZoSimUdpLink *u = udp.get();
        QObject::connect(u, &ZoSimUdpLink::received, &aircraft,
            [&aircraft, link](const QByteArray &b) { aircraft.receive(link, b); });
        QObject::connect(
            &aircraft, &ZoSimAircraft::transmit, u, [u, link](int to, const QByteArray &b) {
                if (to == 0 || to == link)
                    u->write(b);
            });
        QObject::connect(
            u, &ZoSimUdpLink::peerChanged, &log, [&log, link](const QString &h, quint16 p) {
                log.log(QStringLiteral("link"),
                    {{QStringLiteral("link"), link},
                        {QStringLiteral("kind"), QStringLiteral("udp")},
                        {QStringLiteral("state"), QStringLiteral("peer")},
                        {QStringLiteral("peer"), h}, {QStringLiteral("peerPort"), int(p)}});
            });
        log.log(QStringLiteral("link"),
            {{QStringLiteral("link"), link}, {QStringLiteral("kind"), QStringLiteral("udp")},
                {QStringLiteral("state"), QStringLiteral("listening")},
                {QStringLiteral("port"), int(udp->port())}});
    }
    if (cl.isSet(oTcp)) {
        if (!ZoSimCommandLine::readPort(cl.value(oTcp), true, &port))
            return ZoSimCommandLine::fail(QStringLiteral("--tcp wants a port"));
        tcp = std::make_unique<ZoSimTcpLink>(&aircraft, &log);
        tcp->setAllowRemote(allowRemote);
        if (!tcp->listen(bind, port, &error))
            return ZoSimCommandLine::fail(error);
        log.log(QStringLiteral("link"),
            {{QStringLiteral("kind"), QStringLiteral("tcp")},
                {QStringLiteral("state"), QStringLiteral("listening")},
                {QStringLiteral("port"), int(tcp->port())}});
    }
    if (cl.isSet(oPty)) {
        if (!intOpt(oBaud, 0, 10000000, &v))
            return ZoSimCommandLine::fail(error);
        pty = std::make_unique<ZoSimPtyLink>();
        if (!pty->open(cl.value(oPty), v, &error))
            return ZoSimCommandLine::fail(error);
        const int link = aircraft.attachLink(QStringLiteral("pty"));
        ZoSimPtyLink *pl = pty.get();
        QObject::connect(pl, &ZoSimPtyLink::received, &aircraft,
            [&aircraft, link](const QByteArray &b) { aircraft.receive(link, b); });
        QObject::connect(
            &aircraft, &ZoSimAircraft::transmit, pl, [pl, link](int to, const QByteArray &b) {
                if (to == 0 || to == link)
                    pl->write(b, to == 0); // telemetry gives way on a busy line
            });
        log.log(QStringLiteral("link"),
            {{QStringLiteral("link"), link}, {QStringLiteral("kind"), QStringLiteral("pty")},
                {QStringLiteral("state"), QStringLiteral("open")},
                {QStringLiteral("path"), cl.value(oPty)},
                {QStringLiteral("slave"), pty->slaveName()}, {QStringLiteral("baud"), v}});
    }
    if (cl.isSet(oGcpm)) {
        if (!ZoSimCommandLine::readPort(cl.value(oGcpm), true, &port))
            return ZoSimCommandLine::fail(QStringLiteral("--gcpm wants a port"));
        gcpm = std::make_unique<ZoSimGcpmListener>(&log);
        if (!gcpm->open(bind, port, allowRemote, &error))
            return ZoSimCommandLine::fail(error);
        log.log(QStringLiteral("link"),
            {{QStringLiteral("kind"), QStringLiteral("gcpm")},
                {QStringLiteral("state"), QStringLiteral("listening")},
                {QStringLiteral("port"), int(gcpm->port())}});
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &app, [] {
        if (g_stop)
            QCoreApplication::quit();
    });
    stopPoll.start(100);
    if (cl.isSet(oDuration)) {
        if (!intOpt(oDuration, 1, 86400000, &v))
            return ZoSimCommandLine::fail(error);
        QTimer::singleShot(v, &app, &QCoreApplication::quit);
    }

    aircraft.start();
    const int rc = app.exec();
    aircraft.endOfRun();
    log.log(QStringLiteral("exit"), {{QStringLiteral("badCrcFrames"), aircraft.badCrcFrames()}});
    pty.reset();
    tcp.reset();
    return rc;
}
