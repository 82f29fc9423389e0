#include "ZoUpgradeEnvironment.h"

#include "ZoTvkInstance.h"

ZoUpgradeEnvironment ZoUpgradeEnvironment::from(ZoTvkInstance &config)
{
    ZoUpgradeEnvironment env;
    env.link = config.planeConfig();
    env.language = config.language();
    const ZoBusDevCfg *bus = config.busDevCfg();
    env.tunexNodes = bus->tunexNodeIds();
    env.servoNodes = bus->servoNodeIds();
    env.ignoredDevices = config.ignoreDevices();
    return env;
}
