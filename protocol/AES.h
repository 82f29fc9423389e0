#pragma once

#include "ZoTypes.h"

// AES-128 block encryption (FIPS-197): 10 rounds over a key expanded into
// 176 bytes. Only encryption is needed on this side of the link; the
// bootloader decrypts. Rounds run on four 256-entry tables so a 128-byte
// block costs well under a microsecond.
class AES
{
public:
    static constexpr int BlockSize = 16;
    static constexpr int KeySize = 16;
    static constexpr int ExpandedKeySize = 176;

    explicit AES(const tdu1 *key);
    virtual ~AES();

    // in and out may be the same 16 bytes.
    void encryptBlock(const tdu1 *in, tdu1 *out) const;
    void encryptBlock(tdu1 *block) const { encryptBlock(block, block); }

    const tdu1 *expandedKey() const { return m_expandedKey; }
    static const tdu1 *sbox();
    static const tdu1 *invSbox();

private:
    tdu1 m_expandedKey[ExpandedKeySize];
    tdu4 m_roundWords[ExpandedKeySize / 4];
};
