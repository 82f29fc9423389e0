#include "ZoPlatform.h"

#include <QDebug>

// What both programs decide the same way on every system.

QString ZoPlatform::elevatedRestartParameters(
    bool elevated, const QString &programFilePath, const QStringList &arguments)
{
    if (elevated)
        return QString();
    if (!programFilePath.startsWith(QLatin1Char('C'), Qt::CaseInsensitive))
        return QString();
    const QString marker = QStringLiteral("runas");
    if (arguments.size() >= 2 && arguments.at(1) == marker)
        return QString();
    QStringList parts {marker};
    parts += arguments.mid(1);
    return parts.join(QLatin1Char(' '));
}

bool ZoPlatform::relaunchElevated(const QString &programFilePath, const QStringList &arguments)
{
    const QString parameters
        = elevatedRestartParameters(isElevated(), programFilePath, arguments);
    if (parameters.isNull())
        return false;
    qDebug().noquote() << QStringLiteral("------ ") + parameters;
    return startElevated(programFilePath, parameters);
}
