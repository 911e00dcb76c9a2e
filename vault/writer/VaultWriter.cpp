#include "vault/writer/VaultWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include <zlib.h>

#include "vault/fileio/FolderList.h"
#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultScan.h"
#include "vault/format/VaultTime.h"
#include "vault/reader/VaultHandleImpl.h"
#include "vault/threads/ThreadPool.h"
#include "vault/writer/AddJournalCheck.h"
#include "vault/writer/EntryPrefetch.h"
#include "vault/writer/ParallelDeflate.h"

namespace vault {

namespace {

constexpr size_t kChunk = 16384;
constexpr int kDeflateLevel = 8;
constexpr int kDeflateMemLevel = 8;

uint32_t g_lastWriterResult = kVaultOk;
VaultMessagePump g_pump = nullptr;
uint64_t g_maxVaultBytes = kMaxVaultBytes;
uint32_t g_maxEntries = kMaxVaultEntries;

// The most raw DEFLATE can make of n bytes (stored blocks and their
// headers), with room to spare.
uint64_t DeflateBound(uint64_t n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 64; }

std::vector<uint8_t> JournalBytes(uint32_t offset, const std::vector<uint8_t>& tail) {
    std::vector<uint8_t> out(4 + tail.size());
    PutU32(out.data(), offset);
    if (!tail.empty()) std::memcpy(out.data() + 4, tail.data(), tail.size());
    return out;
}

// Frees the deflate state however the add ends, an exception included.
struct DeflateGuard {
    z_stream z{};
    bool live = false;
    ~DeflateGuard() {
        if (live) deflateEnd(&z);
    }
};

}  // namespace

void SetWriterLimitsForTest(uint64_t maxVaultBytes, uint32_t maxEntries) {
    g_maxVaultBytes = maxVaultBytes ? maxVaultBytes : kMaxVaultBytes;
    g_maxEntries = maxEntries ? maxEntries : kMaxVaultEntries;
}

void PumpVaultMessages() {
    if (g_pump) g_pump();
}

bool CreateFileBeside(const std::string& path, CFile* file, std::string* created) {
    static uint32_t counter = 0;
    uint64_t seed = 0;
    try {
        std::random_device device;
        seed = (uint64_t(device()) << 32) ^ device();
    } catch (const std::exception&) {
    }
    seed ^= (uint64_t(fileio::TickCount()) << 20) ^ reinterpret_cast<uintptr_t>(&seed);
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = path;
        if (attempt > 0) {
            // A name someone else may hold (or a planted link) is passed
            // over for one that cannot be guessed.
            seed = seed * 6364136223846793005ull + 1442695040888963407ull + ++counter;
            char part[20];
            std::snprintf(part, sizeof part, ".%08x", static_cast<unsigned>(seed >> 32));
            name += part;
        }
        name += ".new";
        if (file->Open(name, CFile::Mode::CreateNew)) {
            *created = name;
            return true;
        }
    }
    return false;
}

size_t RemoveStrayFilesBeside(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !fileio::IsSeparator(path[cut - 1])) --cut;
    const std::string folder = path.substr(0, cut), leaf = path.substr(cut);
    size_t removed = 0;
    for (const std::string& name : fileio::ListFiles(folder.empty() ? std::string(".") + fileio::Separator() : folder)) {
        // leaf + "." + 8 hex digits + ".new"
        if (name.size() != leaf.size() + 13 || name.compare(0, leaf.size(), leaf) != 0 || name[leaf.size()] != '.' ||
            name.compare(name.size() - 4, 4, ".new") != 0)
            continue;
        const std::string part = name.substr(leaf.size() + 1, 8);
        if (part.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
        if (fileio::Remove(folder + name)) ++removed;
    }
    return removed;
}

bool ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp;
    bool ok;
    {
        CFile f;
        if (!CreateFileBeside(path, &f, &temp)) return false;
        ok = f.Write(bytes.data(), bytes.size()) && f.Flush();
    }
    ok = ok && fileio::Rename(temp, path);
    if (!ok) fileio::Remove(temp);
    return ok;
}

// The source of one entry.
struct VaultWriter::Source {
    CFile owned;               // opened by the writer (path sources)
    CFile* file = nullptr;     // file or handle source
    const uint8_t* memory = nullptr;
    uint64_t memoryLength = 0;
    uint64_t memoryPos = 0;
    int64_t expected = -1;     // expected size, -1 when unknown
    bool folder = false;       // no data at all
    std::unique_ptr<PreparedFile> prepared;  // read and compressed ahead

