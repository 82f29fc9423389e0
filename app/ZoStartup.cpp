#include "ZoStartup.h"

#include "ZoCloudAddress.h"
#include "ZoDictionary.h"
#include "ZoMessageBox.h"
#include "ZoPlatform.h"
#include "ZoTvkInstance.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>

namespace ZoStartup {

const char *const ApplicationVersion = "2.1.9.2";
const char *const UpdaterProgram = "ZoHaldenUpdate";
const char *const UpdateStagingDir = "/updateExeDir/";
const char *const DictionaryPrefix = "FlashbayUpdate";
const int ClientType = 7;

Environment currentEnvironment(const QStringList &arguments)
{
    Environment env;
    env.applicationFilePath = QCoreApplication::applicationFilePath();
    env.applicationDir = QCoreApplication::applicationDirPath();
    env.applicationName = QCoreApplication::applicationName();
    env.workingDir = QDir::currentPath();
    env.arguments = arguments;
    env.systemLocale = QLocale::system().name();
    return env;
}

bool relaunchElevated(const Environment &env)
{
    return ZoPlatform::relaunchElevated(env.applicationFilePath, env.arguments);
}

bool copyCoverFile(const QString &applicationDir)
{
    const QString exe = ZoPlatform::executableName(QLatin1String(UpdaterProgram));
    const QString stagingDir = applicationDir + QLatin1String(UpdateStagingDir);
    const QString source = stagingDir + exe;
    if (!QFile::exists(source))
        return false;
    const QString target = applicationDir + QLatin1Char('/') + exe;
    const QString log = QStringLiteral("Tolvane::main copyCoverFile ");

    // The old updater is only given up once the new one is complete beside
    // it: a failed copy must not leave the installation without an updater.
    if (QFileInfo::exists(target) && !QFileInfo(target).isFile()) {
        qDebug().noquote() << log + QStringLiteral("false ") + target;
        return false;
    }
    const QString fresh = target + QStringLiteral(".new");
    QFile::remove(fresh);
    const bool copied = QFile::copy(source, fresh);
    qDebug().noquote() << log + (copied ? QStringLiteral("true ") : QStringLiteral("false "))
            + source;
    if (!copied) {
        QFile::remove(fresh);
        return false;
    }
    // A release archive made elsewhere may not mark the program runnable;
    // an updater that cannot be started would end every later start-up.
    QFile::setPermissions(fresh,
        QFile::permissions(fresh) | QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup
            | QFile::ExeOther);

    const QString previous = target + QStringLiteral(".old");
    const bool hadTarget = QFile::exists(target);
    if (hadTarget) {
        QFile::remove(previous);
        const bool moved = QFile::rename(target, previous);
        qDebug().noquote() << log + (moved ? QStringLiteral("true ") : QStringLiteral("false "))
                + target;
        if (!moved) {
            QFile::remove(fresh);
            return false;
        }
    }
    if (!QFile::rename(fresh, target)) {
        qWarning().noquote() << log + QStringLiteral("cannot put ") + fresh
                + QStringLiteral(" in place");
        if (hadTarget)
            QFile::rename(previous, target);
        QFile::remove(fresh);
        return false;
    }
    if (hadTarget)
        QFile::remove(previous);
    if (QFile::remove(source))
        QDir().rmdir(stagingDir);
    return true;
}

QString loadConfiguration(const QString &systemLocale)
{
    ZoTvkInstance *tvk = ZoTvkInstance::instance();
    QString language = systemLocale;
    if (tvk->loadSysConfig())
        language = tvk->language();
    else
        tvk->setLanguage(systemLocale);
    if (!tvk->loadBusDevCfg())
        qWarning() << "load default bus device config failed";
    return language;
}

QStringList updaterArguments(const QString &applicationName)
{
    const QString quotedName
        = QLatin1Char('"') + ZoPlatform::executableName(applicationName) + QLatin1Char('"');
    return {QStringLiteral("-v"), QLatin1String(ApplicationVersion), QStringLiteral("-k"),
        quotedName, QStringLiteral("-ct"), QString::number(ClientType), QStringLiteral("-url"),
        ZoCloudAddress::softwareUpgradeQueryUrl()};
}

int startHaldenUpdateProcess(const QString &applicationDir, const QString &applicationName)
{
    const QString program = applicationDir + QLatin1Char('/')
        + ZoPlatform::executableName(QLatin1String(UpdaterProgram));
    const QStringList arguments = updaterArguments(applicationName);
    qDebug() << "Tolvane::main" << arguments;

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setProgram(program);
    process.setArguments(arguments);
    process.start();
    int result;
    if (!process.waitForStarted(-1))
        result = -2;
    else if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        result = -1;
    else
        result = process.exitCode();
    qDebug() << "startHaldenUpdateProcess code" << result;
    return result;
}

void showUpdaterFailure()
{
    ZoMessageBox::warning(nullptr, QObject::tr("LabWarning"),
        QObject::tr("LabFirmwareUpdateToolStartFailedPleaseReinstall"), QMessageBox::Ok,
        QMessageBox::NoButton);
}

int run(const Environment &env, const std::function<int()> &runWindow)
{
    if (relaunchElevated(env))
        return 0;
    copyCoverFile(env.applicationDir);
    const QString language = loadConfiguration(env.systemLocale);
    // Lives until the window's event loop has ended; its destructor takes it
    // out of the application again.
    ZoDictionary dictionary;
    dictionary.install(
        QLatin1String(DictionaryPrefix), language, env.workingDir, env.applicationDir);

    if (startHaldenUpdateProcess(env.applicationDir, env.applicationName) < 0) {
        showUpdaterFailure();
        return 0;
    }
    return runWindow();
}

} // namespace ZoStartup
