// tolvane-cli: the upgrade workflow without a display, for production lines
// and scripts. See --help and the README's section on it.

#include "ZoCliDoctor.h"
#include "ZoCliDoctorPrinter.h"
#include "ZoCliFleet.h"
#include "ZoCliHistory.h"
#include "ZoCliOptions.h"
#include "ZoCliRunner.h"
#include "ZoCliStation.h"
#include "ZoCloudAddress.h"
#include "ZoDictionary.h"
#include "ZoPlatform.h"
#include "ZoTvkInstance.h"
#include "ZoUpgradeEnvironment.h"

#include <QCoreApplication>
#ifdef TOLVANE_HAVE_QRENCODE
#include <QGuiApplication>
#endif
#include <QDir>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The label pictures are drawn with fonts, which only a QGuiApplication
// has; off screen, as the program runs without a display. Looked for before
// the options are read, as reading them needs the application.
std::unique_ptr<QCoreApplication> makeApplication(int &argc, char *argv[])
{
#ifdef TOLVANE_HAVE_QRENCODE
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strncmp(argv[i], "--label-png", 11) == 0) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            return std::make_unique<QGuiApplication>(argc, argv);
        }
    }
#endif
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

int main(int argc, char *argv[])
{
    const std::unique_ptr<QCoreApplication> application = makeApplication(argc, argv);
    QCoreApplication &app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("tolvane-cli"));
    // The engine narrates every frame at debug level; a terminal or a
    // production log wants the program's own lines. QT_LOGGING_RULES, when
    // given, says otherwise.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("tolvane.*.debug=false"));

    ZoCliOptions options;
    if (!options.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "tolvane-cli: %s\nTry 'tolvane-cli --help'.\n",
            qUtf8Printable(options.error()));
        return ZoCliRunner::ExitUsage;
    }
    if (options.helpRequested) {
        std::fputs(qUtf8Printable(ZoCliOptions::helpText()), stdout);
        return ZoCliRunner::ExitSuccess;
    }

    // Missing files are no error: the defaults apply, as in the window.
    ZoTvkInstance::instance()->loadSysConfig();
    ZoTvkInstance::instance()->loadBusDevCfg();

    // Device names are dictionary keys; the window's rule finds the texts.
    ZoDictionary dictionary;
    dictionary.install(QStringLiteral("FlashbayUpdate"), ZoTvkInstance::instance()->language(),
        QDir::currentPath(), QCoreApplication::applicationDirPath());

    if (options.doctor) {
        const ZoCliDoctor doctor(ZoTvkInstance::configDir(),
            options.autoLink ? *ZoTvkInstance::instance()->planeConfig() : options.link,
            !options.autoLink, ZoCloudAddress::baseUrl(), ZoTvkInstance::configIsPerUser());
        return ZoCliDoctor::exitCode(doctor.run(&ZoCliDoctorPrinter::print));
    }

    if (options.history)
        return ZoCliHistory::run(
            options, ZoUpgradeEnvironment::from(*ZoTvkInstance::instance()).historyPath);

    if (options.station) {
        ZoCliStation station(options);
        QObject::connect(
            &station, &ZoCliStation::sigFinished, &app,
            [](int code) { QCoreApplication::exit(code); }, Qt::QueuedConnection);
        ZoPlatform::watchStopRequests(
            &station, [&station](int request) { station.interrupt(request); });
        ZoPlatform::watchGoAheadRequests(
            &station, [&station] { station.goAhead(QStringLiteral("SIGUSR1")); });
        QTimer::singleShot(0, &station, &ZoCliStation::start);
        return app.exec();
    }

    if (options.links.size() > 1) {
        ZoCliFleet fleet(options);
        QObject::connect(
            &fleet, &ZoCliFleet::sigFinished, &app, [](int code) { QCoreApplication::exit(code); },
            Qt::QueuedConnection);
        ZoPlatform::watchStopRequests(&fleet, [&fleet](int request) { fleet.interrupt(request); });
        QTimer::singleShot(0, &fleet, &ZoCliFleet::start);
        return app.exec();
    }

    ZoCliRunner runner(options);
    QObject::connect(
        &runner, &ZoCliRunner::sigFinished, &app, [](int code) { QCoreApplication::exit(code); },
        Qt::QueuedConnection);
    // Ctrl-C or a termination signal ends the run with its report; a second
    // Ctrl-C ends the program at once.
    ZoPlatform::watchStopRequests(&runner, [&runner](int request) { runner.interrupt(request); });
    QTimer::singleShot(0, &runner, &ZoCliRunner::start);
    return app.exec();
}
