// Tests of the cipher engine (vault/cipher).
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vault/cipher/BlockCipher.h"
#include "vault/cipher/CipherBuffer.h"
#include "vault/cipher/MD5Digest.h"
#include "vault/cipher/RijndaelCipher.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("bad hex digit");
    };
    if (hex.size() % 2 != 0)
        throw std::invalid_argument("odd hex length");
    for (size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    return out;
}

std::string ToHex(const unsigned char* p, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}

std::string ToHex(const Bytes& b)
{
    return ToHex(b.data(), b.size());
}

std::string Md5Hex(const std::string& text)
{
    unsigned char d[CMD5Digest::DIGEST_SIZE];
    CMD5Digest::Compute(text.data(), text.size(), d);
    return ToHex(d, sizeof d);
}

// Deterministic test data.
Bytes Pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    uint32_t x = 0x9e3779b9u ^ seed;
    for (auto& c : b) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<unsigned char>(x >> 24);
    }
    return b;
}

// Expects a std::runtime_error whose what() is exactly `message`.
template <typename F>
void ExpectRuntimeError(F&& f, const char* message)
{
    try {
        f();
        ADD_FAILURE() << "no exception, expected \"" << message << "\"";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(message, e.what());
    } catch (...) {
        ADD_FAILURE() << "wrong exception type, expected std::runtime_error \"" << message << "\"";
    }
}

const char kMsgNoKeyData[] = "FileCrypt ERROR: No Key DataSpecified!";
const char kMsgKeyDataLength[] = "FileCrypt ERROR: Key Data Length should be > 0!";
const char kMsgKeyLength[] = "Illegal Key Length!";
const char kMsgBlockSize[] = "Illegal Block Size!";
const char kMsgMode[] = "FileCrypt ERROR: Illegal Operation Mode!";
const char kMsgPadding[] = "FileCrypt ERROR: Illegal Padding Mode!";
const char kMsgNotInit[] = "FileCrypt ERROR: Encryption/Decryption Object not Initialized!";

const int kSizes[] = {16, 24, 32};

}  // namespace

// ---------------------------------------------------------------------------
// MD5

// RFC 1321, section A.5 "Test suite".
TEST(MD5Digest, Rfc1321TestSuite)
{
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5Hex(""));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Md5Hex("a"));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Hex("abc"));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Md5Hex("message digest"));
    EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Md5Hex("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
              Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
              Md5Hex("1234567890123456789012345678901234567890"
                     "1234567890123456789012345678901234567890"));
}

TEST(MD5Digest, IncrementalUpdatesMatchOneShot)
{
    const Bytes data = Pattern(300, 7);
    unsigned char whole[16];
    CMD5Digest::Compute(data.data(), data.size(), whole);
    // Split at every point, covering block boundaries and the 55/56/64 padding edges.
    for (size_t split = 0; split <= data.size(); ++split) {
        CMD5Digest md5;
        md5.Update(data.data(), split);
        md5.Update(data.data() + split, data.size() - split);
        unsigned char part[16];
        md5.Final(part);
        ASSERT_EQ(ToHex(whole, 16), ToHex(part, 16)) << "split " << split;
    }
    // Lengths around the padding edges against one-byte-at-a-time updates.
    for (size_t n : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u}) {
        unsigned char a[16], b[16];
        CMD5Digest::Compute(data.data(), n, a);
        CMD5Digest md5;
        for (size_t i = 0; i < n; ++i)
            md5.Update(&data[i], 1);
        md5.Final(b);
        EXPECT_EQ(ToHex(a, 16), ToHex(b, 16)) << "length " << n;
    }
}

TEST(MD5Digest, ResetStartsOver)
{
    CMD5Digest md5;
    md5.Update("garbage", 7);
    md5.Reset();
    md5.Update("abc", 3);
    unsigned char d[16];
    md5.Final(d);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", ToHex(d, 16));
}

// Pinned: MD5 of the 10 bytes "Pelmor5820" (cross-checked with Python's hashlib).
TEST(MD5Digest, VaultKeyPhraseDigestPinned)
{
    ASSERT_EQ(10u, std::strlen(kVaultKeyPhrase));
    EXPECT_STREQ("Pelmor5820", kVaultKeyPhrase);
    unsigned char d[16];
    CMD5Digest::Compute(kVaultKeyPhrase, 10, d);
    EXPECT_EQ("dcdc3dd4b1d02463ce9fefbdfb221df0", ToHex(d, 16));
    // Text form: upper-case pairs, each followed by a blank.
    EXPECT_EQ("DC DC 3D D4 B1 D0 24 63 CE 9F EF BD FB 22 1D F0 ", CMD5Digest::ToText(d));
}

