// Cipher engine: MD5 digest (RFC 1321).
#include "vault/cipher/MD5Digest.h"

#include <cstring>

namespace {

inline uint32_t Rotl(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadLE(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void StoreLE(unsigned char* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Per-step additive constants floor(abs(sin(i + 1)) * 2^32) and rotations.
constexpr uint32_t kK[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int kR[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

}  // namespace

void CMD5Digest::Reset()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_count = 0;
    std::memset(m_buffer, 0, sizeof m_buffer);
}

void CMD5Digest::Transform(const unsigned char block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = LoadLE(block + 4 * i);

    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        const uint32_t tmp = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kK[i] + x[g], kR[i]);
        a = tmp;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void CMD5Digest::Update(const void* data, size_t n)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    size_t used = size_t(m_count & 63);
    m_count += n;
    if (used) {
        const size_t take = n < 64 - used ? n : 64 - used;
        std::memcpy(m_buffer + used, p, take);
        p += take;
        n -= take;
        used += take;
        if (used < 64)
            return;
        Transform(m_buffer);
    }
    for (; n >= 64; p += 64, n -= 64)
        Transform(p);
    if (n)
        std::memcpy(m_buffer, p, n);
}

void CMD5Digest::Final(unsigned char digest[DIGEST_SIZE])
{
    const uint64_t bits = m_count * 8;
    unsigned char pad[72] = {0x80};
    const size_t used = size_t(m_count & 63);
    const size_t padLen = used < 56 ? 56 - used : 120 - used;
    Update(pad, padLen);
    unsigned char len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = uint8_t(bits >> (8 * i));
    Update(len, 8);
    for (int i = 0; i < 4; ++i)
        StoreLE(digest + 4 * i, m_state[i]);
}

void CMD5Digest::Compute(const void* data, size_t n, unsigned char digest[DIGEST_SIZE])
{
    CMD5Digest md5;
    md5.Update(data, n);
    md5.Final(digest);
}

std::string CMD5Digest::ToText(const unsigned char digest[DIGEST_SIZE])
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(3 * DIGEST_SIZE);
    for (int i = 0; i < DIGEST_SIZE; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
        text += ' ';
    }
    return text;
}
