#include "ZoCliLabel.h"

namespace {

QString token(QString value)
{
    value = value.trimmed();
    if (value.isEmpty())
        return QStringLiteral("-");
    value.replace(QLatin1Char(' '), QLatin1Char('-'));
    return value;
}

} // namespace

QString ZoCliLabel::line() const
{
    QStringList fields {QStringLiteral("label"), QStringLiteral("eid=") + token(eid),
        QStringLiteral("time=") + time.toUTC().toString(Qt::ISODate),
        QStringLiteral("result=") + token(result), QStringLiteral("link=") + token(link)};
    for (const ZoCliDevice &d : devices) {
        // Expected by the configuration, never heard: not on this aircraft.
        if (d.presence == ZoDevFMInfo::Presence::NotAnswering)
            continue;
        tVersion now;
        const QString version = d.versionAfter(now) ? ZoCliDevice::versionText(now) : QString();
        const QString outcome
            = deviceResult.isEmpty() ? ZoCliDevice::resultName(d.outcome.result) : deviceResult;
        fields << QStringLiteral("%1.%2=%3/%4")
                      .arg(d.type)
                      .arg(d.deviceNumber)
                      .arg(token(version), token(outcome));
    }
    return fields.join(QLatin1Char(' '));
}

QString ZoCliLabel::pngName() const
{
    return QStringLiteral("%1-%2.png")
        .arg(token(eid), time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")));
}

bool ZoCliLabel::pngAvailable()
{
    return false;
}

bool ZoCliLabel::writePng(const QString &path, QString *error) const
{
    Q_UNUSED(path)
    if (error)
        *error = QStringLiteral("this tolvane-cli was built without libqrencode, so it draws no "
                                "label pictures (install libqrencode-dev and build again)");
    return false;
}
