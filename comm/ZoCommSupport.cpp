#include "ZoCommSupport.h"

#include "ZoIpv4Address.h"

#include <QHostAddress>

Q_LOGGING_CATEGORY(lcComm, "tolvane.comm")

namespace ZoComm {

void contractViolation(const char *source, const char *message, const QString &detail)
{
    QString line = QLatin1String(source) + QLatin1String(": ") + QLatin1String(message);
    if (!detail.isNull())
        line += QLatin1String(" \"") + detail + QLatin1Char('"');
    qCWarning(lcComm).noquote() << line;
}

bool refuseWhileOpen(const char *source, bool open, const char *message)
{
    if (open)
        contractViolation(source, message);
    return open;
}

bool setHostAddress(const char *source, bool open, const QString &text,
    std::unique_ptr<QHostAddress> &address, bool &rejected)
{
    if (refuseWhileOpen(source, open, "error"))
        return false;
    tdu4 value = 0;
    if (!ZoIpv4Address::parse(text, &value)) {
        contractViolation(source, "IP is error!!!!", text);
        rejected = true;
        address.reset();
        return false;
    }
    address = std::make_unique<QHostAddress>(quint32(value));
    rejected = false;
    return true;
}

} // namespace ZoComm
