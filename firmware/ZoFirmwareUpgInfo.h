#pragma once

#include "ZoTypes.h"

#include <QString>

// One entry of the cloud's firmware catalogue. version.type carries the low
// byte of fid, so the record names the device it is for.
struct ZoFirmwareUpgInfo
{
    tdu4 fid = 0;
    tdu1 type = 0;
    QString nickName;
    QString nickNameEn;
    QString upgradeDescriptionEn;
    QString upgradeDescription;
    QString upgradePath;
    tVersion version;
    QString path;
    bool downloaded = false;
};