TEST(MD5Digest, TextFormPadsLeadingZero)
{
    unsigned char d[16] = {0x00, 0x01, 0x0a, 0xf0, 0xff};
    EXPECT_EQ("00 01 0A F0 FF 00 00 00 00 00 00 00 00 00 00 00 ", CMD5Digest::ToText(d));
}

// ---------------------------------------------------------------------------
// Rijndael known answers

namespace {

struct KnownAnswer {
    const char* source;
    const char* key;
    int blockSize;
    const char* plain;
    const char* cipher;
    int rounds;
};

const KnownAnswer kKnownAnswers[] = {
    // FIPS-197 Appendix C.1 (AES-128).
    {"FIPS-197 C.1", "000102030405060708090a0b0c0d0e0f", 16,
     "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a", 10},
    // FIPS-197 Appendix C.2 (AES-192).
    {"FIPS-197 C.2", "000102030405060708090a0b0c0d0e0f1011121314151617", 16,
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191", 12},
    // FIPS-197 Appendix C.3 (AES-256).
    {"FIPS-197 C.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", 16,
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089", 14},
    // Daemen/Rijmen, "The Design of Rijndael", appendix D.3: block 256, key 128, zero key, zero plaintext.
    {"Rijndael book D.3 (256/128)", "00000000000000000000000000000000", 32,
     "0000000000000000000000000000000000000000000000000000000000000000",
     "a693b288df7dae5b1757640276439230db77c4cd7a871e24d6162e54af434891", 14},
    // Same appendix, the next line: the previous ciphertext enciphered again.
    {"Rijndael book D.3 (256/128, 2nd)", "00000000000000000000000000000000", 32,
     "a693b288df7dae5b1757640276439230db77c4cd7a871e24d6162e54af434891",
     "5f05857c80b68ea42ccbc759d42c28d5cd490f1d180c7a9397ee585bea770391", 14},
    // Brian Gladman's Rijndael test vectors: block 256, key 128.
    {"Gladman (256/128)", "2b7e151628aed2a6abf7158809cf4f3c", 32,
     "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8",
     "7d15479076b69a46ffb3b3beae97ad8313f622f67fedb487de9f06b9ed9c8f19", 14},
    // Rijndael book appendix D.3: block 192, key 128, zero key, zero plaintext.
    {"Rijndael book D.3 (192/128)", "00000000000000000000000000000000", 24,
     "000000000000000000000000000000000000000000000000",
     "a92732eb488d8bb98ecd8d95dc9c02e052f250ad369b3849", 12},
    // Rijndael book appendix D.3: block 256, key 256, zero key, zero plaintext.
    {"Rijndael book D.3 (256/256)",
     "0000000000000000000000000000000000000000000000000000000000000000", 32,
     "0000000000000000000000000000000000000000000000000000000000000000",
     "c6227e7740b7e53b5cb77865278eab0726f62366d9aabad908936123a1fc8af3", 14},
};

}  // namespace

TEST(RijndaelKnownAnswer, EncryptBlockAndBack)
{
    for (const KnownAnswer& v : kKnownAnswers) {
        SCOPED_TRACE(v.source);
        const Bytes key = FromHex(v.key);
        const Bytes plain = FromHex(v.plain);
        const Bytes cipher = FromHex(v.cipher);
        ASSERT_EQ(size_t(v.blockSize), plain.size());

        CRijndaelCipher c;
        c.MakeKey(key.data(), int(key.size()), nullptr, int(key.size()), v.blockSize, kModeECB, 0);
        EXPECT_EQ(v.rounds, c.Rounds());

        Bytes out(plain.size());
        c.EncryptBlock(plain.data(), out.data());
        EXPECT_EQ(v.cipher, ToHex(out));

        Bytes back(plain.size());
        c.DecryptBlock(out.data(), back.data());
        EXPECT_EQ(v.plain, ToHex(back));

        // The same through the ECB stream interface.
        Bytes out2(plain.size());
        c.Encrypt(plain.data(), out2.data(), plain.size());
        EXPECT_EQ(v.cipher, ToHex(out2));
        Bytes back2(plain.size());
        EXPECT_EQ(0, c.Decrypt(cipher.data(), back2.data(), cipher.size()));
        EXPECT_EQ(v.plain, ToHex(back2));
    }
}

// Rijndael book appendix D.3 (256-bit block, 128-bit zero key): the zero
// block enciphered once and then again, here in place with the same buffer.
TEST(RijndaelKnownAnswer, EncipherInPlaceTwice)
{
    unsigned char key[16] = {};
    unsigned char block[32] = {};
    CRijndaelCipher c;
    c.MakeKey(key, 16, nullptr, 16, 32, kModeECB, 0);
    c.EncryptBlock(block, block);
    EXPECT_EQ("a693b288df7dae5b1757640276439230db77c4cd7a871e24d6162e54af434891", ToHex(block, 32));
    c.EncryptBlock(block, block);
    EXPECT_EQ("5f05857c80b68ea42ccbc759d42c28d5cd490f1d180c7a9397ee585bea770391", ToHex(block, 32));
    c.DecryptBlock(block, block);
    c.DecryptBlock(block, block);
    EXPECT_EQ(std::string(64, '0'), ToHex(block, 32));
}

TEST(RijndaelCipher, RoundsTable)
{
    const int expected[3][3] = {{10, 12, 14}, {12, 12, 14}, {14, 14, 14}};   // [key][block]
    unsigned char key[32] = {};
    for (int k = 0; k < 3; ++k) {
        for (int b = 0; b < 3; ++b) {
            CRijndaelCipher c;
            c.MakeKey(key, 32, nullptr, kSizes[k], kSizes[b], kModeECB, 0);
            EXPECT_EQ(expected[k][b], c.Rounds()) << "key " << kSizes[k] << " block " << kSizes[b];
            EXPECT_EQ(kSizes[k], c.KeyLength());
            EXPECT_EQ(kSizes[b], c.BlockSize());
        }
    }
}

// ---------------------------------------------------------------------------
// Modes

namespace {

// Reference CBC/CFB built from single ECB block operations.
Bytes ReferenceEncrypt(const CRijndaelCipher& ecb, int mode, const Bytes& iv, const Bytes& in)
{
    const size_t bs = iv.size();
    Bytes chain = iv, out(in.size()), tmp(bs);
    for (size_t off = 0; off < in.size(); off += bs) {
        if (mode == kModeCBC) {
            for (size_t i = 0; i < bs; ++i)
                chain[i] ^= in[off + i];
            ecb.EncryptBlock(chain.data(), chain.data());
            std::memcpy(&out[off], chain.data(), bs);
        } else {   // CFB
            ecb.EncryptBlock(chain.data(), tmp.data());
            for (size_t i = 0; i < bs; ++i)
                out[off + i] = chain[i] = static_cast<unsigned char>(tmp[i] ^ in[off + i]);
        }
    }
    return out;
}

}  // namespace

TEST(RijndaelCipher, CbcAndCfbRoundTripAllBlockAndKeySizes)
{
    for (int mode : {kModeCBC, kModeCFB, kModeECB}) {
        for (int keyLen : kSizes) {
            for (int bs : kSizes) {
                SCOPED_TRACE("mode " + std::to_string(mode) + " key " + std::to_string(keyLen) +
                             " block " + std::to_string(bs));
                const Bytes key = Pattern(size_t(keyLen), unsigned(keyLen * 131 + bs));
                const Bytes iv = Pattern(size_t(bs), unsigned(bs * 7 + mode));
                const Bytes plain = Pattern(size_t(bs) * 5, unsigned(mode * 1000 + keyLen + bs));

                CRijndaelCipher enc;
                enc.MakeKey(key.data(), keyLen, iv.data(), keyLen, bs, mode, 0);
                Bytes cipher(plain.size());
                enc.Encrypt(plain.data(), cipher.data(), plain.size());
                EXPECT_NE(ToHex(plain), ToHex(cipher));

                if (mode != kModeECB) {
                    CRijndaelCipher ecb;
                    ecb.MakeKey(key.data(), keyLen, nullptr, keyLen, bs, kModeECB, 0);
                    EXPECT_EQ(ToHex(ReferenceEncrypt(ecb, mode, iv, plain)), ToHex(cipher));
                }

                CRijndaelCipher dec;
                dec.MakeKey(key.data(), keyLen, iv.data(), keyLen, bs, mode, 0);
                Bytes back(plain.size());
                ASSERT_EQ(0, dec.Decrypt(cipher.data(), back.data(), cipher.size()));
                EXPECT_EQ(ToHex(plain), ToHex(back));

                // In place (same buffer) works in every mode.
                Bytes inplace = plain;
                enc.ResetChain();
                enc.Encrypt(inplace.data(), inplace.data(), inplace.size());
                EXPECT_EQ(ToHex(cipher), ToHex(inplace));
                dec.ResetChain();
                ASSERT_EQ(0, dec.Decrypt(inplace.data(), inplace.data(), inplace.size()));
                EXPECT_EQ(ToHex(plain), ToHex(inplace));
            }
        }
    }
}

TEST(RijndaelCipher, ChainCarriesOverBetweenCallsAndResetChainRestarts)
{
    const Bytes key = Pattern(16, 1);
    const Bytes iv = Pattern(32, 2);
    const Bytes plain = Pattern(96, 3);
    for (int mode : {kModeCBC, kModeCFB}) {
        CRijndaelCipher one;
        one.MakeKey(key.data(), 16, iv.data(), 16, 32, mode, 0);
        Bytes whole(96);
        one.Encrypt(plain.data(), whole.data(), 96);

        CRijndaelCipher split;
        split.MakeKey(key.data(), 16, iv.data(), 16, 32, mode, 0);
        Bytes parts(96);
        split.Encrypt(plain.data(), parts.data(), 32);
        split.Encrypt(plain.data() + 32, parts.data() + 32, 64);
        EXPECT_EQ(ToHex(whole), ToHex(parts)) << "mode " << mode;

        // After ResetChain the object starts again from the initial chain.
        Bytes again(96);
        split.ResetChain();
        split.Encrypt(plain.data(), again.data(), 96);
        EXPECT_EQ(ToHex(whole), ToHex(again)) << "mode " << mode;

        // Decrypt likewise carries the chain across calls.
        CRijndaelCipher dec;
        dec.MakeKey(key.data(), 16, iv.data(), 16, 32, mode, 0);
        Bytes back(96);
        ASSERT_EQ(0, dec.Decrypt(whole.data(), back.data(), 64));
        ASSERT_EQ(0, dec.Decrypt(whole.data() + 64, back.data() + 64, 32));
        EXPECT_EQ(ToHex(plain), ToHex(back)) << "mode " << mode;
    }
}

TEST(RijndaelCipher, EcbBlocksAreIndependent)
{
    const Bytes key = Pattern(16, 4);
    Bytes plain(64, 0x5a);   // two identical blocks
    CRijndaelCipher c;
    c.MakeKey(key.data(), 16, nullptr, 16, 32, kModeECB, 0);
    Bytes out(64);
    c.Encrypt(plain.data(), out.data(), 64);
    EXPECT_EQ(ToHex(out.data(), 32), ToHex(out.data() + 32, 32));
}

// Key data shorter than the key length is repeated cyclically.
TEST(RijndaelCipher, KeyDataIsUsedCyclically)
{
    const unsigned char five[5] = {0x11, 0x22, 0x33, 0x44, 0x55};
    for (int keyLen : kSizes) {
        Bytes full(static_cast<size_t>(keyLen));
        for (int i = 0; i < keyLen; ++i)
            full[size_t(i)] = five[i % 5];   // 0..4, 0..4, 0..4, 0 for 16 bytes
        const Bytes plain = Pattern(32, 9);

        CRijndaelCipher a, b;
        a.MakeKey(five, 5, nullptr, keyLen, 32, kModeECB, 0);
        b.MakeKey(full.data(), keyLen, nullptr, keyLen, 32, kModeECB, 0);
        Bytes ca(32), cb(32);
        a.EncryptBlock(plain.data(), ca.data());
        b.EncryptBlock(plain.data(), cb.data());
        EXPECT_EQ(ToHex(cb), ToHex(ca)) << "key length " << keyLen;

        // ...and not, say, zero-padded.
        Bytes padded(static_cast<size_t>(keyLen), 0);
        std::memcpy(padded.data(), five, 5);
        CRijndaelCipher z;
        z.MakeKey(padded.data(), keyLen, nullptr, keyLen, 32, kModeECB, 0);
        Bytes cz(32);
        z.EncryptBlock(plain.data(), cz.data());
        EXPECT_NE(ToHex(cz), ToHex(ca));
    }
    // Key data longer than the key length: only the first key-length bytes count.
    const Bytes longKey = Pattern(40, 10);
    CRijndaelCipher a, b;
    a.MakeKey(longKey.data(), 40, nullptr, 16, 16, kModeECB, 0);
    b.MakeKey(longKey.data(), 16, nullptr, 16, 16, kModeECB, 0);
    unsigned char p[16] = {}, ca[16], cb[16];
    a.EncryptBlock(p, ca);
    b.EncryptBlock(p, cb);
    EXPECT_EQ(ToHex(cb, 16), ToHex(ca, 16));
}

// ---------------------------------------------------------------------------
// Misuse

TEST(RijndaelCipher, OperationsBeforeMakeKeyThrowNotInitialised)
{
    CRijndaelCipher c;
    EXPECT_FALSE(c.IsInitialised());
    unsigned char in[32] = {}, out[32] = {};
    ExpectRuntimeError([&] { c.EncryptBlock(in, out); }, kMsgNotInit);
    ExpectRuntimeError([&] { c.DecryptBlock(in, out); }, kMsgNotInit);
    ExpectRuntimeError([&] { c.Encrypt(in, out, 32); }, kMsgNotInit);
    ExpectRuntimeError([&] { c.Encrypt(in, out, 0); }, kMsgNotInit);   // before the length check
    ExpectRuntimeError([&] { c.Xor(out, in); }, kMsgNotInit);
    ExpectRuntimeError([&] { c.ResetChain(); }, kMsgNotInit);
    // Decrypt reports by its result instead.
    EXPECT_EQ(-1, c.Decrypt(in, out, 32));
    EXPECT_EQ(-1, c.Decrypt(in, out, 0));
    // Through the base class too.
    CBlockCipher& base = c;
    ExpectRuntimeError([&] { base.Encrypt(in, out, 32); }, kMsgNotInit);
    EXPECT_EQ(-1, base.Decrypt(in, out, 32));
}

TEST(RijndaelCipher, MakeKeyChecksArgumentsInOrder)
{
    const unsigned char key[32] = {1, 2, 3};
    CRijndaelCipher c;
    // Each case has its own fault plus all faults that are checked later.
    ExpectRuntimeError([&] { c.MakeKey(nullptr, 0, nullptr, 20, 8, 3, 3); }, kMsgNoKeyData);
    ExpectRuntimeError([&] { c.MakeKey(nullptr, 16, nullptr, 16, 16, 0, 0); }, kMsgNoKeyData);
    ExpectRuntimeError([&] { c.MakeKey(key, 0, nullptr, 20, 8, 3, 3); }, kMsgKeyDataLength);
    ExpectRuntimeError([&] { c.MakeKey(key, -5, nullptr, 16, 16, 0, 0); }, kMsgKeyDataLength);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 20, 8, 3, 3); }, kMsgKeyLength);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 0, 16, 0, 0); }, kMsgKeyLength);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 64, 16, 0, 0); }, kMsgKeyLength);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 16, 8, 3, 3); }, kMsgBlockSize);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 16, 20, 0, 0); }, kMsgBlockSize);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 16, 16, 3, 3); }, kMsgMode);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 16, 16, -1, 0); }, kMsgMode);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 16, 16, 0, 3); }, kMsgPadding);
    ExpectRuntimeError([&] { c.MakeKey(key, 16, nullptr, 16, 16, 2, -1); }, kMsgPadding);
    // A failed MakeKey leaves the object uninitialised.
    EXPECT_FALSE(c.IsInitialised());
    unsigned char buf[16] = {};
    EXPECT_EQ(-1, c.Decrypt(buf, buf, 16));

    // All valid modes and paddings are accepted and stored.
    for (int mode = 0; mode <= 2; ++mode) {
        for (int padding = 0; padding <= 2; ++padding) {
            CRijndaelCipher ok;
            ok.MakeKey(key, 3, nullptr, 24, 24, mode, padding);
            EXPECT_TRUE(ok.IsInitialised());
            EXPECT_EQ(mode, ok.Mode());
            EXPECT_EQ(padding, ok.Padding());
        }
    }
}

