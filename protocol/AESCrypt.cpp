#include "AESCrypt.h"

#include "AES.h"

#include <cstring>

AESCrypt::AESCrypt()
    : m_aes(std::make_unique<AES>(nullptr))
{
}

AESCrypt::~AESCrypt() = default;

void AESCrypt::setKey(const tdu1 *key)
{
    m_aes = std::make_unique<AES>(key);
}

void AESCrypt::encrypt(tdu1 *data, int length)
{
    if (!data || length < 0)
        return;
    const size_t n
        = length == 0 ? std::strlen(reinterpret_cast<const char *>(data)) : size_t(length);
    size_t done = 0;
    for (; done + AES::BlockSize <= n; done += AES::BlockSize)
        m_aes->encryptBlock(data + done);
    if (done < n) {
        tdu1 block[AES::BlockSize] = {};
        std::memcpy(block, data + done, n - done);
        m_aes->encryptBlock(block);
        std::memcpy(data + done, block, n - done);
    }
}
