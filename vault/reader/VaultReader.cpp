#include "vault/reader/VaultReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultTime.h"
#include "vault/reader/VaultHandleImpl.h"
#include "vault/writer/VaultWriter.h"

namespace vault {

namespace {

constexpr size_t kChunk = 16384;
constexpr uint32_t kAttrFolderBit = 0x10;
// Names tried for one unique unpack file before giving up with 0x200.
constexpr int kUniqueAttempts = 1000;

// Per thread: readers on several threads each report their own last result.
thread_local uint32_t g_lastReaderResult = kVaultOk;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsReservedDeviceName(const std::string& component) {
    // The device name is the part before the first dot, trailing spaces ignored.
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = UpperAscii(c);
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* n : kNames) {
        if (base == n) return true;
    }
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
        base[3] >= '0' && base[3] <= '9') {
        return true;
    }
    return false;
}

bool IsSafeComponent(const std::string& c) {
    if (c.empty() || c == "." || c == "..") return false;
    for (unsigned char ch : c) {
        if (ch < 0x20 || std::strchr("<>:\"|?*", ch) != nullptr) return false;
    }
    if (c.back() == '.' || c.back() == ' ') return false;
    return !IsReservedDeviceName(c);
}

// The extension that goes into a unique file name: it must be usable as the
// tail of a plain file name in the root folder.
bool IsSafeExtension(const std::string& ext) {
    for (unsigned char ch : ext) {
        if (ch < 0x20 || std::strchr("<>:\"|?*/\\", ch) != nullptr) return false;
    }
    return true;
}

std::string WithSeparators(std::string path) {
    const char sep = fileio::Separator();
    for (char& c : path) {
        if (c == '/' || c == '\\') c = sep;
    }
    return path;
}

}  // namespace

bool IsSafeEntryPath(const std::string& name) {
    if (name.empty()) return false;
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < name.size() && !fileio::IsSeparator(name[end])) ++end;
        std::string component = name.substr(start, end - start);
        if (end == name.size()) {
            // The last component; empty only after a single trailing separator.
            return component.empty() ? start > 0 : IsSafeComponent(component);
        }
        if (!IsSafeComponent(component)) return false;
        start = end + 1;
    }
}

VaultReader::~VaultReader() { Close(); }

uint32_t VaultReader::Open(const void* source, uint32_t sourceLength, int sourceType,
                           const char* workingFolder) {
    switch (sourceType) {
        case kVaultSourcePath: {
            const char* path = static_cast<const char*>(source);
            if (!path || !*path) return kVaultBadArguments;
            if (!m_file.Open(path, CFile::Mode::Read)) return kVaultNoFile;
            break;
        }
        case kVaultSourceHandle: {
            const CFile* given = static_cast<const CFile*>(source);
            if (!given || !given->Duplicate(&m_file)) return kVaultNoDuplicate;
            FileInfo info;
            if (!m_file.GetInfo(&info) || !info.isDiskFile) {
                m_file.Close();
                return kVaultSeekError;
            }
            break;
        }
        case kVaultSourceMemory:
            // Accepted, but header reads go to the file: nothing is listed.
            (void)sourceLength;
            break;
        default:
            return kVaultBadArguments;
    }

    if (workingFolder && *workingFolder) {
        m_savedFolder = fileio::CurrentFolder();
        if (m_savedFolder.empty() || !fileio::SetCurrentFolder(workingFolder)) {
            m_file.Close();
            return kVaultNoFile;
        }
        m_folderSaved = true;
    }
    m_root = fileio::CurrentFolder();
    if (m_root.empty() || !fileio::IsSeparator(m_root.back())) m_root += fileio::Separator();

    // Parse the archive. An end record at offset 0 counts as not found, so an
    // empty vault is one whose entries cannot be listed.
    if (m_file.IsOpen() && LocateDirectory(m_file, &m_directory) == VaultStatus::Ok &&
        m_directory.endPosition != 0) {
        // Records past one that cannot be read stay unknown; a first record
        // that cannot be read leaves the archive unparsed.
        ReadCentralDirectory(m_file, m_directory, &m_entries);
        m_parsed = !m_entries.empty();
        std::vector<LocalSpan> spans;
        spans.reserve(m_entries.size());
        m_localStarts.reserve(m_entries.size());
        for (const CentralEntry& e : m_entries) {
            spans.push_back(CentralLocalSpan(m_directory, e.header));
            m_localStarts.push_back(spans.back().start);
        }
        MarkOverlappingSpans(spans, &m_overlapping);
        std::sort(m_localStarts.begin(), m_localStarts.end());
    }
    return kVaultOk;
}

