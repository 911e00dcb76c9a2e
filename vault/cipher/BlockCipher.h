// Cipher engine: abstract block cipher base.
// Standard C++17 only; no platform headers.
#pragma once

#include <cstddef>

// Base of the cipher engine. Holds what every block cipher of the engine
// shares: the initialised flag, block size, key length, operation mode and
// padding mode (in that order), and the block XOR used by the chaining modes.
// Misuse is reported by throwing std::runtime_error.
class CBlockCipher {
public:
    // Operation modes.
    enum { ECB = 0, CBC = 1, CFB = 2 };
    // Padding modes (stored by MakeKey; Encrypt/Decrypt never pad).
    enum { ZEROES = 0, BLANKS = 1, PKCS7 = 2 };

    CBlockCipher() = default;
    CBlockCipher(const CBlockCipher&) = default;
    CBlockCipher& operator=(const CBlockCipher&) = default;
    virtual ~CBlockCipher();

    // Enciphers n bytes (a positive multiple of the block size) from in to
    // out in the keyed operation mode; the chain carries over between calls.
    // Throws "Illegal Block Size!" for a bad length and the not-initialised
    // message before a key has been made.
    virtual void Encrypt(const unsigned char* in, unsigned char* out, size_t n) = 0;
    // Deciphers n bytes. Returns -1 if no key has been made, -2 if n is 0 or
    // not a multiple of the block size, else 0. Never throws for these.
    virtual int Decrypt(const unsigned char* in, unsigned char* out, size_t n) = 0;
    // Copies the initial chain block into the current chain block.
    virtual void ResetChain() = 0;

    // buff[i] ^= chain[i] for i < block size. Throws the not-initialised
    // message before a key has been made.
    void Xor(unsigned char* buff, const unsigned char* chain) const;

    bool IsInitialised() const { return m_bKeyInit; }
    int BlockSize() const { return m_blockSize; }
    int KeyLength() const { return m_keyLength; }
    int Mode() const { return m_iMode; }
    int Padding() const { return m_iPadding; }

protected:
    // Throws std::runtime_error with the not-initialised message unless a
    // key has been made.
    void CheckInitialised() const;

    bool m_bKeyInit = false;   // false until a key has been made
    int m_blockSize = 0;       // 16, 24 or 32 once keyed
    int m_keyLength = 0;       // 16, 24 or 32 once keyed
    int m_iMode = ECB;
    int m_iPadding = ZEROES;
};

// Exception messages of the engine (exact texts; callers and tests rely on them).
extern const char kCipherErrNoKeyData[];        // "FileCrypt ERROR: No Key DataSpecified!"
extern const char kCipherErrKeyDataLength[];    // "FileCrypt ERROR: Key Data Length should be > 0!"
extern const char kCipherErrKeyLength[];        // "Illegal Key Length!"
extern const char kCipherErrBlockSize[];        // "Illegal Block Size!"
extern const char kCipherErrMode[];             // "FileCrypt ERROR: Illegal Operation Mode!"
extern const char kCipherErrPadding[];          // "FileCrypt ERROR: Illegal Padding Mode!"
extern const char kCipherErrNotInitialised[];   // "FileCrypt ERROR: Encryption/Decryption Object not Initialized!"
