#pragma once

// Small helpers shared by the codec tests.

#include "ZoTypes.h"

#include <QByteArray>

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