TEST(RijndaelCipher, EncryptRejectsBadLength)
{
    CRijndaelCipher c;
    const unsigned char key[16] = {};
    c.MakeKey(key, 16, nullptr, 16, 24, kModeCBC, 0);
    unsigned char in[96] = {}, out[96] = {};
    ExpectRuntimeError([&] { c.Encrypt(in, out, 0); }, kMsgBlockSize);
    ExpectRuntimeError([&] { c.Encrypt(in, out, 16); }, kMsgBlockSize);
    ExpectRuntimeError([&] { c.Encrypt(in, out, 32); }, kMsgBlockSize);
    ExpectRuntimeError([&] { c.Encrypt(in, out, 50); }, kMsgBlockSize);
    c.Encrypt(in, out, 72);   // a multiple of 24
}

TEST(RijndaelCipher, DecryptResultCodes)
{
    CRijndaelCipher c;
    unsigned char in[64] = {}, out[64];
    EXPECT_EQ(-1, c.Decrypt(in, out, 64));   // no key yet
    const unsigned char key[16] = {};
    c.MakeKey(key, 16, nullptr, 16, 32, kModeCBC, 0);
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(-2, c.Decrypt(in, out, 0));
    EXPECT_EQ(-2, c.Decrypt(in, out, 48));
    EXPECT_EQ(-2, c.Decrypt(in, out, 16));
    for (unsigned char b : out)
        ASSERT_EQ(0xAA, b);   // nothing written on failure
    EXPECT_EQ(0, c.Decrypt(in, out, 64));
    EXPECT_EQ(0, c.Decrypt(in, out, 32));
}

