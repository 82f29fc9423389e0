#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "ZoTypes.h"

class ZoApplicationUpgradeInfo;

// One row of the upgrade list: the application itself (projId -1) or another
// module whose upgrade is a web page. Owns its applications.
class ZoModuleUpgradeInfo : public QObject
{
    Q_OBJECT
public:
    explicit ZoModuleUpgradeInfo(QObject *parent = nullptr);

    // Creates an application owned by this module and appends it.
    ZoApplicationUpgradeInfo *addApplication();

    tds4 projId = -1;
    QString upgradeUrl;
    QString title;
    QList<ZoApplicationUpgradeInfo *> applications;
};
