#pragma once

#include <cstddef>
#include <cstdint>

// AES-128-ECB decryption through libcrypto: each 16-byte block on its own, no
// IV, no padding, the way the program encrypts the header and the blocks.
class ZoSimAes
{
public:
    ZoSimAes();
    ~ZoSimAes();
    ZoSimAes(const ZoSimAes &) = delete;
    ZoSimAes &operator=(const ZoSimAes &) = delete;

    void setKey(const uint8_t key[16]);
    bool hasKey() const { return m_hasKey; }

    // Decrypts the whole 16-byte blocks of data in place; returns how many
    // bytes that was (a trailing partial block is left as it came).
    size_t decrypt(uint8_t *data, size_t length) const;
    // The same in the other direction, for tests and tools that play the
    // program's side.
    size_t encrypt(uint8_t *data, size_t length) const;

private:
    size_t run(uint8_t *data, size_t length, bool encrypt) const;

    uint8_t m_key[16] = {};
    bool m_hasKey = false;
};