TEST(RijndaelCipher, XorAfterMakeKeyUsesBlockSize)
{
    CRijndaelCipher c;
    const unsigned char key[16] = {};
    c.MakeKey(key, 16, nullptr, 16, 24, kModeECB, 0);
    unsigned char a[32], b[32];
    std::memset(a, 0x0f, sizeof a);
    std::memset(b, 0xf3, sizeof b);
    c.Xor(a, b);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(0xfc, a[i]);
    for (int i = 24; i < 32; ++i)
        EXPECT_EQ(0x0f, a[i]);   // beyond the block size: untouched
}

// ---------------------------------------------------------------------------
// EncipherBuffer / DecipherBuffer

// Pinned with the implementation verified by the known answers above:
// CBC from a zero chain on one block equals ECB under the digest key.
const char kPinnedZeroBlock[] = "b28218371f6ab42aa958a787257bac37933e531a64b884cbee086040e231b5a3";

TEST(CipherBuffer, VaultSettingZeroBlockPinned)
{
    unsigned char zero[32] = {}, out[32];
    EXPECT_EQ(32, EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, zero, out, 32, kVaultBlockSize, kModeCBC));
    EXPECT_EQ(kPinnedZeroBlock, ToHex(out, 32));

    // Equals the Rijndael (256-bit block, 128-bit key) encryption of the zero
    // block under the MD5 digest of the phrase.
    unsigned char key[16];
    CMD5Digest::Compute(kVaultKeyPhrase, 10, key);
    CRijndaelCipher ecb;
    ecb.MakeKey(key, 16, nullptr, 16, 32, kModeECB, 0);
    unsigned char ref[32];
    ecb.EncryptBlock(zero, ref);
    EXPECT_EQ(ToHex(ref, 32), ToHex(out, 32));

    unsigned char back[32];
    EXPECT_EQ(32, DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, out, back, 32, kVaultBlockSize, kModeCBC));
    EXPECT_EQ(ToHex(zero, 32), ToHex(back, 32));
}