    // Reads up to len bytes; false on a read error.
    bool Read(uint8_t* buffer, size_t len, size_t* got) {
        *got = 0;
        if (file) return file->Read(buffer, len, got);
        const uint64_t n = std::min<uint64_t>(len, memoryLength - memoryPos);
        if (n) std::memcpy(buffer, memory + memoryPos, static_cast<size_t>(n));
        memoryPos += n;
        *got = static_cast<size_t>(n);
        return true;
    }
};

bool VaultWriter::OutWrite(const void* data, size_t len) {
    if (m_toFile) return m_out.Write(data, len);
    if (m_memoryPos > m_memoryLength || len > m_memoryLength - m_memoryPos) {
        m_error = kVaultMemorySize;
        return false;
    }
    std::memcpy(m_memory + m_memoryPos, data, len);
    m_memoryPos += len;
    return true;
}

bool VaultWriter::OutSeek(uint64_t pos) {
    if (!m_seekable) return false;
    if (m_toFile) return m_out.Seek(pos);
    if (pos > m_memoryLength) return false;
    m_memoryPos = pos;
    return true;
}

uint64_t VaultWriter::DirectoryBytes() const { return m_oldDirectory.size() + m_centralBytes; }

std::vector<uint8_t> VaultWriter::BuildTail(uint64_t directoryOffset) const {
    std::vector<uint8_t> tail;
    tail.reserve(static_cast<size_t>(DirectoryBytes() + kEndBlockSize));
    tail.insert(tail.end(), m_oldDirectory.begin(), m_oldDirectory.end());
    for (const auto& record : m_central) tail.insert(tail.end(), record.begin(), record.end());
    EndRecord end;
    const uint16_t count = static_cast<uint16_t>(m_oldCount + m_central.size());
    end.entriesOnDisk = end.entriesTotal = count;
    end.directorySize = static_cast<uint32_t>(DirectoryBytes());
    end.directoryOffset = static_cast<uint32_t>(directoryOffset);
    const auto block = EncodeEndRecord(end);
    tail.insert(tail.end(), block.begin(), block.end());
    return tail;
}

uint32_t VaultWriter::Open(const void* target, uint32_t targetLength, int targetType,
                           const char* journal) {
    switch (targetType) {
        case kVaultSourcePath:
            return OpenPath(static_cast<const char*>(target), journal);
        case kVaultSourceHandle: {
            const CFile* given = static_cast<const CFile*>(target);
            if (!given || !given->Duplicate(&m_out)) return kVaultNoDuplicate;
            m_toFile = true;
            FileInfo info;
            m_seekable = m_out.GetInfo(&info) && info.isDiskFile;
            if (m_seekable && !m_out.Tell(&m_base)) return kVaultSeekError;
            if (m_base > g_maxVaultBytes) return kVaultTooLarge;
            return kVaultOk;
        }
        case kVaultSourceMemory:
            if (targetLength == 0) return kVaultMemorySize;
            m_memoryLength = targetLength;
            if (target) {
                m_memory = static_cast<uint8_t*>(const_cast<void*>(target));
            } else {
                m_ownedMemory.reset(new (std::nothrow) uint8_t[targetLength]);
                if (!m_ownedMemory) return kVaultNoMemory;
                m_memory = m_ownedMemory.get();
            }
            return kVaultOk;
        default:
            return kVaultBadArguments;
    }
}

