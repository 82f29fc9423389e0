#pragma once

#include "ZoTypes.h"

#include <QByteArray>

#include <cstddef>

// Little-endian integers inside a buffer of known size: the device protocol,
// the firmware file header and the telemetry records all store them so.
// Every read stays inside [data, data + size): a value that does not lie
// wholly within it reads as 0, and *ok, when given, says whether it did.
class ZoLittleEndian
{
public:
    static tdu2 read16(const tdu1 *data, size_t size, size_t at, bool *ok = nullptr)
    {
        return tdu2(read(data, size, at, 2, ok));
    }
    static tdu4 read32(const tdu1 *data, size_t size, size_t at, bool *ok = nullptr)
    {
        return read(data, size, at, 4, ok);
    }
    static tdu2 read16(const QByteArray &bytes, int at, bool *ok = nullptr)
    {
        return tdu2(read(bytes, at, 2, ok));
    }
    static tdu4 read32(const QByteArray &bytes, int at, bool *ok = nullptr)
    {
        return read(bytes, at, 4, ok);
    }

private:
    static tdu4 read(const tdu1 *data, size_t size, size_t at, size_t n, bool *ok)
    {
        // Written so that no sum can wrap, whatever `at` is.
        const bool inside = data && at <= size && n <= size - at;
        if (ok)
            *ok = inside;
        if (!inside)
            return 0;
        tdu4 value = 0;
        for (size_t i = n; i-- > 0;)
            value = (value << 8) | data[at + i];
        return value;
    }
    static tdu4 read(const QByteArray &bytes, int at, size_t n, bool *ok)
    {
        if (at < 0) {
            if (ok)
                *ok = false;
            return 0;
        }
        return read(reinterpret_cast<const tdu1 *>(bytes.constData()), size_t(bytes.size()),
            size_t(at), n, ok);
    }
};