TEST(CipherBuffer, OneCbcStreamPerCall)
{
    const Bytes plain = Pattern(64, 42);
    Bytes cipher(64);
    ASSERT_EQ(64, EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, plain.data(), cipher.data(), 64, 32, kModeCBC));

    // Whole buffer round-trips.
    Bytes back(64);
    ASSERT_EQ(64, DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, cipher.data(), back.data(), 64, 32, kModeCBC));
    EXPECT_EQ(ToHex(plain), ToHex(back));

    // First half alone gives the first plaintext block.
    Bytes first(32);
    ASSERT_EQ(32, DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, cipher.data(), first.data(), 32, 32, kModeCBC));
    EXPECT_EQ(ToHex(plain.data(), 32), ToHex(first));

    // Second half alone does not: the chain restarts at zero.
    Bytes second(32);
    ASSERT_EQ(32, DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, cipher.data() + 32, second.data(), 32, 32, kModeCBC));
    EXPECT_NE(ToHex(plain.data() + 32, 32), ToHex(second));
    // ...it is the second block XOR the first ciphertext block instead.
    for (size_t i = 0; i < 32; ++i)
        EXPECT_EQ(plain[32 + i] ^ cipher[i], second[i]);

    // Two 32-byte calls are not one 64-byte call.
    Bytes twoCalls(64);
    EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, plain.data(), twoCalls.data(), 32, 32, kModeCBC);
    EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, plain.data() + 32, twoCalls.data() + 32, 32, 32, kModeCBC);
    EXPECT_EQ(ToHex(cipher.data(), 32), ToHex(twoCalls.data(), 32));
    EXPECT_NE(ToHex(cipher.data() + 32, 32), ToHex(twoCalls.data() + 32, 32));

    // Calls are independent: the same call twice gives the same result.
    Bytes again(64);
    EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, plain.data(), again.data(), 64, 32, kModeCBC);
    EXPECT_EQ(ToHex(cipher), ToHex(again));
}

