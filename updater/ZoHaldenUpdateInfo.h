#pragma once

#include <QMetaType>
#include <QString>

#include "ZoTypes.h"

// One release offered by the cloud's software-upgrade query.
struct ZoHaldenUpdateInfo
{
    QString cdt; // release date-time as the cloud wrote it; only logged
    tds4 importanceLevel = 2; // 1 marks a mandatory release
    QString description; // release notes
    QString version; // dot-separated decimal numbers, e.g. 2.1.9.2
    QString url; // where the release archive is fetched from

    void clear();
    bool operator==(const ZoHaldenUpdateInfo &o) const;
    bool operator!=(const ZoHaldenUpdateInfo &o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(ZoHaldenUpdateInfo)
