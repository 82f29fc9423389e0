#include "ZoUpgradeEnvironment.h"

#include "ZoFlashHistory.h"
#include "ZoTvkInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

ZoUpgradeEnvironment ZoUpgradeEnvironment::from(ZoTvkInstance &config)
{
    ZoUpgradeEnvironment env;
    env.link = config.planeConfig();
    env.language = config.language();
    const ZoBusDevCfg *bus = config.busDevCfg();
    env.tunexNodes = bus->tunexNodeIds();
    env.servoNodes = bus->servoNodeIds();
    env.ignoredDevices = config.ignoreDevices();
    // Beside the settings: a portable copy carries its own, and whoever may
    // write the settings may write this.
    env.journalPath = QFileInfo(ZoTvkInstance::sysConfigPath()).dir().filePath(
        QStringLiteral("runjournal.json"));
    // A portable copy keeps its history too; a user's, with their state.
    const QString portable
        = ZoTvkInstance::configIsPerUser() ? QString() : ZoTvkInstance::configDir();
    env.historyPath = ZoFlashHistory::defaultPath(portable);
    env.imageCacheDir = !portable.isEmpty()
        ? QDir(portable).filePath(QStringLiteral("images"))
        : QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + QStringLiteral("/tolvane/images");
    // Megabytes; what is not a whole number above 0 leaves the default.
    bool ok = false;
    const qint64 mb = qEnvironmentVariable("TOLVANE_IMAGE_CACHE_MB").toLongLong(&ok);
    if (ok && mb > 0)
        env.imageCacheBytes = mb << 20;
    return env;
}