uint32_t VaultWriter::OpenPath(const char* path, const char* journal) {
    if (!path || !*path) return kVaultBadArguments;
    m_toFile = true;
    if (fileio::IsDirectory(path)) return kVaultNoFile;

    // A journal already at the journal path is replaced only when no vault
    // needs it any more: one that this vault still needs must be put back
    // first (RecoverVault), and one of another vault is that vault's only
    // repair. Decided before the vault is opened without sharing.
    bool journalInTheWay = false;
    if (journal && *journal && fileio::Exists(journal)) {
        const journal::JournalDecision d = journal::DecideJournal(path, journal);
        journalInTheWay = d.action != journal::JournalAction::Discard &&
                          d.report.state != journal::JournalState::Damaged;
    }

    bool fresh = true;
    std::vector<uint8_t> oldTail;  // what the journal has to put back
    if (m_out.Open(path, CFile::Mode::ReadWriteExisting)) {
        uint64_t size = 0;
        if (!m_out.Size(&size)) return kVaultReadError;
        if (size > 0) {
            // Only a vault with a valid end record is added to; anything
            // else could be some other file that must not be overwritten.
            DirectoryInfo dir;
            const VaultStatus st = LocateDirectory(m_out, &dir);
            if (st == VaultStatus::IoError) return kVaultReadError;
            if (st != VaultStatus::Ok || dir.prefixBytes != 0) return kVaultCorrupt;
            if (dir.entryCount == 0) {
                // Written anew only when the whole file is the empty vault:
                // an end record listing nothing may also be bytes of some
                // entry's data, found once the real end record is damaged.
                if (size != kEndBlockSize) return kVaultCorrupt;
            } else {
                fresh = false;
                const uint32_t rc = LoadOldDirectory(dir, &oldTail);
                if (rc != kVaultOk) return rc;
            }
        }
        if (fresh) m_out.Close();
    } else if (fileio::Exists(path)) {
        return kVaultNoFile;  // there, but not to be opened: never replaced
    }

    if (fresh) {
        // Nothing to protect: the vault is built beside the target and
        // replaces it only when complete. The journal is not touched.
        if (!CreateFileBeside(path, &m_out, &m_tempPath)) return kVaultNoFile;
        m_fresh = true;
        m_finalPath = path;
        m_base = 0;
        return kVaultOk;
    }

    // The journal must describe the vault as it stands before the first byte
    // goes into it; without one, an add that stops would leave the vault's
    // directory overwritten beyond repair, so the add does not start.
    if (journal && *journal) {
        if (journalInTheWay) return kVaultNoFile;
        m_journalPath = journal;
        m_journalActive = ReplaceFileAtomically(
            m_journalPath, JournalBytes(static_cast<uint32_t>(m_base), oldTail));
        if (!m_journalActive) return kVaultNoFile;
    }
    if (!m_out.Seek(m_base)) return kVaultSeekError;
    return kVaultOk;
}

uint32_t VaultWriter::LoadOldDirectory(const DirectoryInfo& dir, std::vector<uint8_t>* oldTail) {
    m_base = dir.end.directoryOffset;
    m_oldCount = dir.end.entriesTotal;
    try {
        m_oldDirectory.resize(dir.end.directorySize);
        if (!m_oldDirectory.empty() &&
            !m_out.ReadAt(m_base, m_oldDirectory.data(), m_oldDirectory.size())) {
            return kVaultReadError;
        }
        // The end record must point at a directory: after a close that
        // failed, an old end record can survive behind new entry data that
        // now lies where its directory was. Its first central record, and the
        // local record that one names, must be there.
        uint8_t probe[kCentralProbeSize];
        CentralHeader first;
        LocalEntry local;
        if (m_oldDirectory.size() < kCentralProbeSize ||
            !DecipherRecord(m_oldDirectory.data(), probe, sizeof probe) ||
            DecodeCentralHeader(probe, sizeof probe, &first) != VaultStatus::Ok ||
            first.RecordLength() > m_oldDirectory.size() ||
            CheckLocalRecord(m_out, dir, first, &local) != VaultStatus::Ok) {
            return kVaultCorrupt;
        }
        *oldTail = m_oldDirectory;
        const auto block = EncodeEndRecord(dir.end);
        oldTail->insert(oldTail->end(), block.begin(), block.end());
    } catch (const std::exception&) {  // bad_alloc, length_error
        return kVaultNoMemory;
    }
    return kVaultOk;
}

