#include "ZoIpv4Address.h"

bool ZoIpv4Address::parse(const QString &text, tdu4 *address)
{
    tdu4 value = 0;
    int parts = 0;
    int digits = 0;
    tdu4 part = 0;
    // One pass with a terminating dot after the last character; the number
    // of digits is capped before a part can grow past 255 by much.
    for (int i = 0; i <= text.size(); ++i) {
        const QChar c = i < text.size() ? text.at(i) : QLatin1Char('.');
        if (c == QLatin1Char('.')) {
            if (digits == 0 || part > 255 || ++parts > 4)
                return false;
            value = (value << 8) | part;
            digits = 0;
            part = 0;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (digits == 3 || (digits == 1 && part == 0))
                return false;
            part = part * 10 + tdu4(c.unicode() - u'0');
            ++digits;
        } else {
            return false;
        }
    }
    if (parts != 4)
        return false;
    if (address)
        *address = value;
    return true;
}
