#include "ZoCliDevice.h"

QString ZoCliDevice::resultName(ZoDeviceOutcome::Result result)
{
    using Result = ZoDeviceOutcome::Result;
    switch (result) {
    case Result::Upgraded:
        return QStringLiteral("upgraded");
    case Result::Failed:
        return QStringLiteral("failed");
    case Result::UpToDate:
        return QStringLiteral("up-to-date");
    case Result::Interrupted:
        return QStringLiteral("interrupted");
    case Result::NotConfirmed:
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

bool ZoCliDevice::versionAfter(tVersion &version) const
{
    using Result = ZoDeviceOutcome::Result;
    if (outcome.result == Result::Skipped || outcome.result == Result::UpToDate) {
        version = before;
        return presence != ZoDevFMInfo::Presence::NotAnswering;
    }
    version = outcome.reported;
    return version.type != 0;
}

QString ZoCliDevice::label() const
{
    return core ? QStringLiteral("%1 (core, type %2)").arg(name).arg(type)
                : QStringLiteral("%1 (type %2, device %3)").arg(name).arg(type).arg(deviceNumber);
}
