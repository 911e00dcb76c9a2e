// libFuzzer target for the vault reader: the input is taken as a vault file
// and put through everything a caller can ask of the reader - the entry
// count, every entry's description (in order, then backwards, and past the
// end), unpacking into memory and into an open file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"

namespace {

// Enough to reach every code path without letting one input run for long.
constexpr int kMaxEntries = 64;
constexpr int kMaxUnpacked = 16;
constexpr size_t kMaxMemoryBytes = 8u << 20;

struct Paths {
    std::string vault;
    std::string sink;
};

void RemoveScratch();

const Paths& Scratch() {
    static const Paths paths = [] {
        std::string base = fileio::TempFolder() + "hb_fuzz_" + std::to_string(::getpid());
        std::atexit(RemoveScratch);
        return Paths{base + ".vfo", base + ".out"};
    }();
    return paths;
}

void RemoveScratch() {
    fileio::Remove(Scratch().vault);
    fileio::Remove(Scratch().sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Paths& paths = Scratch();
    {
        CFile f;
        if (!f.Open(paths.vault, CFile::Mode::CreateWrite)) std::abort();
        if (size && !f.Write(data, size)) std::abort();
    }

    VaultHandle* reader = OpenVaultReader(paths.vault.c_str(), 0, kVaultSourcePath, "");
    if (!reader) return 0;

    ZipEntryInfo info;
    int count = 0;
    if (ReadEntryInfo(reader, -1, &info) == kVaultOk) count = info.index;
    const int listed = count < kMaxEntries ? count : kMaxEntries;
    for (int i = -1; i <= listed; ++i) ReadEntryInfo(reader, i, &info);
    for (int i = listed - 1; i >= 0; i -= 3) ReadEntryInfo(reader, i, &info);
    ReadEntryInfo(reader, count, &info);

    std::vector<uint8_t> buffer(4096 + 17);
    const int unpacked = listed < kMaxUnpacked ? listed : kMaxUnpacked;
    for (int i = 0; i < unpacked; ++i) {
        size_t total = 0;
        uint32_t rc;
        do {
            rc = ExtractEntry(reader, i, buffer.data(), static_cast<uint32_t>(buffer.size()),
                              kExtractToMemory, nullptr);
            total += buffer.size();
        } while (rc == kVaultMoreData && total < kMaxMemoryBytes);

        CFile sink;
        if (!sink.Open(paths.sink, CFile::Mode::CreateWrite)) std::abort();
        ExtractEntry(reader, i, &sink, 0, kExtractToStream, nullptr);
    }
    // Out-of-range requests and a memory extraction left half done at close.
    ExtractEntry(reader, count, buffer.data(), static_cast<uint32_t>(buffer.size()), kExtractToMemory, nullptr);
    ExtractEntry(reader, -1, buffer.data(), static_cast<uint32_t>(buffer.size()), kExtractToMemory, nullptr);
    if (listed > 0) ExtractEntry(reader, 0, buffer.data(), 1, kExtractToMemory, nullptr);
    CloseVaultHandle(reader);
    return 0;
}