uint32_t VaultWriter::Add(const StoredName& name, const void* source, uint32_t sourceLength,
                          int sourceType, uint32_t* outAttributes, uint32_t* outLocalOffset,
                          uint32_t* outCompressedSize, uint32_t* outUncompressedSize) {
    if (m_ended) return kVaultEnded;
    if (m_error != kVaultOk) return kVaultPreviousError;
    if (name.bytes.empty()) return kVaultBadArguments;
    if (sourceType < kVaultSourceHandle || sourceType > kVaultSourceFolder) {
        return kVaultBadArguments;
    }
    const bool isFolder = sourceType == kVaultSourceFolder;
    // The bytes are taken as they are: in a double-byte code page a '\\' may
    // be the second byte of a character.
    std::string entryName = name.bytes;
    if (isFolder && entryName.back() != '/') entryName += '/';
    if (entryName.size() > kMaxNameLength) return kVaultBadArguments;
    if (uint64_t(m_oldCount) + m_central.size() + 1 > g_maxEntries) return kVaultTooLarge;
    const uint16_t method = ChooseMethod(entryName, isFolder);

    // Open the source and take its attributes, size and times.
    Source src;
    uint32_t external = kExternalMemoryData;
    FileTime now = fileio::CurrentTime();
    FileTime writeTime = now, accessTime = now, creationTime = now;
    // A file read and compressed ahead by the add pipeline.
    if (sourceType == kVaultSourcePath && m_prefetch && source) {
        src.prepared = m_prefetch->Take(static_cast<const char*>(source), method, &PumpVaultMessages);
    }
    switch (src.prepared ? kVaultSourceFolder + 1 : sourceType) {
        case kVaultSourceFolder + 1: {
            const FileInfo& info = src.prepared->info;
            external = src.prepared->external;
            src.expected = static_cast<int64_t>(info.size);
            writeTime = info.writeTime;
            accessTime = info.accessTime;
            creationTime = info.creationTime;
            break;
        }
        case kVaultSourcePath:
        case kVaultSourceHandle: {
            if (!source) return kVaultBadArguments;
            if (sourceType == kVaultSourcePath) {
                if (!src.owned.Open(static_cast<const char*>(source), CFile::Mode::Read)) {
                    return kVaultNoFile;
                }
                src.file = &src.owned;
            } else {
                src.file = const_cast<CFile*>(static_cast<const CFile*>(source));
            }
            FileInfo info;
            if (!src.file->GetInfo(&info)) return kVaultNoFile;
            if (info.isDiskFile) {
                if (info.size > kMaxVaultBytes) return kVaultTooLarge;
                const bool program = IsProgramFile(*src.file, info.size);
                external = BuildExternalAttributes(info.attributes,
                                                   (info.attributes & kAttrDirectory) != 0, program);
                src.expected = static_cast<int64_t>(info.size);
                writeTime = info.writeTime;
                accessTime = info.accessTime;
                creationTime = info.creationTime;
                if (!src.file->Seek(0)) return kVaultNoFile;
            } else if (sourceLength != 0) {
                src.expected = sourceLength;
            }
            break;
        }
        case kVaultSourceMemory:
            if (!source && sourceLength > 0) return kVaultBadArguments;
            src.memory = static_cast<const uint8_t*>(source);
            src.memoryLength = sourceLength;
            src.expected = sourceLength;
            break;
        case kVaultSourceFolder:
            external = kExternalFolder;
            src.expected = 0;
            src.folder = true;
            break;
    }

    LocalRecord local;
    local.name = entryName;
    local.header.method = method;
    local.header.flags = kFlagDescriptor | (method == kMethodDeflate ? kFlagDeflateLevel : 0) |
                         (name.utf8 ? kNameUtf8Flag : 0);
    const DosDateTime dos = DosFromFileTime(writeTime);
    local.header.dosDate = dos.date;
    local.header.dosTime = dos.time;
    local.header.compressedSize =
        (method == kMethodStored && src.expected >= 0) ? static_cast<uint32_t>(src.expected) : 0;
    local.header.uncompressedSize = src.expected >= 0 ? static_cast<uint32_t>(src.expected) : 0;
    const uint32_t unixWrite = UnixTimeFromFileTime(writeTime);
    local.extra = BuildLocalTimestamp(unixWrite, UnixTimeFromFileTime(accessTime),
                                      UnixTimeFromFileTime(creationTime));
    std::vector<uint8_t> localBytes;
    if (EncodeLocalRecord(local, &localBytes) != VaultStatus::Ok) return kVaultBadArguments;

    CentralRecord central;
    central.name = entryName;
    central.extra = BuildCentralTimestamp(unixWrite);
    std::vector<uint8_t> centralProbe;
    if (EncodeCentralRecord(central, &centralProbe) != VaultStatus::Ok) return kVaultBadArguments;

    // Refuse, before anything is written, an entry whose records, data or
    // resulting directory would not fit below the limit.
    const uint64_t start = m_base + m_writeCount;
    const uint64_t known = src.expected >= 0 ? static_cast<uint64_t>(src.expected) : 0;
    const uint64_t dataBound = method == kMethodDeflate ? DeflateBound(known) : known;
    const uint64_t tailBytes = DirectoryBytes() + centralProbe.size() + kEndBlockSize;
    if (start + localBytes.size() + dataBound + tailBytes > g_maxVaultBytes) return kVaultTooLarge;

    uint32_t crc = 0;
    uint64_t bytesRead = 0, compressed = 0;
    uint64_t entryBytes = 0;
    if (src.prepared && m_seekable) {
        // Read and compressed ahead: sizes and CRC-32 are known, so the local
        // record goes out once, in its final form, together with the data.
        const std::vector<uint8_t>& data = src.prepared->data;
        const uint64_t reserved = start + localBytes.size() + tailBytes;
        if (data.size() > g_maxVaultBytes - std::min(g_maxVaultBytes, reserved)) return kVaultTooLarge;
        crc = src.prepared->crc;
        bytesRead = src.prepared->bytesRead;
        compressed = data.size();
        local.header.crc = crc;
        local.header.compressedSize = static_cast<uint32_t>(compressed);
        local.header.uncompressedSize = static_cast<uint32_t>(bytesRead);
        local.header.flags &= static_cast<uint16_t>(~kFlagDescriptor);
        if (EncodeLocalRecord(local, &localBytes) != VaultStatus::Ok) return kVaultBadArguments;
        entryBytes = localBytes.size() + compressed;
        localBytes.insert(localBytes.end(), data.begin(), data.end());
        if (!OutSeek(start)) {
            m_error = kVaultSeekError;
            return kVaultSeekError;
        }
        PumpVaultMessages();
        if (!OutWrite(localBytes.data(), localBytes.size())) return kVaultWriteError;
    } else {
        if (m_seekable && !OutSeek(start)) {
            m_error = kVaultSeekError;
            return kVaultSeekError;
        }
        PumpVaultMessages();
        if (!OutWrite(localBytes.data(), localBytes.size())) return kVaultWriteError;

        const uint32_t dataResult = WriteData(src, method, start + localBytes.size() + tailBytes, &crc,
                                              &bytesRead, &compressed);
        src.owned.Close();
        if (dataResult != kVaultOk) return dataResult;

        local.header.crc = crc;
        local.header.compressedSize = static_cast<uint32_t>(compressed);
        local.header.uncompressedSize = static_cast<uint32_t>(bytesRead);
        entryBytes = localBytes.size() + compressed;
        if (m_seekable) {
            local.header.flags &= static_cast<uint16_t>(~kFlagDescriptor);
            if (EncodeLocalRecord(local, &localBytes) != VaultStatus::Ok) return kVaultBadArguments;
            if (!OutSeek(start)) {
                m_error = kVaultSeekError;
                return kVaultSeekError;
            }
            PumpVaultMessages();
            if (!OutWrite(localBytes.data(), localBytes.size())) return kVaultWriteError;
            if (!OutSeek(start + entryBytes)) {
                m_error = kVaultSeekError;
                return kVaultSeekError;
            }
        } else {
            if (method == kMethodStored && src.expected >= 0 &&
                compressed != static_cast<uint64_t>(src.expected)) {
                m_error = kVaultChangedMind;
                return kVaultChangedMind;
            }
            DataDescriptor dd;
            dd.crc = crc;
            dd.compressedSize = static_cast<uint32_t>(compressed);
            dd.uncompressedSize = static_cast<uint32_t>(bytesRead);
            const auto bytes = EncodeDataDescriptor(dd);
            PumpVaultMessages();
            if (!OutWrite(bytes.data(), bytes.size())) return kVaultWriteError;
            entryBytes += bytes.size();
        }
    }

    central.header.flags = local.header.flags;
    central.header.method = method;
    central.header.dosDate = dos.date;
    central.header.dosTime = dos.time;
    central.header.crc = crc;
    central.header.compressedSize = local.header.compressedSize;
    central.header.uncompressedSize = local.header.uncompressedSize;
    central.header.externalAttributes = external;
    central.header.localOffset = static_cast<uint32_t>(start);
    std::vector<uint8_t> centralBytes;
    if (EncodeCentralRecord(central, &centralBytes) != VaultStatus::Ok) return kVaultBadArguments;

    // Only a complete entry counts; a failed one is overwritten by the next
    // entry or the directory.
    m_writeCount += entryBytes;
    m_centralBytes += centralBytes.size();
    m_central.push_back(std::move(centralBytes));

    if (outAttributes) *outAttributes = external;
    if (outLocalOffset) *outLocalOffset = static_cast<uint32_t>(start);
    if (outCompressedSize) *outCompressedSize = local.header.compressedSize;
    if (outUncompressedSize) *outUncompressedSize = local.header.uncompressedSize;
    return kVaultOk;
}

