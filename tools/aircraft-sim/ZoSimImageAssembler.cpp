#include "ZoSimImageAssembler.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QString>

#include <cstring>

void ZoSimImageAssembler::begin(const uint8_t key[16], const uint8_t encryptedHeader[32])
{
    m_aes.setKey(key);
    std::memcpy(m_header, key, 16);
    std::memcpy(m_header + 16, encryptedHeader, 32);
    m_aes.decrypt(m_header + 16, 32);
    m_data.clear();
    m_covered.clear();
    m_seen = QByteArray(65536, '\0');
    m_active = true;
    m_keyed = true;
    m_blocks = m_outOfOrder = m_resends = m_partialCipherBlocks = 0;
    m_expected = 0;
    m_coveredAll = m_coveredInImage = 0;
}

void ZoSimImageAssembler::beginWithoutKey()
{
    const uint8_t zero[48] = {};
    begin(zero, zero + 16);
    std::memset(m_header, 0, sizeof m_header);
    m_keyed = false;
}

uint32_t ZoSimImageAssembler::imageSize() const
{
    return uint32_t(m_header[16]) | (uint32_t(m_header[17]) << 8) | (uint32_t(m_header[18]) << 16)
        | (uint32_t(m_header[19]) << 24);
}

void ZoSimImageAssembler::headerVersion(uint8_t out[4]) const
{
    std::memcpy(out, m_header + 22, 4);
}

void ZoSimImageAssembler::headerCompileTime(uint8_t out[7]) const
{
    std::memcpy(out, m_header + 30, 7);
}

ZoSimImageAssembler::BlockKind ZoSimImageAssembler::addBlock(
    uint16_t index, const uint8_t *encrypted, size_t length)
{
    const uint32_t offset = uint32_t(index) * 32u;
    BlockKind kind = BlockKind::InOrder;
    if (m_seen.at(index)) {
        kind = BlockKind::Resend;
        ++m_resends;
    } else if (offset != m_expected) {
        kind = BlockKind::OutOfOrder;
        ++m_outOfOrder;
    }
    m_seen[index] = 1;
    ++m_blocks;
    if (kind != BlockKind::Resend)
        m_expected = offset + uint32_t(length);

    if (!encrypted || length == 0)
        return kind;
    const uint32_t end = offset + uint32_t(length);
    if (end > uint32_t(m_data.size())) {
        // QByteArray::resize leaves the new bytes undefined; gaps must read as zero.
        const int old = m_data.size();
        m_data.resize(int(end));
        m_covered.resize(int(end));
        std::memset(m_data.data() + old, 0, size_t(int(end) - old));
        std::memset(m_covered.data() + old, 0, size_t(int(end) - old));
    }
    uint8_t *dst = reinterpret_cast<uint8_t *>(m_data.data()) + offset;
    std::memcpy(dst, encrypted, length);
    if (m_keyed && m_aes.decrypt(dst, length) != length)
        ++m_partialCipherBlocks; // the tail of a block that is not a multiple of 16 cannot be
                                 // undone
    const uint32_t span = imageSize() < kMaxImage ? imageSize() : kMaxImage;
    for (uint32_t i = offset; i < end; ++i) {
        if (!m_covered.at(int(i))) {
            ++m_coveredAll;
            m_coveredInImage += i < span ? 1 : 0;
        }
    }
    std::memset(m_covered.data() + offset, 1, length);
    return kind;
}

QByteArray ZoSimImageAssembler::image() const
{
    if (!m_keyed)
        return m_data; // as received: no header says how long, no key undoes it
    const uint32_t size = imageSize() < kMaxImage ? imageSize() : kMaxImage;
    QByteArray out(int(size), '\0');
    const int have = qMin(int(size), m_data.size());
    if (have > 0)
        std::memcpy(out.data(), m_data.constData(), size_t(have));
    return out;
}

QJsonObject ZoSimImageAssembler::finish()
{
    m_active = false;
    const uint32_t size = imageSize();
    const uint32_t span = size < kMaxImage ? size : kMaxImage;

    QJsonArray gapRanges;
    int gaps = 0;
    qint64 received = 0;
    uint32_t i = 0;
    while (i < span) {
        const bool have = i < uint32_t(m_covered.size()) && m_covered.at(int(i));
        uint32_t j = i;
        while (j < span && (j < uint32_t(m_covered.size()) && m_covered.at(int(j))) == have)
            ++j;
        if (have) {
            received += j - i;
        } else {
            ++gaps;
            if (gapRanges.size() < 16)
                gapRanges.append(QJsonArray {qint64(i), qint64(j)});
        }
        i = j;
    }
    int beyond = 0;
    for (int idx = 0; idx < 65536; ++idx)
        if (m_seen.at(idx) && uint32_t(idx) * 32u >= size)
            ++beyond;

    uint8_t v[4];
    uint8_t c[7];
    headerVersion(v);
    headerCompileTime(c);
    const QByteArray img = image();

    QJsonObject r;
    r[QStringLiteral("imageSize")] = qint64(size);
    r[QStringLiteral("sizeTooLarge")] = size > kMaxImage;
    r[QStringLiteral("headerVersion")]
        = QStringLiteral("%1:%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
    r[QStringLiteral("headerCompileTime")] = QStringLiteral("%1-%2-%3 %4:%5:%6")
                                                 .arg(c[0] | (c[1] << 8))
                                                 .arg(c[2], 2, 10, QLatin1Char('0'))
                                                 .arg(c[3], 2, 10, QLatin1Char('0'))
                                                 .arg(c[4], 2, 10, QLatin1Char('0'))
                                                 .arg(c[5], 2, 10, QLatin1Char('0'))
                                                 .arg(c[6], 2, 10, QLatin1Char('0'));
    r[QStringLiteral("blocks")] = m_blocks;
    r[QStringLiteral("bytesReceived")] = received;
    r[QStringLiteral("gaps")] = gaps;
    r[QStringLiteral("gapRanges")] = gapRanges;
    r[QStringLiteral("outOfOrder")] = m_outOfOrder;
    r[QStringLiteral("resends")] = m_resends;
    r[QStringLiteral("blocksBeyondImage")] = beyond;
    r[QStringLiteral("partialCipherBlocks")] = m_partialCipherBlocks;
    r[QStringLiteral("keyFrame")] = m_keyed;
    r[QStringLiteral("complete")] = m_keyed && gaps == 0 && size <= kMaxImage;
    r[QStringLiteral("sha256")]
        = QString::fromLatin1(QCryptographicHash::hash(img, QCryptographicHash::Sha256).toHex());
    return r;
}
