#include "ZoFwPackBuilder.h"

#include <cstring>

void ZoFwPackBuilder::setCompileTime(
    quint16 year, quint8 month, quint8 day, quint8 hour, quint8 minute, quint8 second)
{
    m_time[0] = quint8(year & 0xFF);
    m_time[1] = quint8(year >> 8);
    m_time[2] = month;
    m_time[3] = day;
    m_time[4] = hour;
    m_time[5] = minute;
    m_time[6] = second;
}

QByteArray ZoFwPackBuilder::header(quint32 imageLength) const
{
    QByteArray h(kHeaderSize, '\0');
    const quint32 length = m_hasLengthOverride ? m_lengthOverride : imageLength;
    for (int i = 0; i < 4; ++i)
        h[16 + i] = char((length >> (8 * i)) & 0xFF);
    h[22] = char(m_type);
    h[23] = char(m_major);
    h[24] = char(m_minor);
    h[25] = char(m_revision);
    std::memcpy(h.data() + 30, m_time, sizeof m_time);
    return h;
}

QByteArray ZoFwPackBuilder::pseudoRandomImage(qint64 size, quint64 seed)
{
    QByteArray out(int(size), '\0');
    quint64 state = seed;
    for (qint64 pos = 0; pos < size; pos += 8) {
        state += 0x9E3779B97F4A7C15ULL;
        quint64 z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (int i = 0; i < 8 && pos + i < size; ++i)
            out[int(pos + i)] = char((z >> (8 * i)) & 0xFF);
    }
    return out;
}
