// Helpers shared by the reader, writer and recovery tests: a private temp
// folder, whole-file bytes, building vaults through the writer, reading them
// back through the reader, and patching enciphered records in place.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"
#include "vault/threads/ThreadPool.h"
#include "vault/writer/ParallelDeflate.h"

namespace hbtest {

using Bytes = std::vector<uint8_t>;

// This process's id, for temporary names: the core tests run in several
// processes at once (one per shard), whose clocks and counters may agree.
inline std::string ProcessTag() {
#ifdef _WIN32
    return std::to_string(_getpid());
#else
    return std::to_string(::getpid());
#endif
}

// A folder of its own below the temporary folder, removed with everything
// in it at the end of the test.
class TempDir {
public:
    explicit TempDir(const std::string& tag) {
        static std::atomic<unsigned> counter{0};
        m_path = fileio::TempFolder() + "hb_rw_" + tag + "_" + ProcessTag() + "_" +
                 std::to_string(fileio::TickCount()) +
                 "_" + std::to_string(counter++);
        fileio::MakeDirectoryChain(m_path);
        m_path += fileio::Separator();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::u8path(m_path), ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }  // with a trailing separator
    std::string operator/(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
    CFile f;
    return f.Open(path, CFile::Mode::CreateWrite) && f.Write(bytes.data(), bytes.size());
}

inline Bytes ReadBytes(const std::string& path) {
    CFile f;
    Bytes out;
    uint64_t size = 0;
    if (!f.Open(path, CFile::Mode::Read) || !f.Size(&size)) return out;
    out.resize(static_cast<size_t>(size));
    if (size && !f.ReadAt(0, out.data(), out.size())) out.clear();
    return out;
}

// Deterministic test data: text-like (compressible) or noise.
inline Bytes MakeData(size_t size, uint32_t seed, bool compressible) {
    Bytes out(size);
    uint32_t x = seed * 2654435761u + 12345u;
    static const char kWords[] = "vault entry folder file data journal record ";
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = compressible ? static_cast<uint8_t>(kWords[(i + (x >> 28)) % (sizeof kWords - 1)])
                              : static_cast<uint8_t>(x >> 24);
    }
    return out;
}

struct TestEntry {
    std::string name;
    Bytes data;
    bool folder = false;
};

// Adds entries through an open writer from memory (or as folders).
inline void AddEntries(VaultHandle* writer, const std::vector<TestEntry>& entries) {
    for (const TestEntry& e : entries) {
        const uint32_t rc =
            e.folder ? AddVaultEntry(writer, e.name.c_str(), nullptr, 0, kVaultSourceFolder, nullptr,
                                     nullptr, nullptr, nullptr)
                     : AddVaultEntry(writer, e.name.c_str(), e.data.data(),
                                     static_cast<uint32_t>(e.data.size()), kVaultSourceMemory,
                                     nullptr, nullptr, nullptr, nullptr);
        ASSERT_EQ(rc, kVaultOk) << e.name;
    }
}

// Writes entries into the vault at path (created or added to).
inline void BuildVault(const std::string& path, const std::vector<TestEntry>& entries,
                       const std::string& journal = std::string()) {
    VaultHandle* w = OpenVaultWriter(path.c_str(), 0, kVaultSourcePath,
                                     journal.empty() ? nullptr : journal.c_str());
    ASSERT_NE(w, nullptr);
    AddEntries(w, entries);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
}

// All bytes of one entry through memory extraction; the final result code
// (0 when complete and its CRC-32 matched). Each call fills the buffer
// unless the entry ends in it, so the recorded size tells how much came.
inline uint32_t ReadEntryData(VaultHandle* reader, int index, Bytes* out) {
    out->clear();
    ZipEntryInfo info;
    const uint32_t described = ReadEntryInfo(reader, index, &info);
    if (described != kVaultOk) return described;
    uint64_t left = static_cast<uint32_t>(info.uncompressedSize);
    uint8_t buf[5000];
    for (;;) {
        const uint32_t rc = ExtractEntry(reader, index, buf, sizeof buf, kExtractToMemory, nullptr);
        if (rc != kVaultMoreData) return rc;
        const size_t n = static_cast<size_t>(left < sizeof buf ? left : sizeof buf);
        if (n == 0) return 0xFFFFFFFF;  // more than the recorded size came
        out->insert(out->end(), buf, buf + n);
        left -= n;
    }
}

struct ListedEntry {
    ZipEntryInfo info;
    Bytes data;
    uint32_t result = 0;  // of reading its data
};

// Lists the vault and reads every entry; false when it cannot be listed.
inline bool ReadWholeVault(const std::string& path, std::vector<ListedEntry>* out) {
    out->clear();
    VaultHandle* r = OpenVaultReader(path.c_str(), 0, kVaultSourcePath, nullptr);
    if (!r) return false;
    ZipEntryInfo count;
    bool ok = ReadEntryInfo(r, -1, &count) == kVaultOk;
    for (int i = 0; ok && i < count.index; ++i) {
        ListedEntry e;
        ok = ReadEntryInfo(r, i, &e.info) == kVaultOk;
        if (ok) e.result = ReadEntryData(r, i, &e.data);
        out->push_back(std::move(e));
    }
    CloseVaultHandle(r);
    return ok;
}

// Sets the core's thread count and the deflate block size for one test
// (small blocks send small entries through the parallel deflate).
struct ParallelGuard {
    ParallelGuard(unsigned threads, size_t blockSize) {
        vault::SetVaultThreads(threads);
        vault::SetDeflateBlockSizeForTest(blockSize);
    }
    ~ParallelGuard() {
        vault::SetVaultThreads(0);
        vault::SetDeflateBlockSizeForTest(0);
    }
    ParallelGuard(const ParallelGuard&) = delete;
    ParallelGuard& operator=(const ParallelGuard&) = delete;
};

// Resets the write hook however the test ends.
struct WriteHookGuard {
    explicit WriteHookGuard(fileio::WriteHook hook) { fileio::SetWriteHook(std::move(hook)); }
    ~WriteHookGuard() { fileio::SetWriteHook(nullptr); }
};

// The plain end record of a vault image (the last 32 bytes).
inline vault::EndRecord EndOf(const Bytes& image) {
    vault::EndRecord end;
    if (image.size() >= vault::kEndBlockSize) {
        vault::DecodeEndRecord(image.data() + image.size() - vault::kEndBlockSize,
                               vault::kEndFixedSize, &end);
    }
    return end;
}

// Deciphers the header record of length len at pos, lets edit change the
// plain bytes, and enciphers it back in place.
template <typename Edit>
void PatchRecord(Bytes* image, size_t pos, size_t len, Edit edit) {
    ASSERT_LE(pos + len, image->size());
    Bytes plain(len), again(len);
    ASSERT_TRUE(vault::DecipherRecord(image->data() + pos, plain.data(), len));
    edit(plain.data());
    ASSERT_TRUE(vault::EncipherRecord(plain.data(), again.data(), len));
    std::memcpy(image->data() + pos, again.data(), len);
}

// Position and length of central record index in a vault image.
inline bool CentralRecordAt(const Bytes& image, int index, size_t* pos, size_t* len) {
    const vault::EndRecord end = EndOf(image);
    size_t p = end.directoryOffset;
    for (int i = 0;; ++i) {
        if (p + 64 > image.size()) return false;
        uint8_t plain[64];
        if (!vault::DecipherRecord(image.data() + p, plain, 64)) return false;
        const size_t l = 46 + vault::GetU16(plain + 28) + vault::GetU16(plain + 30) +
                         vault::GetU16(plain + 32);
        if (i == index) {
            *pos = p;
            *len = l;
            return true;
        }
        p += l;
    }
}

// The deciphered fixed part of central record index.
inline vault::CentralHeader CentralHeaderAt(const Bytes& image, int index) {
    vault::CentralHeader h;
    size_t pos = 0, len = 0;
    if (!CentralRecordAt(image, index, &pos, &len)) return h;
    uint8_t plain[64];
    vault::DecipherRecord(image.data() + pos, plain, 64);
    vault::DecodeCentralHeader(plain, 64, &h);
    return h;
}

}  // namespace hbtest