void VaultReader::Close() {
    EndExtraction();
    m_file.Close();
    m_parsed = false;
    m_entries.clear();
    m_overlapping.clear();
    m_localStarts.clear();
    m_localWindow.Clear();
    m_cachedIndex = -1;
    if (m_folderSaved) {
        fileio::SetCurrentFolder(m_savedFolder);
        m_folderSaved = false;
    }
}

uint32_t VaultReader::ReadInfo(int index, ZipEntryInfo* info) {
    if (!info) return kVaultBadArguments;
    EndExtraction();
    return Describe(index, info);
}

uint32_t VaultReader::Describe(int index, ZipEntryInfo* out) {
    if (!m_parsed) return kVaultBadArguments;
    const int count = m_directory.entryCount;
    if (index == -1) {
        *out = ZipEntryInfo();
        out->index = count;
        return kVaultOk;
    }
    if (index < 0 || index >= count) return kVaultBadArguments;
    if (index == m_cachedIndex) {
        *out = m_cached;
        return kVaultOk;
    }
    LocalEntry local;
    const uint32_t rc = CheckLocal(index, &local);
    if (rc != kVaultOk) return rc;
    const CentralEntry& central = m_entries[static_cast<size_t>(index)];

    ZipEntryInfo info;
    info.index = index;
    if (central.name.size() <= kMaxNameLength) {
        info.storedName = central.name;
        info.nameUtf8 = (central.header.flags & kNameUtf8Flag) != 0;
        info.name = DecodeEntryName(info.storedName, info.nameUtf8);
    }
    info.attributes = WindowsAttributesFromExternal(central.header.externalAttributes);

    FileTime t = 0;
    if (!FileTimeFromDos(central.header.dosDate, central.header.dosTime, &t)) t = 0;
    info.accessTime = info.creationTime = info.modificationTime = t;
    ExtendedTimes times;
    const std::vector<uint8_t>& extra = local.record.extra;
    if (ParseExtendedTimestamp(extra.data(), extra.size(), &times)) {
        if (times.hasModification) info.modificationTime = FileTimeFromUnixTime(times.modification);
        if (times.hasAccess) info.accessTime = FileTimeFromUnixTime(times.access);
        if (times.hasCreation) info.creationTime = FileTimeFromUnixTime(times.creation);
    }
    info.compressedSize = static_cast<int32_t>(central.header.compressedSize);
    info.uncompressedSize = static_cast<int32_t>(central.header.uncompressedSize);
    info.localOffset = central.header.localOffset;

    m_cached = info;
    m_cachedIndex = index;
    m_cachedDataStart = local.dataStart;
    *out = info;
    return kVaultOk;
}

uint32_t VaultReader::CheckLocal(int index, LocalEntry* local) {
    // A central record that could not be read stops the walk: every entry
    // from there on is unknown.
    if (static_cast<size_t>(index) >= m_entries.size()) return kVaultCorrupt;
    // Entries are only ever appended, so two entries sharing bytes (one
    // deflate stream listed many times, say) are damage, not data.
    if (m_overlapping[static_cast<size_t>(index)]) return kVaultCorrupt;
    const CentralHeader& central = m_entries[static_cast<size_t>(index)].header;
    if (CheckLocalRecord(m_file, m_directory, central, local, &m_localWindow) != VaultStatus::Ok) {
        return kVaultCorrupt;
    }
    // With its real extra field the entry still ends before the next local
    // record (or the directory).
    auto next = std::upper_bound(m_localStarts.begin(), m_localStarts.end(), local->position);
    const uint64_t bound = next == m_localStarts.end() ? m_directory.directoryStart : *next;
    if (local->dataStart + central.compressedSize > bound) return kVaultCorrupt;
    return kVaultOk;
}

