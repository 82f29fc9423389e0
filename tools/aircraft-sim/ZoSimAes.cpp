#include "ZoSimAes.h"

#include <openssl/evp.h>

#include <cstring>

ZoSimAes::ZoSimAes() = default;

ZoSimAes::~ZoSimAes()
{
    std::memset(m_key, 0, sizeof m_key);
}

void ZoSimAes::setKey(const uint8_t key[16])
{
    std::memcpy(m_key, key, sizeof m_key);
    m_hasKey = true;
}

size_t ZoSimAes::decrypt(uint8_t *data, size_t length) const
{
    return run(data, length, false);
}

size_t ZoSimAes::encrypt(uint8_t *data, size_t length) const
{
    return run(data, length, true);
}

size_t ZoSimAes::run(uint8_t *data, size_t length, bool encrypt) const
{
    const size_t whole = length - length % 16;
    if (!data || whole == 0 || !m_hasKey)
        return 0;
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        return 0;
    size_t done = 0;
    int outLen = 0;
    if (EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, m_key, nullptr, encrypt ? 1 : 0) == 1
        && EVP_CIPHER_CTX_set_padding(ctx, 0) == 1
        && EVP_CipherUpdate(ctx, data, &outLen, data, int(whole)) == 1)
        done = size_t(outLen);
    EVP_CIPHER_CTX_free(ctx);
    return done;
}
