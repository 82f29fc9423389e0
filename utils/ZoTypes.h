#pragma once

// Types shared by every layer: the fixed-width integers the device protocol
// is written in and the two records the devices report.

#include <QMetaType>
#include <cstdint>

typedef uint8_t tdu1;
typedef uint16_t tdu2;
typedef uint32_t tdu4;
typedef int32_t tds4;
typedef int64_t tds8;

#pragma pack(push, 1)

// Device type code, then major, minor, revision. Only the last three take
// part in comparisons; the type says what the firmware is for.
struct tVersion
{
    tdu1 type = 0;
    tdu1 major = 0;
    tdu1 minor = 0;
    tdu1 revision = 0;

    tdu4 number() const { return (tdu4(major) << 16) | (tdu4(minor) << 8) | revision; }
    bool operator==(const tVersion &o) const { return number() == o.number(); }
    bool operator!=(const tVersion &o) const { return number() != o.number(); }
    bool operator<(const tVersion &o) const { return number() < o.number(); }
    bool operator>(const tVersion &o) const { return number() > o.number(); }
    bool operator<=(const tVersion &o) const { return number() <= o.number(); }
    bool operator>=(const tVersion &o) const { return number() >= o.number(); }
};

// Year little-endian on the wire, then one byte each.
struct tFcsDateTime
{
    tdu2 year = 0;
    tdu1 month = 0;
    tdu1 day = 0;
    tdu1 hour = 0;
    tdu1 minute = 0;
    tdu1 second = 0;

    bool operator==(const tFcsDateTime &o) const
    {
        return year == o.year && month == o.month && day == o.day && hour == o.hour
               && minute == o.minute && second == o.second;
    }
    bool operator!=(const tFcsDateTime &o) const { return !(*this == o); }
};

#pragma pack(pop)

static_assert(sizeof(tVersion) == 4, "tVersion is 4 bytes on the wire");
static_assert(sizeof(tFcsDateTime) == 7, "tFcsDateTime is 7 bytes on the wire");

Q_DECLARE_METATYPE(tVersion)
Q_DECLARE_METATYPE(tFcsDateTime)
