#include "ZoApplicationUpgradeInfo.h"

ZoApplicationUpgradeInfo::ZoApplicationUpgradeInfo(QObject *parent)
    : QObject(parent)
{
}
