#pragma once

// Small helpers shared by the codec tests.

#include "IReceivePackage.h"
#include "ZoTypes.h"

#include <QByteArray>
#include <QStringList>

inline QByteArray bytes(const tdu1 *p, int n)
{
    return p ? QByteArray(reinterpret_cast<const char *>(p), n) : QByteArray();
}
inline QByteArray hex(const tdu1 *p, int n)
{
    return bytes(p, n).toHex();
}
inline const tdu1 *u(const QByteArray &b)
{
    return reinterpret_cast<const tdu1 *>(b.constData());
}

// Bit-at-a-time CRC-16/MODBUS, the way the algorithm is written down.
inline tdu2 referenceCrc(const QByteArray &b)
{
    tdu2 crc = 0xFFFF;
    for (char ch : b) {
        crc ^= tdu1(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? tdu2((crc >> 1) ^ 0xA001) : tdu2(crc >> 1);
    }
    return crc;
}

// `b` and its CRC, low byte first.
inline QByteArray withCrc(const QByteArray &b)
{
    const tdu2 crc = referenceCrc(b);
    return b + char(crc & 0xFF) + char(crc >> 8);
}

// An application frame: AB 0E, L = body + 2, body, CRC.
inline QByteArray appFrame(const QByteArray &body)
{
    return withCrc(QByteArray::fromHex("ab0e") + char(body.size() + 2) + body);
}

// What a codec hands its receiver, in order: "G:" and a frame's bytes in hex,
// "B:" for one that failed its check.
inline QString good(const QByteArray &f)
{
    return QStringLiteral("G:") + QString::fromLatin1(f.toHex());
}
inline QString bad(const QByteArray &f)
{
    return QStringLiteral("B:") + QString::fromLatin1(f.toHex());
}
struct ZoTestFrames : IReceivePackage
{
    QStringList events;
    QList<const tdu1 *> pointers;
    void onPackage(const tdu1 *f, tdu2 n) override { record(good(bytes(f, n)), f); }
    void onBadPackage(const tdu1 *f, tdu2 n) override { record(bad(bytes(f, n)), f); }
    void record(const QString &event, const tdu1 *f)
    {
        events << event;
        pointers << f;
    }
};
