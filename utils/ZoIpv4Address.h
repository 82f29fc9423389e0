#pragma once

#include "ZoTypes.h"

#include <QString>

// Dotted-decimal IPv4 text, read strictly: exactly four parts between single
// dots, each a number from 0 to 255 in one to three ASCII digits. Nothing
// else passes: no blanks, signs, empty parts, hexadecimal, short forms such
// as "127.1", and no leading zero ("0" itself is a part). A leading zero is
// refused because other readers, QHostAddress among them, take "010" as octal
// 8: the same text must not name two hosts inside one program.
class ZoIpv4Address
{
public:
    // True with *address set (first part most significant, may be null);
    // false with *address untouched.
    static bool parse(const QString &text, tdu4 *address);
};
