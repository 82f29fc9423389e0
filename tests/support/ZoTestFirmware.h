#pragma once

// Firmware files and build times as the tests hand them to the engine.

#include "ZoFRMFileInfo.h"
#include "ZoTypes.h"

#include <QDateTime>

inline tFcsDateTime zoTestTime(const QDateTime &t)
{
    return {tdu2(t.date().year()), tdu1(t.date().month()), tdu1(t.date().day()),
        tdu1(t.time().hour()), tdu1(t.time().minute()), tdu1(t.time().second())};
}
// `text` as "yyyy-MM-dd hh:mm:ss".
inline tFcsDateTime zoTestTime(const QString &text)
{
    return zoTestTime(QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

// A file whose header announces an image of `length` bytes and names
// `v` (its type included) built at `compiled`; `present` bytes of `fill`
// follow the header.
inline QByteArray zoTestFirmwareBytes(
    tdu4 length, const tVersion &v, int present, char fill = 0x5A, const tFcsDateTime &compiled = {})
{
    QByteArray f(int(ZoFRMFileInfo::HeaderSize), '\0');
    for (int i = 0; i < 4; ++i)
        f[16 + i] = char((length >> (8 * i)) & 0xFF);
    f.replace(22, int(sizeof v), reinterpret_cast<const char *>(&v), int(sizeof v));
    f.replace(30, int(sizeof compiled), reinterpret_cast<const char *>(&compiled),
        int(sizeof compiled));
    return f + QByteArray(present, fill);
}

