// Cipher engine: the two entry points every vault caller uses.
// Each call is an independent stream that starts from the all-zero chain
// block, as if it built its own engine; the keyed engine of the last phrase
// and setting is kept per thread so that the key schedule is not derived
// again for every record. Standard C++17 only.
#pragma once

extern const char kVaultKeyPhrase[];   // the fixed 10-byte key phrase "Pelmor5820"
constexpr int kKeyMethodDigest = 5;
constexpr int kVaultBlockSize = 32;
constexpr int kModeECB = 0, kModeCBC = 1, kModeCFB = 2;

// Enciphers length bytes of input into output with Rijndael (block size
// blockSize, 128-bit key = MD5 digest of the NUL-terminated phrase's bytes,
// mode, zero initial chain). Returns length. With a key method other than 5
// returns length and leaves output untouched. Throws std::runtime_error:
// "Illegal Block Size!" for a length that is not a positive multiple of the
// block size (or a bad block size), and the MakeKey messages for a bad mode.
int EncipherBuffer(const char* phrase, int keyMethod, const unsigned char* input, unsigned char* output, int length, int blockSize, int mode);

// Deciphers likewise. Returns length; -1 (output untouched) for a length
// that is not a positive multiple of the block size; 0 (output untouched)
// for a key method other than 5. A bad block size or mode throws as above.
int DecipherBuffer(const char* phrase, int keyMethod, const unsigned char* input, unsigned char* output, int length, int blockSize, int mode);
