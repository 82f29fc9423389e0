#pragma once

#include "ZoTypes.h"

#include <memory>

class AES;

// AES-128 in ECB mode, in place: every 16-byte block on its own, no IV, no
// padding. This is what the bootloaders expect for the firmware header and
// the data blocks.
class AESCrypt
{
public:
    AESCrypt();
    virtual ~AESCrypt();

    // Replaces the cipher by one whose round keys come from these 16 bytes.
    void setKey(const tdu1 *key);
    // Encrypts `length` bytes in place; 0 means a zero-terminated string.
    // Whole blocks are encrypted where they lie. A partial last block is
    // encrypted as a zero-padded full block, of which only the bytes that
    // belong to the buffer are written back: nothing past `length` is touched.
    void encrypt(tdu1 *data, int length);

private:
    std::unique_ptr<AES> m_aes;
};
