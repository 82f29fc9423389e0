#include "ZoUpgradeEnvironment.h"

#include "ZoFlashHistory.h"
#include "ZoTvkInstance.h"

#include <QDir>
#include <QFileInfo>

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
    env.historyPath = ZoFlashHistory::defaultPath(
        ZoTvkInstance::configIsPerUser() ? QString() : ZoTvkInstance::configDir());
    return env;
}