TEST(CipherBuffer, BadLengths)
{
    unsigned char in[96] = {}, out[96];
    for (int length : {0, 48, 16, 33, -32}) {
        SCOPED_TRACE(length);
        ExpectRuntimeError(
            [&] { EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in, out, length, kVaultBlockSize, kModeCBC); },
            kMsgBlockSize);
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(-1, DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in, out, length, kVaultBlockSize, kModeCBC));
        for (unsigned char b : out)
            ASSERT_EQ(0xAA, b);   // nothing written
    }
}

TEST(CipherBuffer, OtherKeyMethodLeavesOutputUntouched)
{
    const Bytes in = Pattern(64, 5);
    unsigned char out[64];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(64, EncipherBuffer(kVaultKeyPhrase, 4, in.data(), out, 64, kVaultBlockSize, kModeCBC));
    for (unsigned char b : out)
        ASSERT_EQ(0xAA, b);
    EXPECT_EQ(0, DecipherBuffer(kVaultKeyPhrase, 4, in.data(), out, 64, kVaultBlockSize, kModeCBC));
    for (unsigned char b : out)
        ASSERT_EQ(0xAA, b);
    // Not even the length is checked then.
    EXPECT_EQ(48, EncipherBuffer(kVaultKeyPhrase, 4, in.data(), out, 48, kVaultBlockSize, kModeCBC));
    EXPECT_EQ(0, DecipherBuffer(kVaultKeyPhrase, 4, in.data(), out, 48, kVaultBlockSize, kModeCBC));
}

