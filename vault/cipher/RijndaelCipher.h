// Cipher engine: Rijndael with 16-, 24- and 32-byte blocks and
// keys (the AES proposal's variable block length; AES is only the 16-byte
// block member). Standard C++17 only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vault/cipher/BlockCipher.h"

class CRijndaelCipher : public CBlockCipher {
public:
    enum { MAX_BLOCK_SIZE = 32, MAX_KEY_SIZE = 32, MAX_ROUNDS = 14, MAX_BC = 8, MAX_KC = 8 };

    CRijndaelCipher() = default;
    ~CRijndaelCipher() override;

    // Keys the engine. Checks, in this order (std::runtime_error):
    //   keyData == nullptr            "FileCrypt ERROR: No Key DataSpecified!"
    //   keyDataLength < 1             "FileCrypt ERROR: Key Data Length should be > 0!"
    //   keyLength not 16/24/32        "Illegal Key Length!"
    //   blockSize not 16/24/32        "Illegal Block Size!"
    //   mode not 0/1/2                "FileCrypt ERROR: Illegal Operation Mode!"
    //   padding not 0/1/2             "FileCrypt ERROR: Illegal Padding Mode!"
    // A failed check changes nothing. The key is keyLength bytes taken
    // cyclically from keyData. blockSize bytes of chain become the initial
    // and current chain block; a null chain means an all-zero block.
    void MakeKey(const unsigned char* keyData, int keyDataLength, const unsigned char* chain,
                 int keyLength, int blockSize, int mode, int padding);

    // One block of the current block size (no chaining).
    void EncryptBlock(const unsigned char* in, unsigned char* out) const;
    void DecryptBlock(const unsigned char* in, unsigned char* out) const;

    // See CBlockCipher. In all modes the output may be the same buffer as the
    // input (each input block is read before its output block is written);
    // partially overlapping buffers are not supported.
    void Encrypt(const unsigned char* in, unsigned char* out, size_t n) override;
    int Decrypt(const unsigned char* in, unsigned char* out, size_t n) override;
    void ResetChain() override;

    int Rounds() const { return m_iROUNDS; }

private:
    unsigned char m_key[MAX_KEY_SIZE] = {};
    int m_iROUNDS = 0;
    // Round keys, one row per round, Nb = block size / 4 words used per row.
    // Word j of a row is column j, most significant byte = row 0.
    uint32_t m_Ke[MAX_ROUNDS + 1][MAX_BC] = {};
    uint32_t m_Kd[MAX_ROUNDS + 1][MAX_BC] = {};
    unsigned char m_chain0[MAX_BLOCK_SIZE] = {};
    unsigned char m_chain[MAX_BLOCK_SIZE] = {};
    // The working arrays of the block path are locals of the block routines
    // (see RijndaelCipher.cpp), so const operations stay re-entrant.
};
