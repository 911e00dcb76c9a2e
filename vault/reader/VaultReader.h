// The vault reader: lists the entries of a vault and unpacks one entry at a
// time into a unique file of its root folder, an open file or a memory
// buffer. It only ever reads the vault.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "vault/VaultApi.h"
#include "vault/format/VaultScan.h"

namespace vault {

// True when name can be turned into a path below a root folder without
// leaving it or naming something other than a plain file or folder: no
// empty, "." or ".." component, no leading separator, no drive or stream
// colon, no characters Windows refuses in names, no component ending in a
// dot or space, no reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// with or without an extension). A single trailing separator is allowed.
bool IsSafeEntryPath(const std::string& name);

class VaultReader {
public:
    VaultReader() = default;
    ~VaultReader();
    VaultReader(const VaultReader&) = delete;
    VaultReader& operator=(const VaultReader&) = delete;

    // Opens the source. A result other than 0 means the reader is unusable;
    // 0 with an unparsed archive is a usable reader that lists nothing.
    uint32_t Open(const void* source, uint32_t sourceLength, int sourceType,
                  const char* workingFolder);
    uint32_t ReadInfo(int index, ZipEntryInfo* info);
    uint32_t Extract(int index, const void* target, uint32_t targetLength, int kind,
                     std::string* outPath);
    // Ends any extraction, closes the file and gives back the current folder.
    void Close();

    bool Parsed() const { return m_parsed; }
    const std::string& Root() const { return m_root; }

private:
    struct Extraction {
        int index = -1;
        uint16_t method = 0;
        uint64_t nextPos = 0;       // file position of the next compressed byte
        uint64_t compressedLeft = 0;
        uint64_t uncompressedLeft = 0;
        uint32_t crc = 0;
        uint32_t expectedCrc = 0;
        bool inflating = false;     // m_zstream is initialised
        bool streamEnded = false;
        std::vector<uint8_t> input;
    };

    uint32_t Describe(int index, ZipEntryInfo* info);
    bool BeginExtraction(int index);
    // Delivers up to want bytes; 0 at the end, -1 on a read or inflate error.
    long ReadData(uint8_t* out, size_t want);
    // Ends the extraction. *complete: every recorded byte was delivered;
    // *crcOk: and their CRC-32 matches the recorded one.
    void EndExtraction(bool* complete = nullptr, bool* crcOk = nullptr);
    uint32_t ExtractToMemory(int index, void* buffer, uint32_t length);

    // Where entry index's data starts once its local record has been
    // checked, and that its data ends before the next local record.
    uint32_t CheckLocal(int index, LocalEntry* local);

    CFile m_file;
    bool m_parsed = false;
    DirectoryInfo m_directory;
    // The central directory, read whole at open: every record up to the
    // first that cannot be read. Entries past it end in 0x700.
    std::vector<CentralEntry> m_entries;
    // Entries whose local range overlaps another entry's: refused (0x700).
    std::vector<bool> m_overlapping;
    // Start of every local record, ascending: the next one bounds an
    // entry's data.
    std::vector<uint64_t> m_localStarts;
    ReadWindow m_localWindow;  // local records of a listing, read ahead
    Extraction m_ex;
    z_stream m_zstream{};
    ZipEntryInfo m_cached;
    int m_cachedIndex = -1;
    uint64_t m_cachedDataStart = 0;  // of m_cachedIndex: its checked local record
    std::string m_root;
    std::string m_savedFolder;
    bool m_folderSaved = false;
};

}  // namespace vault
