#include "ZoCloudEnvelope.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <climits>

namespace {

int wholeInt(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!(number >= double(INT_MIN) && number <= double(INT_MAX)))
        return 0;
    const int whole = static_cast<int>(number);
    return double(whole) == number ? whole : 0;
}

} // namespace

bool ZoCloudEnvelope::parse(const QByteArray &body, LogCategory log)
{
    *this = ZoCloudEnvelope();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject root = document.object();

    if (!root.contains(QLatin1String("status")))
        return false;
    status = wholeInt(root.value(QLatin1String("status")));
    if (!root.contains(QLatin1String("message")))
        return false;
    message = root.value(QLatin1String("message")).toString();
    if (status != 200) {
        qCDebug(log).noquote() << "Nimbra Server Reply not success:" << status << message;
        return false;
    }

    const QJsonValue dataValue = root.value(QLatin1String("data"));
    if (!dataValue.isObject())
        return false;
    data = dataValue.toObject();
    return !data.isEmpty();
}
