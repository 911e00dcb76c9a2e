// The vault writer: creates a vault or opens an existing one, appends
// entries after the last entry's data and, when closed, writes the new
// central directory and end record.
//
// The add journal describes a complete vault at every moment: when the
// writer opens, the journal holds the old directory tail (the old directory
// and end record) and its offset; when the writer ends, the vault's new
// entries are flushed, and only then a journal with the new tail replaces
// the old one atomically before the tail is copied into the vault. A vault
// whose add stopped at any point can therefore be put back by writing the
// journal's bytes at its offset and cutting the file there.
//
// A vault that does not exist yet (or is the empty vault) holds nothing to
// protect: it is written whole into a new file beside it, which replaces it
// only once complete, and no journal is needed.
//
// A journal that is still needed is never overwritten: opening fails with
// 0x200 while the journal path holds one that belongs to another vault or
// that this vault still needs (recover first).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vault/VaultApi.h"
#include "vault/format/NameCodec.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace vault {

class EntryPrefetcher;
struct PreparedFile;

// Limits of the vault: every offset, the directory and the end record must
// lie below 4 GiB, and the directory holds at most 65,535 entries.
constexpr uint64_t kMaxVaultBytes = 0xFFFFFFFFull;
constexpr uint32_t kMaxVaultEntries = 0xFFFF;

// Tests only: lower limits so that they can be reached cheaply. Zero puts
// the built-in limit back.
void SetWriterLimitsForTest(uint64_t maxVaultBytes, uint32_t maxEntries);

class VaultWriter {
public:
    VaultWriter() = default;
    // Closes the files. Never writes: a writer that is not ended leaves the
    // vault and the journal as they are.
    ~VaultWriter() = default;
    VaultWriter(const VaultWriter&) = delete;
    VaultWriter& operator=(const VaultWriter&) = delete;

    uint32_t Open(const void* target, uint32_t targetLength, int targetType, const char* journal);
    // name: the stored form; a folder's gets its trailing '/' here.
    uint32_t Add(const StoredName& name, const void* source, uint32_t sourceLength, int sourceType,
                 uint32_t* outAttributes, uint32_t* outLocalOffset, uint32_t* outCompressedSize,
                 uint32_t* outUncompressedSize);
    // Writes the directory tail; runs once.
    uint32_t End();

    // Files of path sources may come read and compressed ahead from here.
    void SetPrefetcher(EntryPrefetcher* prefetcher) { m_prefetch = prefetcher; }

private:
    struct Source;

    bool OutWrite(const void* data, size_t len);
    bool OutSeek(uint64_t pos);
    uint32_t OpenPath(const char* path, const char* journal);
    uint32_t LoadOldDirectory(const DirectoryInfo& dir, std::vector<uint8_t>* oldTail);
    uint32_t WriteData(Source& src, uint16_t method, uint64_t reserved, uint32_t* crc,
                       uint64_t* bytesRead, uint64_t* compressed);
    uint32_t WriteTail();
    uint64_t DirectoryBytes() const;  // old directory + new central records
    std::vector<uint8_t> BuildTail(uint64_t directoryOffset) const;

    // Output: a file, or a memory block.
    CFile m_out;
    bool m_toFile = false;
    bool m_seekable = true;
    uint8_t* m_memory = nullptr;
    std::unique_ptr<uint8_t[]> m_ownedMemory;
    uint64_t m_memoryLength = 0;
    uint64_t m_memoryPos = 0;

    uint64_t m_base = 0;        // where new local records start
    uint64_t m_writeCount = 0;  // bytes of complete entries since the base
    uint32_t m_error = kVaultOk;
    bool m_ended = false;
    uint32_t m_endResult = kVaultOk;

    std::vector<uint8_t> m_oldDirectory;  // raw, still enciphered
    uint16_t m_oldCount = 0;
    std::vector<std::vector<uint8_t>> m_central;  // enciphered central records of new entries
    uint64_t m_centralBytes = 0;

    std::string m_journalPath;
    bool m_journalActive = false;

    EntryPrefetcher* m_prefetch = nullptr;

    // A new vault is built in m_tempPath and renamed to m_finalPath at the end.
    bool m_fresh = false;
    std::string m_finalPath, m_tempPath;
};

// Ends and closes a writer for CloseVaultHandle; records the writer's last
// result.
uint32_t CloseWriter(VaultWriter& writer);

// Writes bytes to path through a temporary file beside it (written, flushed,
// then renamed over path). False, with path as it was, on any failure.
bool ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// Creates a new file beside path, never an existing name and never through
// a link: path + ".new" first, then names with a random part, a few times.
// False when none could be created.
bool CreateFileBeside(const std::string& path, CFile* file, std::string* created);

// Removes the files with a random part that CreateFileBeside made for path
// and a stop left behind ("<path>.<8 hex digits>.new"; nothing reads them).
// Left alone, each stop while "<path>.new" was taken would add one.
// Returns how many went.
size_t RemoveStrayFilesBeside(const std::string& path);

}  // namespace vault
