// Cipher engine: MD5 digest (RFC 1321), used to derive the
// vault's cipher key from the key phrase. Standard C++17 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CMD5Digest {
public:
    enum { DIGEST_SIZE = 16 };

    CMD5Digest() { Reset(); }

    // Starts a new digest (standard initial state).
    void Reset();
    // Adds n bytes of data.
    void Update(const void* data, size_t n);
    // Completes the digest (RFC 1321 padding) and writes the 16 digest bytes.
    // The object must be Reset before it is used again.
    void Final(unsigned char digest[DIGEST_SIZE]);

    // One-shot digest of n bytes.
    static void Compute(const void* data, size_t n, unsigned char digest[DIGEST_SIZE]);

    // The text form: two upper-case hexadecimal digits per byte,
    // each pair followed by a blank ("D4 1D 8C ... 7E ").
    static std::string ToText(const unsigned char digest[DIGEST_SIZE]);

private:
    void Transform(const unsigned char block[64]);

    uint32_t m_state[4];
    uint64_t m_count;          // bytes hashed so far
    unsigned char m_buffer[64];
};
