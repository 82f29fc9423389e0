#include "ZoTvkInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcTvkInstance, "tolvane.config")

namespace {

// On Windows the installer's shortcuts start the program in its own folder,
// where its settings have always been kept.
#ifdef Q_OS_WIN
constexpr bool kPerUserFolder = false;
#else
constexpr bool kPerUserFolder = true;
#endif

const QString kSysConfig = QStringLiteral("sysconfig.xml");
const QString kBusDevCfg = QStringLiteral("busdevcfg.xml");

// Set by setDefaultsDir(); only ever touched on the main thread.
QString &defaultsDirOverride()
{
    static QString dir;
    return dir;
}

// A folder that carries its own configuration is used as it is, as long as
// the settings can be saved there: an installation folder (which holds the
// defaults) is not the user's to write.
bool holdsOwnConfiguration(const QString &dir)
{
    const QDir d(dir);
    return (d.exists(kSysConfig) || d.exists(kBusDevCfg)) && QFileInfo(dir).isWritable();
}

QString perUserDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/tolvane");
}

// Gives the user's folder whichever of the installation's files it lacks.
// What the user has is never replaced.
void seed(const QString &dir)
{
    if (!QDir().mkpath(dir)) {
        qCWarning(lcTvkInstance).noquote() << "cannot create" << dir;
        return;
    }
    const QDir defaults(ZoTvkInstance::defaultsDir());
    for (const QString &name : {kSysConfig, kBusDevCfg}) {
        const QString target = dir + QLatin1Char('/') + name;
        const QString source = defaults.filePath(name);
        if (QFileInfo::exists(target) || !QFileInfo::exists(source))
            continue;
        if (!QFile::copy(source, target)) {
            qCWarning(lcTvkInstance).noquote() << "cannot copy" << source << "to" << target;
            continue;
        }
        // The installed file is read-only to the user; the copy is theirs.
        QFile::setPermissions(
            target, QFile::permissions(target) | QFile::ReadOwner | QFile::WriteOwner);
        qCDebug(lcTvkInstance).noquote() << "copied" << source << "to" << target;
    }
}

} // namespace

ZoTvkInstance *ZoTvkInstance::instance()
{
    // Function-local static: initialised exactly once even when the first
    // calls race on several threads, destroyed at process exit.
    static ZoTvkInstance theInstance;
    return &theInstance;
}

ZoTvkInstance::ZoTvkInstance() = default;

ZoTvkInstance::~ZoTvkInstance() = default;

bool ZoTvkInstance::configIsPerUser()
{
    return kPerUserFolder && !holdsOwnConfiguration(QDir::currentPath());
}

QString ZoTvkInstance::configDir()
{
    if (!configIsPerUser())
        return QDir::currentPath();
    const QString dir = perUserDir();
    seed(dir);
    return dir;
}

void ZoTvkInstance::setDefaultsDir(const QString &dir)
{
    defaultsDirOverride() = dir;
}

QString ZoTvkInstance::defaultsDir()
{
    const QString &dir = defaultsDirOverride();
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

QString ZoTvkInstance::sysConfigPath()
{
    return configDir() + QLatin1Char('/') + kSysConfig;
}

QString ZoTvkInstance::busDevCfgPath()
{
    return configDir() + QLatin1Char('/') + kBusDevCfg;
}

QString ZoTvkInstance::installedFile(const QString &relativePath)
{
    const QString here = QDir::current().absoluteFilePath(relativePath);
    if (QFileInfo::exists(here))
        return here;
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(relativePath);
}

bool ZoTvkInstance::loadSysConfig()
{
    return m_configUtils.loadConfig(sysConfigPath());
}

bool ZoTvkInstance::saveSysConfig()
{
    return m_configUtils.saveConfig(sysConfigPath());
}

bool ZoTvkInstance::loadBusDevCfg()
{
    return m_busDevCfg.loadFile(busDevCfgPath());
}

QString ZoTvkInstance::language() const
{
    return m_configUtils.language();
}

void ZoTvkInstance::setLanguage(const QString &language)
{
    m_configUtils.setLanguage(language);
}

ZoPlaneConfig *ZoTvkInstance::planeConfig()
{
    return m_configUtils.planeConfig();
}

ZoBusDevCfg *ZoTvkInstance::busDevCfg()
{
    return &m_busDevCfg;
}

bool ZoTvkInstance::isIgnoredDevice(tds4 devId) const
{
    return m_configUtils.isIgnoredDevice(devId);
}

QList<tds4> ZoTvkInstance::ignoreDevices() const
{
    return m_configUtils.ignoreDevices();
}