uint32_t VaultWriter::WriteData(Source& src, uint16_t method, uint64_t reserved, uint32_t* crcOut,
                                uint64_t* bytesRead, uint64_t* compressed) {
    *crcOut = 0;
    if (src.folder) return kVaultOk;
    // Whatever the source turns out to hold, the vault stays below its limit:
    // reserved counts everything but the data (records, directory, end).
    const uint64_t room = g_maxVaultBytes - std::min(g_maxVaultBytes, reserved);
    if (src.prepared) {
        // Read and compressed ahead: only the writes are left, as they would
        // have come from here.
        const std::vector<uint8_t>& data = src.prepared->data;
        for (size_t at = 0; at < data.size(); at += kChunk) {
            const size_t len = std::min(kChunk, data.size() - at);
            if (*compressed + len > room) return kVaultTooLarge;
            PumpVaultMessages();
            if (!OutWrite(data.data() + at, len)) return kVaultWriteError;
            *compressed += len;
        }
        *bytesRead = src.prepared->bytesRead;
        *crcOut = src.prepared->crc;
        return kVaultOk;
    }
    std::vector<uint8_t> in(kChunk), out(kChunk);
    uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    auto put = [&](const uint8_t* data, size_t len) -> uint32_t {
        if (*compressed + len > room) return kVaultTooLarge;
        PumpVaultMessages();
        if (!OutWrite(data, len)) return kVaultWriteError;
        *compressed += len;
        return kVaultOk;
    };

    // A large file is compressed in blocks on several threads; reads and
    // writes stay here, in the same order as for one stream.
    const unsigned threads = VaultThreads();
    const size_t blockSize = DeflateBlockSize();
    if (method == kMethodDeflate && threads > 1 && src.expected >= 0 &&
        static_cast<uint64_t>(src.expected) >= 2 * blockSize) {
        const uint64_t blocks = (static_cast<uint64_t>(src.expected) + blockSize - 1) / blockSize;
        DeflateIo io;
        io.read = [&](uint8_t* buffer, size_t len, size_t* got) -> uint32_t {
            if (!src.Read(buffer, len, got)) return kVaultWriteError;
            if (*bytesRead + *got > 0xFFFFFFFFull) return kVaultTooLarge;
            *bytesRead += *got;
            return kVaultOk;
        };
        io.write = put;
        io.waiting = &PumpVaultMessages;
        uint64_t total = 0;
        const uint32_t rc = DeflateInBlocks(static_cast<unsigned>(std::min<uint64_t>(threads, blocks)),
                                            kDeflateLevel, kDeflateMemLevel, io, crcOut, &total, blockSize);
        if (rc == kVaultOk) *bytesRead = total;
        return rc;
    }

    DeflateGuard deflater;
    if (method == kMethodDeflate) {
        if (deflateInit2(&deflater.z, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, kDeflateMemLevel,
                         Z_DEFAULT_STRATEGY) != Z_OK) {
            return kVaultWriteError;
        }
        deflater.live = true;
    }
    bool atEnd = false;
    while (!atEnd) {
        size_t got = 0;
        if (!src.Read(in.data(), in.size(), &got)) return kVaultWriteError;
        atEnd = got == 0;
        if (got) {
            crc = static_cast<uint32_t>(crc32(crc, in.data(), static_cast<uInt>(got)));
            *bytesRead += got;
            if (*bytesRead > 0xFFFFFFFFull) return kVaultTooLarge;
        }
        if (method == kMethodStored) {
            if (got) {
                const uint32_t rc = put(in.data(), got);
                if (rc != kVaultOk) return rc;
            }
            continue;
        }
        z_stream& z = deflater.z;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        const int flush = atEnd ? Z_FINISH : Z_NO_FLUSH;
        int zrc;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            zrc = deflate(&z, flush);
            if (zrc == Z_STREAM_ERROR) return kVaultWriteError;
            const size_t have = out.size() - z.avail_out;
            if (have) {
                const uint32_t rc = put(out.data(), have);
                if (rc != kVaultOk) return rc;
            }
        } while (z.avail_out == 0);
        if (atEnd && zrc != Z_STREAM_END) return kVaultWriteError;
    }
    *crcOut = crc;
    return kVaultOk;
}