// Only after Describe(index) succeeded: the local record it checked is used.
bool VaultReader::BeginExtraction(int index) {
    EndExtraction();
    if (index != m_cachedIndex || static_cast<size_t>(index) >= m_entries.size()) return false;
    const CentralHeader& central = m_entries[static_cast<size_t>(index)].header;

    Extraction ex;
    ex.index = index;
    ex.method = central.method;
    ex.nextPos = m_cachedDataStart;
    ex.compressedLeft = central.compressedSize;
    ex.uncompressedLeft = central.uncompressedSize;
    ex.expectedCrc = central.crc;
    ex.crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    ex.input.resize(kChunk);
    if (ex.method == kMethodDeflate) {
        m_zstream = z_stream{};
        if (inflateInit2(&m_zstream, -MAX_WBITS) != Z_OK) return false;
        ex.inflating = true;
    }
    m_ex = std::move(ex);
    return true;
}

void VaultReader::EndExtraction(bool* complete, bool* crcOk) {
    const bool done = m_ex.index >= 0 && m_ex.uncompressedLeft == 0;
    if (complete) *complete = done;
    if (crcOk) *crcOk = done && m_ex.crc == m_ex.expectedCrc;
    if (m_ex.inflating) inflateEnd(&m_zstream);
    m_ex = Extraction();
}

long VaultReader::ReadData(uint8_t* out, size_t want) {
    if (m_ex.index < 0) return -1;
    want = static_cast<size_t>(std::min<uint64_t>(want, m_ex.uncompressedLeft));
    if (want == 0) return 0;
    size_t produced = 0;

    if (m_ex.method == kMethodStored) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(want, m_ex.compressedLeft));
        if (n == 0) return -1;  // the data ends before the recorded size
        if (!m_file.ReadAt(m_ex.nextPos, out, n)) return -1;
        m_ex.nextPos += n;
        m_ex.compressedLeft -= n;
        produced = n;
    } else {
        z_stream& z = m_zstream;
        z.next_out = out;
        z.avail_out = static_cast<uInt>(want);
        while (z.avail_out > 0) {
            if (m_ex.streamEnded) return -1;  // stream ended before the recorded size
            if (z.avail_in == 0) {
                if (m_ex.compressedLeft == 0) return -1;  // input ended too soon
                const size_t n =
                    static_cast<size_t>(std::min<uint64_t>(kChunk, m_ex.compressedLeft));
                if (!m_file.ReadAt(m_ex.nextPos, m_ex.input.data(), n)) return -1;
                m_ex.nextPos += n;
                m_ex.compressedLeft -= n;
                z.next_in = m_ex.input.data();
                z.avail_in = static_cast<uInt>(n);
            }
            const int rc = inflate(&z, Z_SYNC_FLUSH);
            if (rc == Z_STREAM_END) {
                m_ex.streamEnded = true;
                break;
            }
            if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) return -1;
        }
        produced = want - z.avail_out;
        if (produced == 0) return -1;
    }
    m_ex.crc = static_cast<uint32_t>(crc32(m_ex.crc, out, static_cast<uInt>(produced)));
    m_ex.uncompressedLeft -= produced;
    return static_cast<long>(produced);
}

