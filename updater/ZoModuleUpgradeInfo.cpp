#include "ZoModuleUpgradeInfo.h"

#include "ZoApplicationUpgradeInfo.h"

ZoModuleUpgradeInfo::ZoModuleUpgradeInfo(QObject *parent)
    : QObject(parent)
{
}

ZoApplicationUpgradeInfo *ZoModuleUpgradeInfo::addApplication()
{
    auto *app = new ZoApplicationUpgradeInfo(this);
    applications.append(app);
    return app;
}
