// Reading the structure of a vault file through CFile: the backward search
// for the end record, the end record itself, central records (deciphered in
// two steps), a walker over the central directory, and the check of the
// local record that a central record points at.
//
// Every length and offset taken from the file is checked against the file
// size and the region it has to lie in before it is used, so a damaged or
// hostile file ends in Corrupt or IoError, never in a read outside the
// buffers or an allocation larger than the file allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"

namespace vault {

// The end record is searched for within the last min(size, 65535) bytes, in
// windows of 1028 bytes that step 1024 bytes toward the start of the file.
constexpr uint64_t kEndSearchSpan = 65535;
constexpr size_t kEndSearchWindow = 1028;
constexpr size_t kEndSearchStep = 1024;

// The last occurrence of the end signature (12 11 05 06) that lies wholly
// within the searched tail of the file and starts below `before`.
// Ok with *position set; Corrupt when there is none (not a vault); IoError
// when a read fails.
VaultStatus FindEndSignature(CFile& file, uint64_t fileSize, uint64_t before, uint64_t* position);
inline VaultStatus FindEndRecord(CFile& file, uint64_t fileSize, uint64_t* position) {
    return FindEndSignature(file, fileSize, fileSize, position);
}

// Reads the 22 plain bytes at position and validates them (disk numbers 0,
// equal counts, directory offset + size <= position). Corrupt when the
// bytes are not all there or fail validation; IoError when the read fails.
VaultStatus ReadEndRecord(CFile& file, uint64_t fileSize, uint64_t position, EndRecord* out);

// Where the central directory lies.
struct DirectoryInfo {
    uint64_t fileSize = 0;
    uint64_t endPosition = 0;     // E: first byte of the end record
    EndRecord end;
    uint64_t prefixBytes = 0;     // E - (D + Z); 0 in a vault written by us
    uint64_t directoryStart = 0;  // D + prefix = E - Z: first central record
    uint16_t entryCount = 0;      // central records on this disk