uint32_t VaultWriter::End() {
    if (m_ended) return m_endResult;
    m_ended = true;
    m_endResult = WriteTail();
    if (m_fresh) {
        // The new vault takes the target's name only when it is complete.
        m_out.Close();
        if (m_endResult == kVaultOk && !fileio::Rename(m_tempPath, m_finalPath))
            m_endResult = kVaultWriteError;
        if (m_endResult != kVaultOk) fileio::Remove(m_tempPath);
    }
    return m_endResult;
}

uint32_t VaultWriter::WriteTail() {
    const uint64_t directoryOffset = m_base + m_writeCount;
    const std::vector<uint8_t> tail = BuildTail(directoryOffset);

    // The new tail goes into the journal first, replacing the old one in one
    // step; should that fail, the old journal still describes the vault as it
    // was before the add, which is just as complete. The new entries must be
    // on the disk before a journal says they are part of the vault: after a
    // power cut the new journal would otherwise point at entries that never
    // arrived, with the old directory already overwritten.
    if (m_journalActive) {
        if (!m_out.Flush()) return kVaultWriteError;
        ReplaceFileAtomically(m_journalPath,
                              JournalBytes(static_cast<uint32_t>(directoryOffset), tail));
    }
    if (m_seekable && !OutSeek(directoryOffset)) return kVaultWriteError;
    PumpVaultMessages();
    if (!OutWrite(tail.data(), tail.size())) return kVaultWriteError;
    if (m_toFile && m_seekable) {
        // Bytes of a failed add may lie beyond the new end; they must not be
        // taken for part of the vault.
        uint64_t size = 0;
        const uint64_t end = directoryOffset + tail.size();
        if (!m_out.Size(&size) || (size > end && !m_out.Truncate(end)) || !m_out.Flush()) {
            return kVaultWriteError;
        }
    }
    return kVaultOk;
}

