#include "ZoCommSupport.h"

#include <QHostAddress>
#include <QStringList>

Q_LOGGING_CATEGORY(lcComm, "tolvane.comm")

namespace ZoComm {

bool parseDottedIpv4(const QString &text, uint32_t *address)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return false;
    uint32_t value = 0;
    for (const QString &part : parts) {
        // Digits only: no sign, no blanks, no hexadecimal. Three digits are
        // enough for 255, longer runs would only hide an overflow.
        if (part.size() > 3)
            return false;
        uint32_t octet = 0;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            octet = octet * 10 + uint32_t(c.unicode() - '0');
        }
        if (octet > 255)
            return false;
        value = (value << 8) | octet;
    }
    if (address)
        *address = value;
    return true;
}

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
    uint32_t value = 0;
    if (!parseDottedIpv4(text, &value)) {
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
