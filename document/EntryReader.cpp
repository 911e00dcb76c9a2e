// One vault entry read on demand through the reader's memory extraction.
#include "document/EntryReader.h"

#include <algorithm>
#include <vector>

#include "document/VaultModel.h"

namespace {

// Index of the file entry named exactly path, or -1.
int FindFileEntry(VaultHandle* handle, const std::string& path, ZipEntryInfo* found) {
    ZipEntryInfo count;
    if (ReadEntryInfo(handle, -1, &count) != kVaultOk) return -1;
    for (int i = 0; i < count.index; ++i) {
        ZipEntryInfo info;
        if (ReadEntryInfo(handle, i, &info) != kVaultOk) continue;
        if ((info.attributes & kEntryFolder) || path != info.name) continue;
        *found = info;
        return i;
    }
    return -1;
}

}  // namespace

bool CEntryReader::Open(const std::string& vaultPath, const std::string& entryPath) {
    Release();
    m_vaultPath = vaultPath;
    m_entryPath = ToSlashes(entryPath);
    m_index = -1;
    m_size = m_position = m_inflated = 0;
    m_created = m_accessed = m_modified = 0;
    m_complete = m_failed = false;
    m_handle = OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    if (!m_handle) return false;
    ZipEntryInfo info;
    m_index = FindFileEntry(m_handle, m_entryPath, &info);
    if (m_index >= 0) {
        m_size = static_cast<uint32_t>(info.uncompressedSize);
        m_created = info.creationTime;
        m_accessed = info.accessTime;
        m_modified = info.modificationTime;
    }
    if (m_index < 0 || m_size == 0) {
        m_complete = true;
        Release();
    }
    return true;
}

void CEntryReader::Release() {
    if (m_handle) CloseVaultHandle(m_handle);
    m_handle = nullptr;
    m_inflated = 0;
}

bool CEntryReader::Reopen() {
    Release();
    if (m_index < 0) return false;
    m_handle = OpenVaultReader(m_vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    if (!m_handle) return false;
    // The same entry at the same place, or the vault changed under us.
    ZipEntryInfo info;
    if (ReadEntryInfo(m_handle, m_index, &info) != kVaultOk || m_entryPath != info.name ||
        static_cast<uint32_t>(info.uncompressedSize) != m_size) {
        Release();
        return false;
    }
    return true;
}

long CEntryReader::Read(void* buffer, size_t length) {
    if (m_failed) return -1;
    if (m_position >= m_size || length == 0) return 0;
    if (m_inflated != m_position || !m_handle) {
        if (!Seek(m_position)) return -1;
    }
    length = static_cast<size_t>(std::min<uint64_t>(length, m_size - m_position));
    const uint32_t rc = ExtractEntry(m_handle, m_index, buffer, static_cast<uint32_t>(length),
                                     kExtractToMemory, nullptr);
    if (rc != kVaultMoreData) {
        // Nothing came although bytes are due: damaged or short data.
        m_failed = true;
        Release();
        return -1;
    }
    m_position += length;
    m_inflated = m_position;
    if (m_position == m_size) {
        // One more call ends the extraction and checks the CRC-32.
        const uint32_t end = ExtractEntry(m_handle, m_index, nullptr, 0, kExtractToMemory, nullptr);
        Release();
        if (end != kVaultOk) {
            m_failed = true;
            return -1;
        }
        m_complete = true;
    }
    return static_cast<long>(length);
}

bool CEntryReader::Seek(uint64_t pos) {
    if (pos > m_size || m_failed) return false;
    if (m_index < 0 || pos == m_size) {
        m_position = pos;
        return true;
    }
    if (!m_handle || pos < m_inflated) {
        if (!Reopen()) {
            m_failed = true;
            return false;
        }
    }
    std::vector<uint8_t> scratch;
    while (m_inflated < pos) {
        if (scratch.empty()) scratch.resize(64 * 1024);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(scratch.size(), pos - m_inflated));
        if (ExtractEntry(m_handle, m_index, scratch.data(), static_cast<uint32_t>(n),
                         kExtractToMemory, nullptr) != kVaultMoreData) {
            m_failed = true;
            Release();
            return false;
        }
        m_inflated += n;
    }
    m_position = pos;
    return true;
}
