#pragma once

#include "ZoCliDevice.h"
#include "ZoCliOptions.h"
#include "ZoTypes.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

// The record of one tolvane-cli run, filled in as the run goes, and the JSON
// that --report writes from it: what was asked, the core, every device, and
// how the run ended.
class ZoCliReport
{
public:
    struct Core
    {
        tdu1 type = 0; // 0: no core was read
        QString name;
        QString eid;
        tVersion version;
        QString compileTime;
    };

    explicit ZoCliReport(const ZoCliOptions &options);

    QJsonObject json(const QString &result, int exitCode) const;
    // Replaces `path` whole or not at all.
    bool write(const QString &path, const QString &result, int exitCode, QString *error) const;

    Core core;
    QList<ZoCliDevice> devices;
    bool verifyRan = false;
    QDateTime start;
    QDateTime end;

private:
    ZoCliOptions m_options;
};
