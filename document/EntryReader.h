// Reading one vault entry a piece at a time: the data is inflated only as
// far as it is asked for, so an entry of any size costs a few tens of
// kilobytes of memory. The vault file is open only while bytes are still
// due; a reader that has handed out the last byte lets go of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vault/VaultApi.h"

class CEntryReader {
public:
    CEntryReader() = default;
    ~CEntryReader() { Release(); }
    CEntryReader(const CEntryReader&) = delete;
    CEntryReader& operator=(const CEntryReader&) = delete;

    // Looks up the file entry of exactly this stored path (either
    // separator). False when the vault cannot be opened; a path the vault
    // has no file entry for gives an empty reader (Found() false, size 0).
    bool Open(const std::string& vaultPath, const std::string& entryPath);
    bool Found() const { return m_index >= 0; }
    uint64_t Size() const { return m_size; }
    uint64_t Position() const { return m_position; }
    FileTime Created() const { return m_created; }
    FileTime Accessed() const { return m_accessed; }
    FileTime Modified() const { return m_modified; }
    // Up to length bytes from the position on; 0 at the end; -1 when the
    // data cannot be read or inflated, ends early, or (with the last byte)
    // does not match its CRC-32.
    long Read(void* buffer, size_t length);
    // Moves to pos (at most the size): forwards by inflating and dropping,
    // backwards by starting the entry over.
    bool Seek(uint64_t pos);
    // True once every byte was handed out and checked.
    bool Complete() const { return m_complete; }
    // Closes the vault file; the next Read or Seek opens it again.
    void Release();

private:
    bool Reopen();

    std::string m_vaultPath;
    std::string m_entryPath;  // stored form
    VaultHandle* m_handle = nullptr;
    int m_index = -1;
    uint64_t m_size = 0;
    uint64_t m_position = 0;  // of the next byte handed out
    uint64_t m_inflated = 0;  // bytes the open extraction has delivered
    FileTime m_created = 0, m_accessed = 0, m_modified = 0;
    bool m_complete = false;
    bool m_failed = false;
};
