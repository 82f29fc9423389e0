#pragma once

#include "ZoSimAes.h"

#include <QByteArray>
#include <QJsonObject>

#include <cstdint>

// One firmware transfer as a bootloader sees it: the key frame's session key
// and encrypted header, then data blocks placed by block index (offset / 32).
// On leave-bootloader it says what arrived: size, gaps, order, resends and the
// SHA-256 of the image as long as the header's size field says.
class ZoSimImageAssembler
{
public:
    enum class BlockKind { InOrder, OutOfOrder, Resend };

    // The block index is 16 bits of 32-byte units, so nothing can land past this.
    static constexpr uint32_t kMaxImage = 65536u * 32u + 256u;

    void begin(const uint8_t key[16], const uint8_t encryptedHeader[32]);
    // A transfer whose key frame came before this run (a device left in its
    // bootloader by an interrupted one): blocks are kept as they arrive, with
    // no header to size or decrypt them.
    void beginWithoutKey();
    bool active() const { return m_active; }
    bool keyed() const { return m_keyed; }

    BlockKind addBlock(uint16_t index, const uint8_t *encrypted, size_t length);

    // Verification result; clears the active flag (the assembled image stays
    // readable until the next begin()).
    QJsonObject finish();

    // The 48 header bytes as the device holds them: the session key over
    // bytes 0-15 (as sent), the decrypted remainder at 16-47.
    const uint8_t *header() const { return m_header; }
    uint32_t imageSize() const;
    void headerVersion(uint8_t out[4]) const;
    void headerCompileTime(uint8_t out[7]) const;
    // imageSize() bytes (clamped), gaps zero-filled; without a key frame, the bytes as received.
    QByteArray image() const;
    int blocks() const { return m_blocks; }
    // Distinct bytes received: within the header's image size, or all of
    // them without a key frame.
    qint64 bytesReceived() const { return m_keyed ? m_coveredInImage : m_coveredAll; }
    // Every byte of the image the header announces has arrived.
    bool complete() const
    {
        return m_keyed && imageSize() <= kMaxImage && m_coveredInImage == qint64(imageSize());
    }

private:
    ZoSimAes m_aes;
    uint8_t m_header[48] = {};
    QByteArray m_data;
    QByteArray m_covered; // one byte per image byte: 1 once received
    bool m_active = false;
    bool m_keyed = false;
    qint64 m_coveredAll = 0;
    qint64 m_coveredInImage = 0;
    int m_blocks = 0;
    int m_outOfOrder = 0;
    int m_resends = 0;
    int m_partialCipherBlocks = 0;
    uint32_t m_expected = 0; // offset the next in-order block starts at
    QByteArray m_seen; // one byte per block index: 1 once received
};