uint32_t CloseWriter(VaultWriter& writer) {
    g_lastWriterResult = writer.End();
    return g_lastWriterResult;
}

}  // namespace vault

// ---------------------------------------------------------------------------
// Public writer API.

using vault::g_lastWriterResult;

VaultHandle* OpenVaultWriter(const void* target, uint32_t targetLength, int targetType,
                             const char* journalPath) {
    std::unique_ptr<VaultHandle> handle(new VaultHandle);
    handle->kind = kHandleKindWriter;
    handle->writer.reset(new vault::VaultWriter);
    g_lastWriterResult = handle->writer->Open(target, targetLength, targetType, journalPath);
    if (g_lastWriterResult != kVaultOk) return nullptr;
    return handle.release();
}

uint32_t AddVaultEntryStored(VaultHandle* handle, const vault::StoredName& name, const void* source,
                             uint32_t sourceLength, int sourceType, uint32_t* outAttributes,
                             uint32_t* outLocalOffset, uint32_t* outCompressedSize,
                             uint32_t* outUncompressedSize) {
    uint32_t rc;
    if (!handle) rc = kVaultBadArguments;
    else if (handle->kind != kHandleKindWriter) rc = kVaultWrongKind;
    else rc = handle->writer->Add(name, source, sourceLength, sourceType, outAttributes,
                                  outLocalOffset, outCompressedSize, outUncompressedSize);
    g_lastWriterResult = rc;
    return rc;
}

uint32_t AddVaultEntry(VaultHandle* handle, const char* name, const void* source,
                       uint32_t sourceLength, int sourceType, uint32_t* outAttributes,
                       uint32_t* outLocalOffset, uint32_t* outCompressedSize,
                       uint32_t* outUncompressedSize) {
    vault::StoredName stored;
    // Separators are turned while the name is still UTF-8, where a '\\'
    // byte is always the character.
    if (name && *name && vault::IsValidUtf8(name))
        stored = vault::EncodeEntryName(
            vault::NormalizeEntryName(name, sourceType == kVaultSourceFolder));
    return AddVaultEntryStored(handle, stored, source, sourceLength, sourceType, outAttributes,
                               outLocalOffset, outCompressedSize, outUncompressedSize);
}

int FormatVaultWriterResult(uint32_t code, char* buffer, int length) {
    return vault::CopyResultText(code == 1 ? g_lastWriterResult : code, buffer, length);
}

void SetVaultMessagePump(VaultMessagePump pump) { vault::g_pump = pump; }