TEST(CipherBuffer, BadBlockSizeOrModeThrowMakeKeyMessages)
{
    unsigned char in[64] = {}, out[64];
    ExpectRuntimeError([&] { EncipherBuffer(kVaultKeyPhrase, 5, in, out, 64, 8, kModeCBC); }, kMsgBlockSize);
    ExpectRuntimeError([&] { DecipherBuffer(kVaultKeyPhrase, 5, in, out, 64, 8, kModeCBC); }, kMsgBlockSize);
    ExpectRuntimeError([&] { EncipherBuffer(kVaultKeyPhrase, 5, in, out, 64, 32, 3); }, kMsgMode);
    ExpectRuntimeError([&] { DecipherBuffer(kVaultKeyPhrase, 5, in, out, 64, 32, 3); }, kMsgMode);
}

TEST(CipherBuffer, AllModesAndBlockSizesRoundTrip)
{
    for (int mode : {kModeECB, kModeCBC, kModeCFB}) {
        for (int bs : kSizes) {
            const Bytes plain = Pattern(size_t(bs) * 4, unsigned(mode * 100 + bs));
            Bytes cipher(plain.size()), back(plain.size());
            const int n = int(plain.size());
            ASSERT_EQ(n, EncipherBuffer(kVaultKeyPhrase, 5, plain.data(), cipher.data(), n, bs, mode));
            ASSERT_EQ(n, DecipherBuffer(kVaultKeyPhrase, 5, cipher.data(), back.data(), n, bs, mode));
            EXPECT_EQ(ToHex(plain), ToHex(back)) << "mode " << mode << " block " << bs;

            // The same as a directly keyed engine with the digest key and zero chain.
            unsigned char key[16];
            CMD5Digest::Compute("Pelmor5820", 10, key);
            CRijndaelCipher c;
            c.MakeKey(key, 16, nullptr, 16, bs, mode, 0);
            Bytes ref(plain.size());
            c.Encrypt(plain.data(), ref.data(), plain.size());
            EXPECT_EQ(ToHex(ref), ToHex(cipher)) << "mode " << mode << " block " << bs;
        }
    }
}

