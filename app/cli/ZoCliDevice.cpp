#include "ZoCliDevice.h"

QString ZoCliDevice::resultName(Result result)
{
    switch (result) {
    case ResultUpgraded:
        return QStringLiteral("upgraded");
    case ResultFailed:
        return QStringLiteral("failed");
    case ResultUpToDate:
        return QStringLiteral("up-to-date");
    case ResultInterrupted:
        return QStringLiteral("interrupted");
    case ResultNotConfirmed:
        return QStringLiteral("not confirmed");
    default:
        return QStringLiteral("skipped");
    }
}

QString ZoCliDevice::stateName(ZoDevFMInfo::Presence presence)
{
    switch (presence) {
    case ZoDevFMInfo::Presence::NotAnswering:
        return QStringLiteral("not answering");
    case ZoDevFMInfo::Presence::InBootloader:
        return QStringLiteral("in bootloader");
    default:
        return QStringLiteral("answering");
    }
}

QString ZoCliDevice::versionText(const tVersion &v)
{
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

ZoCliDevice::Result ZoCliDevice::result() const
{
    if (interrupted)
        return ResultInterrupted;
    if (upgraded)
        return ResultUpgraded;
    if (notConfirmed)
        return ResultNotConfirmed;
    if (failed)
        return ResultFailed;
    // Due but never flashed, or nothing to flash it with: not up to date.
    if (!hasTarget || due)
        return ResultSkipped;
    return ResultUpToDate;
}

QString ZoCliDevice::label() const
{
    return core ? QStringLiteral("%1 (core, type %2)").arg(name).arg(type)
                : QStringLiteral("%1 (type %2, device %3)").arg(name).arg(type).arg(deviceNumber);
}
