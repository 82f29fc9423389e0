#pragma once

#include <QByteArray>
#include <QtGlobal>

// Lays out a firmware file: a 48-byte header, then the image.
//
//   offset  size  field
//    0      16    zero (a transfer writes its session key over these bytes)
//   16       4    image length, unsigned little-endian
//   20       2    zero
//   22       4    device type code, major, minor, revision
//   26       4    zero
//   30       7    compile time: year (u16 little-endian), month, day, hour, minute, second
//   37      11    zero
//   48       n    image
class ZoFwPackBuilder
{
public:
    static constexpr int kHeaderSize = 48;

    void setType(quint8 type) { m_type = type; }
    void setVersion(quint8 major, quint8 minor, quint8 revision)
    {
        m_major = major;
        m_minor = minor;
        m_revision = revision;
    }
    void setCompileTime(
        quint16 year, quint8 month, quint8 day, quint8 hour, quint8 minute, quint8 second);
    // Writes this value into the length field instead of the image's size,
    // for files whose header and body disagree.
    void overrideLengthField(quint32 length)
    {
        m_lengthOverride = length;
        m_hasLengthOverride = true;
    }

    QByteArray header(quint32 imageLength) const;
    QByteArray build(const QByteArray &image) const
    {
        return header(quint32(image.size())) + image;
    }

    // Deterministic image bytes: SplitMix64 seeded with seed, each 64-bit
    // output written little-endian, the last one cut to fit.
    static QByteArray pseudoRandomImage(qint64 size, quint64 seed);

private:
    quint8 m_type = 0;
    quint8 m_major = 0;
    quint8 m_minor = 0;
    quint8 m_revision = 0;
    quint8 m_time[7] = {0xEA, 0x07, 1, 1, 0, 0, 0}; // 2026-01-01 00:00:00
    quint32 m_lengthOverride = 0;
    bool m_hasLengthOverride = false;
};
