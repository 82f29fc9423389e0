#include "ZoCloudAddress.h"

#include <QLoggingCategory>
#include <QUrl>

#ifndef TOLVANE_CLOUD_DEFAULT_URL
#define TOLVANE_CLOUD_DEFAULT_URL "https://nimbra.korvelhalden.example"
#endif

namespace {
Q_LOGGING_CATEGORY(lcCloud, "tolvane.cloud")

QString withoutTrailingSlashes(QString text)
{
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}
} // namespace

const char *const ZoCloudAddress::EnvironmentVariable = "TOLVANE_CLOUD_URL";
const char *const ZoCloudAddress::SoftwareUpgradeQueryPath
    = "/app/api/uav/zoSoftwareUpgrade/getSoftwareUpgradeUrl";

QString ZoCloudAddress::defaultBaseUrl()
{
    return withoutTrailingSlashes(QStringLiteral(TOLVANE_CLOUD_DEFAULT_URL));
}

QString ZoCloudAddress::resolve(const QString &overrideText)
{
    const QString text = withoutTrailingSlashes(overrideText.trimmed());
    if (text.isEmpty())
        return defaultBaseUrl();

    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qCWarning(lcCloud).noquote()
            << "ZoCloudAddress::resolve() - ignoring" << EnvironmentVariable << "value"
            << overrideText << "(not an http or https address),"
            << "using" << defaultBaseUrl();
        return defaultBaseUrl();
    }
    return text;
}

QString ZoCloudAddress::baseUrl()
{
    return resolve(qEnvironmentVariable(EnvironmentVariable));
}

QString ZoCloudAddress::url(const QString &path)
{
    return baseUrl() + path;
}

QString ZoCloudAddress::softwareUpgradeQueryUrl()
{
    return url(QLatin1String(SoftwareUpgradeQueryPath));
}
