// Cipher engine: abstract block cipher base.
#include "vault/cipher/BlockCipher.h"

#include <stdexcept>

const char kCipherErrNoKeyData[] = "FileCrypt ERROR: No Key DataSpecified!";
const char kCipherErrKeyDataLength[] = "FileCrypt ERROR: Key Data Length should be > 0!";
const char kCipherErrKeyLength[] = "Illegal Key Length!";
const char kCipherErrBlockSize[] = "Illegal Block Size!";
const char kCipherErrMode[] = "FileCrypt ERROR: Illegal Operation Mode!";
const char kCipherErrPadding[] = "FileCrypt ERROR: Illegal Padding Mode!";
const char kCipherErrNotInitialised[] =
    "FileCrypt ERROR: Encryption/Decryption Object not Initialized!";

CBlockCipher::~CBlockCipher() = default;

void CBlockCipher::CheckInitialised() const
{
    if (!m_bKeyInit)
        throw std::runtime_error(kCipherErrNotInitialised);
}

void CBlockCipher::Xor(unsigned char* buff, const unsigned char* chain) const
{
    CheckInitialised();
    for (int i = 0; i < m_blockSize; ++i)
        buff[i] ^= chain[i];
}