TEST(CipherBuffer, PhraseDigestsBytesWithoutTerminator)
{
    unsigned char zero[32] = {}, a[32], b[32];
    EncipherBuffer("Pelmor5820", 5, zero, a, 32, 32, kModeCBC);
    EXPECT_EQ(kPinnedZeroBlock, ToHex(a, 32));
    EncipherBuffer("Pelmor582", 5, zero, b, 32, 32, kModeCBC);
    EXPECT_NE(ToHex(a, 32), ToHex(b, 32));
}

TEST(CipherBuffer, ConcurrentCallsAgree)
{
    const Bytes plain = Pattern(4096, 77);
    Bytes expected(plain.size());
    EncipherBuffer(kVaultKeyPhrase, 5, plain.data(), expected.data(), int(plain.size()), 32, kModeCBC);
    std::vector<int> ok(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            int good = 1;
            for (int i = 0; i < 50; ++i) {
                Bytes out(plain.size()), back(plain.size());
                EncipherBuffer(kVaultKeyPhrase, 5, plain.data(), out.data(), int(plain.size()), 32, kModeCBC);
                DecipherBuffer(kVaultKeyPhrase, 5, out.data(), back.data(), int(back.size()), 32, kModeCBC);
                if (out != expected || back != plain)
                    good = 0;
            }
            ok[size_t(t)] = good;
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(1, ok[size_t(t)]) << "thread " << t;
}

// The keyed engine is kept between calls; a change of phrase (even in the
// same buffer), block size or mode, or a refused setting in between, must
// never leave a call with the key or chain of an earlier one.
TEST(CipherBuffer, KeptEngineFollowsEveryChangeOfSetting)
{
    const Bytes plain = Pattern(96, 9);
    auto fresh = [&](const char* phrase, int bs, int mode) {
        unsigned char key[16];
        CMD5Digest::Compute(phrase, std::strlen(phrase), key);
        CRijndaelCipher c;
        c.MakeKey(key, 16, nullptr, 16, bs, mode, 0);
        Bytes out(plain.size());
        c.Encrypt(plain.data(), out.data(), plain.size());
        return ToHex(out);
    };
    auto viaBuffer = [&](const char* phrase, int bs, int mode) {
        Bytes out(plain.size());
        EncipherBuffer(phrase, 5, plain.data(), out.data(), int(out.size()), bs, mode);
        return ToHex(out);
    };
    char phrase[] = "Pelmor5820";
    const struct { int bs; int mode; bool edit; bool refused; } steps[] = {
        {32, kModeCBC, false, false}, {32, kModeCBC, true, false},  {32, kModeCBC, true, false},
        {16, kModeCBC, false, false}, {32, kModeCFB, false, true},  {32, kModeCFB, false, false},
        {24, kModeECB, true, true},   {32, kModeCBC, false, false},
    };
    for (const auto& st : steps) {
        if (st.edit) phrase[9] = phrase[9] == '0' ? '1' : '0';  // same buffer, new text
        if (st.refused) {
            unsigned char in[32] = {}, out[32];
            EXPECT_THROW(EncipherBuffer(phrase, 5, in, out, 32, 32, 7), std::runtime_error);
        }
        SCOPED_TRACE(std::string(phrase) + " block " + std::to_string(st.bs));
        EXPECT_EQ(fresh(phrase, st.bs, st.mode), viaBuffer(phrase, st.bs, st.mode));
        // A decipher right after starts from the zero chain again.
        Bytes cipher(plain.size()), back(plain.size());
        EncipherBuffer(phrase, 5, plain.data(), cipher.data(), int(cipher.size()), st.bs, st.mode);
        ASSERT_EQ(int(back.size()),
                  DecipherBuffer(phrase, 5, cipher.data(), back.data(), int(back.size()), st.bs, st.mode));
        EXPECT_EQ(ToHex(plain), ToHex(back));
    }
}
