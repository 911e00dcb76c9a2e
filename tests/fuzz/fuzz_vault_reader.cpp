// libFuzzer target for the vault reader: the input is taken as a vault file
// and put through everything a caller can ask of the reader - the entry
// count, every entry's description (in order, then backwards, and past the
// end), unpacking into memory and into an open file. Every result must be
// one the call documents; unpacking is bounded by a write budget. Names are
// decoded in a double-byte or a single-byte code page (the input's length
// chooses), and every name handed out must be valid UTF-8 that the codec
// gives for the stored bytes and the UTF-8 flag.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "vault/format/NameCodec.h"
#include "vault/format/VaultRecords.h"

using hbfuzz::Expect;

namespace {

// Enough to reach every code path without letting one input run for long.
constexpr int kMaxEntries = 64;
constexpr int kMaxUnpacked = 16;
constexpr size_t kMaxMemoryBytes = 8u << 20;
// Bytes an unpacking into a file may write before its writes fail (the
// reader then answers 0x400): a small input may inflate a thousandfold.
constexpr size_t kMaxStreamBytes = 4u << 20;

// A description's name must be what the codec makes of its stored bytes
// and flag: valid UTF-8 always, the bytes themselves for a flagged name
// that is valid UTF-8, and empty only with the stored name.
void CheckName(const ZipEntryInfo& info) {
    if (info.storedName.empty() != info.name.empty()) std::abort();
    if (!vault::IsValidUtf8(info.name)) std::abort();
    if (info.name != vault::DecodeEntryName(info.storedName, info.nameUtf8)) std::abort();
    if (info.nameUtf8 && vault::IsValidUtf8(info.storedName) && info.name != info.storedName) std::abort();
    if (info.storedName.size() > vault::kMaxNameLength) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& vaultPath = hbfuzz::ScratchFile("vfo");
    const std::string& sinkPath = hbfuzz::ScratchFile("out");
    hbfuzz::WriteWhole(vaultPath, data, size);

    vault::SetNameCodePage(size % 2 ? 932 : 1252);
    VaultHandle* reader = OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, "");
    if (!reader) return 0;

    const std::initializer_list<uint32_t> described = {kVaultOk, kVaultCorrupt, kVaultBadArguments};
    ZipEntryInfo info;
    int count = 0;
    if (Expect(ReadEntryInfo(reader, -1, &info), "count", {kVaultOk, kVaultBadArguments}) == kVaultOk) {
        count = info.index;
        if (count < 0 || count > 65535) std::abort();
    }
    const int listed = count < kMaxEntries ? count : kMaxEntries;
    for (int i = -1; i <= listed; ++i)
        if (Expect(ReadEntryInfo(reader, i, &info), "describe", described) == kVaultOk && i >= 0) CheckName(info);
    for (int i = listed - 1; i >= 0; i -= 3)
        if (Expect(ReadEntryInfo(reader, i, &info), "describe", described) == kVaultOk) CheckName(info);
    Expect(ReadEntryInfo(reader, count, &info), "describe past the end", {kVaultBadArguments});

    std::vector<uint8_t> buffer(4096 + 17);
    const int unpacked = listed < kMaxUnpacked ? listed : kMaxUnpacked;
    for (int i = 0; i < unpacked; ++i) {
        size_t total = 0;
        uint32_t rc;
        do {
            rc = Expect(ExtractEntry(reader, i, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                     kExtractToMemory, nullptr),
                        "unpack to memory", {kVaultOk, kVaultMoreData, kVaultCorrupt, kVaultFlateError});
            total += buffer.size();
        } while (rc == kVaultMoreData && total < kMaxMemoryBytes);

        CFile sink;
        if (!sink.Open(sinkPath, CFile::Mode::CreateWrite)) std::abort();
        size_t written = 0;
        fileio::SetWriteHook([&written](size_t bytes) {
            written += bytes;
            return written <= kMaxStreamBytes;
        });
        Expect(ExtractEntry(reader, i, &sink, 0, kExtractToStream, nullptr), "unpack to a file",
               {kVaultOk, kVaultCorrupt, kVaultWriteError});
        fileio::SetWriteHook(nullptr);
    }
    // Out-of-range requests and a memory extraction left half done at close.
    Expect(ExtractEntry(reader, count, buffer.data(), static_cast<uint32_t>(buffer.size()),
                        kExtractToMemory, nullptr),
           "unpack past the end", {kVaultBadArguments});
    Expect(ExtractEntry(reader, -1, buffer.data(), static_cast<uint32_t>(buffer.size()),
                        kExtractToMemory, nullptr),
           "unpack -1", {kVaultBadArguments});
    if (listed > 0) {
        Expect(ExtractEntry(reader, 0, buffer.data(), 1, kExtractToMemory, nullptr), "unpack one byte",
               {kVaultOk, kVaultMoreData, kVaultCorrupt, kVaultFlateError});
    }
    Expect(CloseVaultHandle(reader), "close", {kVaultOk});
    return 0;
}