uint32_t VaultReader::Extract(int index, const void* target, uint32_t targetLength, int kind,
                              std::string* outPath) {
    if (kind == kExtractToMemory) {
        return ExtractToMemory(index, const_cast<void*>(target), targetLength);
    }
    if (kind != kExtractToStream && kind != kExtractToUniqueFile) return kVaultBadArguments;
    if (!m_parsed || index < 0 || index >= m_directory.entryCount) return kVaultBadArguments;
    if (kind == kExtractToStream && !target) return kVaultBadArguments;
    EndExtraction();
    ZipEntryInfo info;
    uint32_t rc = Describe(index, &info);
    if (rc != kVaultOk) return rc;

    std::string name;
    if (kind == kExtractToUniqueFile) {
        const char* given = static_cast<const char*>(target);
        name = (given && *given) ? std::string(given) : info.name;
        // Nothing is ever made outside the root folder.
        if (!IsSafeEntryPath(name)) return kVaultBadArguments;
    }

    if (info.attributes & kAttrFolderBit) {
        if (kind == kExtractToStream) return kVaultOk;
        const std::string folder = m_root + WithSeparators(name);
        if (outPath) *outPath = folder;
        return fileio::MakeDirectoryChain(folder) ? kVaultOk : kVaultNoFile;
    }

    CFile created;
    CFile* out = nullptr;
    if (kind == kExtractToUniqueFile) {
        const std::string leafPath = WithSeparators(name);
        const size_t slash = leafPath.find_last_of(fileio::Separator());
        const std::string leaf = slash == std::string::npos ? leafPath : leafPath.substr(slash + 1);
        const size_t dot = leaf.rfind('.');
        const std::string ext = dot == std::string::npos ? leaf : leaf.substr(dot + 1);
        if (!IsSafeExtension(ext)) return kVaultBadArguments;
        // The file is created exclusively (never through a link planted
        // under the predictable name); a name that is taken is formed again
        // from the next number.
        fileio::MakeDirectoryChain(m_root);
        std::string candidate;
        // First the tick count; after a collision a number drawn at random,
        // so that names planted ahead of the clock cannot exhaust the tries.
        uint32_t number = fileio::TickCount();
        std::mt19937 draw(number ^ static_cast<uint32_t>(std::random_device{}()));
        bool made = false;
        for (int attempt = 0; attempt < kUniqueAttempts && !made; ++attempt, number = draw()) {
            char buf[300];
            std::snprintf(buf, sizeof buf, "qv%u.%s", static_cast<unsigned>(number), ext.c_str());
            candidate = m_root + buf;
            made = created.Open(candidate, CFile::Mode::CreateNew);
        }
        if (!made) return kVaultNoFile;
        if (outPath) *outPath = candidate;
        out = &created;
    } else {
        out = const_cast<CFile*>(static_cast<const CFile*>(target));
    }

    if (!BeginExtraction(index)) return kVaultCorrupt;
    uint32_t result = kVaultOk;
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
        const long n = ReadData(buffer.data(), buffer.size());
        if (n < 0) {
            result = kVaultWriteError;
            break;
        }
        if (n == 0) break;
        if (!out->Write(buffer.data(), static_cast<size_t>(n))) {
            result = kVaultWriteError;
            break;
        }
    }
    if (kind == kExtractToUniqueFile) {
        created.SetTimes(info.creationTime, info.accessTime, info.modificationTime);
        created.Close();
    }
    bool complete = false, crcOk = false;
    EndExtraction(&complete, &crcOk);
    if (result != kVaultOk) return result;
    if (!complete) return kVaultWriteError;
    // Data that does not match its recorded CRC-32 is not passed off as good.
    return crcOk ? kVaultOk : kVaultCorrupt;
}

uint32_t VaultReader::ExtractToMemory(int index, void* buffer, uint32_t length) {
    if (!m_parsed || index < 0 || index >= m_directory.entryCount) return kVaultBadArguments;
    if (!buffer && length > 0) return kVaultBadArguments;
    if (m_ex.index != index) {
        EndExtraction();
        ZipEntryInfo info;
        const uint32_t rc = Describe(index, &info);
        if (rc != kVaultOk) return rc;
        if (!BeginExtraction(index)) return kVaultCorrupt;
    }
    uint8_t* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < length) {
        const long n = ReadData(p + got, length - got);
        if (n < 0) {
            EndExtraction();
            return kVaultFlateError;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > 0) return kVaultMoreData;
    bool complete = false, crcOk = false;
    EndExtraction(&complete, &crcOk);
    return crcOk ? kVaultOk : kVaultCorrupt;
}

// ---------------------------------------------------------------------------
// Result texts.

