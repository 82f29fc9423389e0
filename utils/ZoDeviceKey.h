#pragma once

#include "ZoTypes.h"

#include <QHash>
#include <QMetaType>
#include <QString>

// Which device on board is meant: its type code and its number. The number
// is the node of a serial-bus module; the core, its boards and CAN modules
// have number 0 (a CAN module addressed by device number keeps that number
// in its record, since the bus answers it under its type alone). Type 0 is
// no device: the list's two headers sit under it.
//
// The packings below are the only place a device becomes an integer. Both
// are file formats: the run journal's "key" is the device-table packing,
// and sysconfig.xml's ignored device ids use the catalogue's.
//
// A plain value: any thread may copy it, and queued signals carry it (the
// looper's thread reads the transfer peer packed in an atomic).
struct ZoDeviceKey
{
    tdu1 type = 0;
    tdu1 number = 0;

    constexpr ZoDeviceKey() = default;
    constexpr explicit ZoDeviceKey(tdu1 t, tdu1 n = 0)
        : type(t)
        , number(n)
    {
    }

    constexpr bool isNull() const { return type == 0; }
    constexpr bool operator==(const ZoDeviceKey &o) const
    {
        return type == o.type && number == o.number;
    }
    constexpr bool operator!=(const ZoDeviceKey &o) const { return !(*this == o); }
    // By type first, so that a map lists a type's numbers together.
    constexpr bool operator<(const ZoDeviceKey &o) const { return packed() < o.packed(); }

    // Device table: type x 65536 + number.
    constexpr tds4 packed() const { return (tds4(type) << 16) | number; }
    static constexpr ZoDeviceKey fromPacked(tds4 value)
    {
        return ZoDeviceKey(tdu1((value >> 16) & 0xFF), tdu1(value & 0xFF));
    }
    // Catalogue module list and ignored device ids: number x 65536 + type.
    constexpr tds4 catalogueId() const { return (tds4(number) << 16) | type; }
    static constexpr ZoDeviceKey fromCatalogueId(tds4 value)
    {
        return ZoDeviceKey(tdu1(value & 0xFF), tdu1((value >> 16) & 0xFF));
    }

    // "77.2" for a numbered device, "77" otherwise: how a person names it.
    QString text() const
    {
        return number == 0 ? QString::number(type)
                           : QStringLiteral("%1.%2").arg(type).arg(number);
    }
};

inline uint qHash(const ZoDeviceKey &key, uint seed = 0)
{
    return ::qHash(key.packed(), seed);
}

Q_DECLARE_METATYPE(ZoDeviceKey)
