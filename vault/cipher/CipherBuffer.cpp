// Cipher engine: EncipherBuffer / DecipherBuffer.
#include "vault/cipher/CipherBuffer.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "vault/cipher/MD5Digest.h"
#include "vault/cipher/RijndaelCipher.h"

const char kVaultKeyPhrase[] = "Pelmor5820";

namespace {

// Keys a fresh engine: key data = MD5 digest of the
// phrase's bytes (no terminator), 16 bytes, zero chain, key length 16,
// padding 0. A null phrase is digested as the empty string.
void KeyEngine(CRijndaelCipher& cipher, const char* phrase, int blockSize, int mode)
{
    static const unsigned char kZeroChain[CRijndaelCipher::MAX_BLOCK_SIZE] = {};
    unsigned char key[CMD5Digest::DIGEST_SIZE];
    CMD5Digest::Compute(phrase ? phrase : "", phrase ? std::strlen(phrase) : 0, key);
    cipher.MakeKey(key, CMD5Digest::DIGEST_SIZE, kZeroChain, 16, blockSize, mode, 0);
}

// The vault deciphers every header record with the same phrase and setting,
// so the keyed engine of the last call is kept (one per thread) and only its
// chain is reset: each call still behaves as a fresh engine would. A change
// of phrase, block size or mode keys it anew.
struct KeyedEngine {
    std::string phrase;
    bool nullPhrase = false;
    int blockSize = 0;
    int mode = -1;
    bool keyed = false;
    CRijndaelCipher cipher;
};

CRijndaelCipher& EngineFor(const char* phrase, int blockSize, int mode)
{
    thread_local KeyedEngine cache;
    const bool isNull = phrase == nullptr;
    if (!cache.keyed || cache.blockSize != blockSize || cache.mode != mode ||
        cache.nullPhrase != isNull || (!isNull && cache.phrase != phrase)) {
        cache.keyed = false;
        KeyEngine(cache.cipher, phrase, blockSize, mode);  // throws for a bad setting
        cache.phrase = isNull ? std::string() : std::string(phrase);
        cache.nullPhrase = isNull;
        cache.blockSize = blockSize;
        cache.mode = mode;
        cache.keyed = true;
    }
    cache.cipher.ResetChain();
    return cache.cipher;
}

// A negative length is no positive multiple of the block size: it is passed
// on as 0 so that the engine's length check reports it.
size_t EngineLength(int length)
{
    return length < 0 ? 0 : size_t(length);
}

}  // namespace

int EncipherBuffer(const char* phrase, int keyMethod, const unsigned char* input, unsigned char* output, int length, int blockSize, int mode)
{
    if (keyMethod != kKeyMethodDigest)
        return length;
    EngineFor(phrase, blockSize, mode).Encrypt(input, output, EngineLength(length));
    return length;
}

int DecipherBuffer(const char* phrase, int keyMethod, const unsigned char* input, unsigned char* output, int length, int blockSize, int mode)
{
    if (keyMethod != kKeyMethodDigest)
        return 0;
    if (EngineFor(phrase, blockSize, mode).Decrypt(input, output, EngineLength(length)) != 0)
        return -1;
    return length;
}