const char* ResultText(uint32_t code) {
    switch (code) {
        case kVaultOk: return "Success";
        case kVaultNoDuplicate: return "Culdn't duplicate handle";
        case kVaultNoFile: return "Couldn't create/open file";
        case kVaultNoMemory: return "Failed to allocate memory";
        case kVaultWriteError: return "Error writing to file";
        case kVaultNotFound: return "File not found in the zipfile";
        case kVaultMoreData: return "Still more data to unzip";
        case kVaultCorrupt: return "Zipfile is corrupt or not a zipfile";
        case kVaultReadError: return "Error reading file";
        case kVaultBadArguments: return "Caller: faulty arguments";
        case kVaultNotMemory: return "Caller: can only get memory of a memory zipfile";
        case kVaultMemorySize: return "Caller: not enough space allocated for memory zipfile";
        case kVaultPreviousError: return "Caller: there was a previous error";
        case kVaultEnded: return "Caller: additions to the zip have already been ended";
        case kVaultWrongSize: return "Zip-bug: the anticipated size turned out wrong";
        case kVaultPartlyUnpacked: return "Caller: the file had already been partially unzipped";
        case kVaultWrongKind: return "Caller: mixing creation and opening of zip";
        case kVaultTooLarge: return "Caller: the vault cannot hold this entry (4 GiB, 65535 entries)";
        case kVaultNotInitialised: return "Zip-bug: internal initialisation not completed";
        case kVaultSeekError: return "Zip-bug: trying to seek the unseekable";
        case kVaultChangedMind: return "Zip-bug: tried to change mind,but not allowed";
        case kVaultFlateError: return "Zip-bug: an internal error during flation";
        default: return "unknown zip result code";
    }
}

int CopyResultText(uint32_t code, char* buffer, int length) {
    const char* text = ResultText(code);
    const int n = static_cast<int>(std::strlen(text));
    if (!buffer || length <= 0) return n;
    const int copy = std::min(n, length - 1);
    std::memcpy(buffer, text, static_cast<size_t>(copy));
    buffer[copy] = '\0';
    return n;
}

}  // namespace vault

// ---------------------------------------------------------------------------
// Public reader API and the shared closing operation.

using vault::g_lastReaderResult;

VaultHandle::VaultHandle() = default;
VaultHandle::~VaultHandle() = default;

VaultHandle* OpenVaultReader(const void* source, uint32_t sourceLength, int sourceType,
                             const char* workingFolder) {
    std::unique_ptr<VaultHandle> handle(new VaultHandle);
    handle->kind = kHandleKindReader;
    handle->reader.reset(new vault::VaultReader);
    g_lastReaderResult = handle->reader->Open(source, sourceLength, sourceType, workingFolder);
    if (g_lastReaderResult != kVaultOk) return nullptr;
    return handle.release();
}

uint32_t ReadEntryInfo(VaultHandle* handle, int index, ZipEntryInfo* info) {
    uint32_t rc;
    if (!handle) rc = kVaultBadArguments;
    else if (handle->kind != kHandleKindReader) rc = kVaultWrongKind;
    else rc = handle->reader->ReadInfo(index, info);
    g_lastReaderResult = rc;
    return rc;
}

uint32_t ExtractEntry(VaultHandle* handle, int index, const void* target, uint32_t targetLength,
                      int kind, std::string* outPath) {
    uint32_t rc;
    if (!handle) rc = kVaultBadArguments;
    else if (handle->kind != kHandleKindReader) rc = kVaultWrongKind;
    else rc = handle->reader->Extract(index, target, targetLength, kind, outPath);
    g_lastReaderResult = rc;
    return rc;
}

bool IsReaderHandle(const VaultHandle* handle) {
    return !handle || handle->kind == kHandleKindReader;
}

int FormatVaultResult(uint32_t code, char* buffer, int length) {
    return vault::CopyResultText(code == 1 ? g_lastReaderResult : code, buffer, length);
}

uint32_t CloseVaultHandle(VaultHandle* handle) {
    if (!handle) return kVaultBadArguments;
    // Owned from here on: the handle is freed even when ending throws.
    std::unique_ptr<VaultHandle> owner(handle);
    if (owner->kind == kHandleKindWriter) return vault::CloseWriter(*owner->writer);
    if (owner->kind != kHandleKindReader) return kVaultWrongKind;
    owner->reader->Close();
    g_lastReaderResult = kVaultOk;
    return kVaultOk;
}