    // Central records lie in [directoryStart, endPosition); local records and
    // entry data lie before directoryStart.
    uint64_t DirectoryEnd() const { return endPosition; }
};

// Finds and validates the end record: the last occurrence of the signature
// wins. Should that occurrence not hold a valid end record (for example
// when the four bytes appear inside the end record's own offset field), the
// search goes on toward the start for an earlier occurrence that does.
// Ok; Corrupt when no valid end record is found; IoError.
VaultStatus LocateDirectory(CFile& file, DirectoryInfo* out);

// Reads the central record at absolute position, which must lie wholly below
// limit (normally DirectoryInfo::DirectoryEnd()). First 64 bytes are read
// and deciphered for the fixed part, then the whole record 46 + n + m + k.
// IoError when fewer than 64 bytes (or fewer than the record) can be read
// or the read fails; Corrupt for a record that does not fit below limit, a
// failed decipher or a wrong signature. *length receives 46 + n + m + k.
VaultStatus ReadCentralRecord(CFile& file, uint64_t position, uint64_t limit, CentralRecord* out,
                              uint64_t* length);

// Reads and deciphers only the fixed part of the local record at position
// (its first 32 bytes), which must lie wholly below limit.
VaultStatus ReadLocalHeader(CFile& file, uint64_t position, uint64_t limit, LocalHeader* out);

// The local record of a central record, checked.
struct LocalEntry {
    LocalRecord record;       // deciphered: fixed part, name, extra field
    uint64_t position = 0;    // absolute file offset of the local record
    uint64_t dataStart = 0;   // absolute file offset of the entry data
};

// The local-record check: the first 32 bytes at the central record's local
// offset (shifted by the prefix) are deciphered; the signature must be the
// local one, the method equal to the central one and 0 or 8, the CRC and
// both sizes equal to the central ones unless the local flags have bit 3,
// and the name length equal. Then the whole local record is deciphered for
// its extra field. The record and the entry data (the central compressed
// size) must lie below the central directory. Any mismatch: Corrupt.
// A read-ahead window for many small reads at rising offsets of one file
// (the local records of a listing): a read that misses the window fills it
// from the read's offset on.
class ReadWindow {
public:
    static constexpr size_t kSize = 32768;
    // Like a positioned read of up to len bytes at pos, never past limit;
    // *got receives how many came (fewer only at limit or the file's end).
    bool Read(CFile& file, uint64_t pos, uint64_t limit, uint8_t* out, size_t len, size_t* got);
    void Clear() { m_len = 0; }

private:
    std::vector<uint8_t> m_bytes;
    uint64_t m_pos = 0;
    size_t m_len = 0;
};

VaultStatus CheckLocalRecord(CFile& file, const DirectoryInfo& directory,
                             const CentralHeader& central, LocalEntry* out,
                             ReadWindow* window = nullptr);

// One central record as kept by a reader that holds the whole directory:
// the fixed part, the name and where the record lies.
struct CentralEntry {
    CentralHeader header;
    std::string name;
    uint64_t position = 0;  // absolute file offset of the record
    uint64_t length = 0;    // 46 + n + m + k
};

// Reads the central directory front to back with as few reads as possible
// (the whole directory in one read when it is at most kDirectoryReadWindow
// bytes), deciphering each record as ReadCentralRecord does. out receives
// every record up to the first one that cannot be read; the result is Ok
// when all entryCount records were read, else the failure of that record
// (IoError, Corrupt, or IoError when the buffer cannot be had).
constexpr size_t kDirectoryReadWindow = 16u << 20;
VaultStatus ReadCentralDirectory(CFile& file, const DirectoryInfo& directory,
                                 std::vector<CentralEntry>* out);

// Where an entry's local record and data lie at least, from its central
// record alone: [start, start + 30 + n + compressed size). Entries are only
// ever appended, so two of these ranges never overlap in a sound vault.
struct LocalSpan {
    uint64_t start = 0;
    uint64_t end = 0;
};
LocalSpan CentralLocalSpan(const DirectoryInfo& directory, const CentralHeader& central);

// Marks every entry whose span overlaps another's (both are marked).
// Returns the number of entries marked.
size_t MarkOverlappingSpans(const std::vector<LocalSpan>& spans, std::vector<bool>* overlapping);

// Steps through the central directory one record at a time. The walker
// keeps the current record; it does not own the file.
class CentralDirectoryWalker {
public:
    CentralDirectoryWalker() = default;
    CentralDirectoryWalker(CFile* file, const DirectoryInfo& directory) { Reset(file, directory); }

    void Reset(CFile* file, const DirectoryInfo& directory);

    // Reads the first central record. EndOfList for an empty directory.
    VaultStatus First();
    // Reads the next one. Past the last record: EndOfList, the current
    // record staying as it was. After a failed read the failure is returned
    // again (a walk that cannot advance never repeats a record); First() or
    // Seek() starts over. BadArgument before the walk has been started.
    VaultStatus Next();
    // Moves to record index: forward from the current record, or from the
    // first when index lies behind it. BadArgument for index >= Count().
    VaultStatus Seek(uint32_t index);

    bool Valid() const { return m_valid; }
    uint32_t Index() const { return m_index; }
    uint32_t Count() const { return m_directory.entryCount; }
    uint64_t Position() const { return m_position; }          // of the current record
    uint64_t RecordLength() const { return m_length; }        // 46 + n + m + k
    const CentralRecord& Record() const { return m_record; }
    const DirectoryInfo& Directory() const { return m_directory; }

private:
    VaultStatus ReadAt(uint32_t index, uint64_t position);

    CFile* m_file = nullptr;
    DirectoryInfo m_directory;
    CentralRecord m_record;
    bool m_started = false;
    bool m_valid = false;
    VaultStatus m_status = VaultStatus::EndOfList;  // of the last read
    uint32_t m_index = 0;
    uint64_t m_position = 0;
    uint64_t m_length = 0;
};

}  // namespace vault
