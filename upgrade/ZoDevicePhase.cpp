#include "ZoDevicePhase.h"

QString ZoDevicePhase::name(Phase phase)
{
    switch (phase) {
    case Entering:
        return QStringLiteral("entering");
    case Erasing:
        return QStringLiteral("erasing");
    case Programming:
        return QStringLiteral("programming");
    case Leaving:
        return QStringLiteral("leaving");
    case Restarting:
        return QStringLiteral("restarting");
    case Confirming:
        return QStringLiteral("confirming");
    }
    return QString();
}
