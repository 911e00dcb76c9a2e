#include "vault/format/VaultScan.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <vector>

namespace vault {

namespace {

// Reads up to len bytes at pos; *got says how many came.
bool ReadSome(CFile& file, uint64_t pos, uint8_t* buffer, size_t len, size_t* got) {
    *got = 0;
    return file.Seek(pos) && file.Read(buffer, len, got);
}

// Reads len bytes at pos (all of them, or it is an I/O error) and deciphers
// them as one record unit into plain.
VaultStatus ReadDeciphered(CFile& file, uint64_t pos, uint8_t* plain, size_t len) {
    std::vector<uint8_t> raw(len);
    size_t got = 0;
    if (!ReadSome(file, pos, raw.data(), len, &got) || got != len) return VaultStatus::IoError;
    return DecipherRecord(raw.data(), plain, len) ? VaultStatus::Ok : VaultStatus::Corrupt;
}

constexpr uint8_t kEndSigBytes[4] = {0x12, 0x11, 0x05, 0x06};

// Deciphers a whole record of len bytes whose first probeLen bytes are
// already deciphered in plainProbe. CBC lets the rest be deciphered on its
// own: a stream started at block k gives every block right but the first,
// which still needs the XOR with ciphertext block k - 1 instead of the zero
// chain.
bool DecipherAfterProbe(const uint8_t* raw, const uint8_t* plainProbe, size_t probeLen,
                        uint8_t* plain, size_t len) {
    std::memcpy(plain, plainProbe, probeLen);
    if (len == probeLen) return true;
    if (!DecipherRecord(raw + probeLen, plain + probeLen, len - probeLen)) return false;
    for (size_t i = 0; i < kRecordBlock; ++i) plain[probeLen + i] ^= raw[probeLen - kRecordBlock + i];
    return true;
}

}  // namespace

VaultStatus FindEndSignature(CFile& file, uint64_t fileSize, uint64_t before, uint64_t* position) {
    if (!position) return VaultStatus::BadArgument;
    const uint64_t span = fileSize < kEndSearchSpan ? fileSize : kEndSearchSpan;
    const uint64_t lowest = fileSize - span;
    uint8_t window[kEndSearchWindow];

    uint64_t wend = fileSize;
    for (;;) {
        const uint64_t wstart = (wend - lowest > kEndSearchWindow) ? wend - kEndSearchWindow : lowest;
        const size_t wlen = static_cast<size_t>(wend - wstart);
        if (wlen >= 4 && wstart < before) {
            size_t got = 0;
            if (!ReadSome(file, wstart, window, wlen, &got) || got != wlen) {
                return VaultStatus::IoError;
            }
            for (size_t i = wlen - 4 + 1; i-- > 0;) {
                if (wstart + i >= before) continue;
                if (window[i] == kEndSigBytes[0] && window[i + 1] == kEndSigBytes[1] &&
                    window[i + 2] == kEndSigBytes[2] && window[i + 3] == kEndSigBytes[3]) {
                    *position = wstart + i;
                    return VaultStatus::Ok;
                }
            }
        }
        if (wstart == lowest) break;
        wend -= kEndSearchStep;
    }
    return VaultStatus::Corrupt;
}

VaultStatus ReadEndRecord(CFile& file, uint64_t fileSize, uint64_t position, EndRecord* out) {
    if (!out) return VaultStatus::BadArgument;
    if (position > fileSize || fileSize - position < kEndFixedSize) return VaultStatus::Corrupt;
    uint8_t bytes[kEndFixedSize];
    size_t got = 0;
    if (!ReadSome(file, position, bytes, sizeof bytes, &got)) return VaultStatus::IoError;
    if (got != sizeof bytes) return VaultStatus::Corrupt;
    EndRecord r;
    VaultStatus st = DecodeEndRecord(bytes, got, &r);
    if (st != VaultStatus::Ok) return st;
    st = ValidateEndRecord(r, position);
    if (st != VaultStatus::Ok) return st;
    *out = r;
    return VaultStatus::Ok;
}

VaultStatus LocateDirectory(CFile& file, DirectoryInfo* out) {
    if (!out) return VaultStatus::BadArgument;
    uint64_t size = 0;
    if (!file.IsOpen() || !file.Size(&size)) return VaultStatus::IoError;
    uint64_t before = size;
    for (;;) {
        uint64_t pos = 0;
        VaultStatus st = FindEndSignature(file, size, before, &pos);
        if (st != VaultStatus::Ok) return st;
        EndRecord r;
        st = ReadEndRecord(file, size, pos, &r);
        if (st == VaultStatus::Ok) {
            DirectoryInfo d;
            d.fileSize = size;
            d.endPosition = pos;
            d.end = r;
            d.prefixBytes = pos - (uint64_t(r.directoryOffset) + r.directorySize);
            d.directoryStart = pos - r.directorySize;
            d.entryCount = r.entriesOnDisk;
            *out = d;
            return VaultStatus::Ok;
        }
        if (st != VaultStatus::Corrupt) return st;
        before = pos;  // strictly decreasing: the search always ends
    }
}

VaultStatus ReadCentralRecord(CFile& file, uint64_t position, uint64_t limit, CentralRecord* out,
                              uint64_t* length) {
    if (!out || !length) return VaultStatus::BadArgument;
    if (position > limit || limit - position < kCentralProbeSize) return VaultStatus::Corrupt;

    uint8_t plainProbe[kCentralProbeSize];
    VaultStatus st = ReadDeciphered(file, position, plainProbe, sizeof plainProbe);
    if (st != VaultStatus::Ok) return st;
    CentralHeader h;
    st = DecodeCentralHeader(plainProbe, sizeof plainProbe, &h);
    if (st != VaultStatus::Ok) return st;

    const uint64_t len = h.RecordLength();  // at most 46 + 3 * 65535
    if (len > limit - position) return VaultStatus::Corrupt;
    if (len % kRecordBlock != 0) return VaultStatus::Corrupt;  // cannot be deciphered

    std::vector<uint8_t> plain(static_cast<size_t>(len));
    st = ReadDeciphered(file, position, plain.data(), plain.size());
    if (st != VaultStatus::Ok) return st;
    CentralRecord rec;
    st = DecodeCentralRecord(plain.data(), plain.size(), &rec);
    if (st != VaultStatus::Ok) return st;
    *out = std::move(rec);
    *length = len;
    return VaultStatus::Ok;
}

VaultStatus ReadLocalHeader(CFile& file, uint64_t position, uint64_t limit, LocalHeader* out) {
    if (!out) return VaultStatus::BadArgument;
    if (position > limit || limit - position < kLocalProbeSize) return VaultStatus::Corrupt;
    uint8_t plain[kLocalProbeSize];
    VaultStatus st = ReadDeciphered(file, position, plain, sizeof plain);
    if (st != VaultStatus::Ok) return st;
    return DecodeLocalHeader(plain, sizeof plain, out);
}

bool ReadWindow::Read(CFile& file, uint64_t pos, uint64_t limit, uint8_t* out, size_t len,
                      size_t* got) {
    *got = 0;
    if (pos >= limit) return true;
    len = static_cast<size_t>(std::min<uint64_t>(len, limit - pos));
    if (len > kSize) return ReadSome(file, pos, out, len, got);
    if (!(pos >= m_pos && pos + len <= m_pos + m_len)) {
        if (m_bytes.size() != kSize) m_bytes.resize(kSize);
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kSize, limit - pos));
        m_len = 0;
        if (!ReadSome(file, pos, m_bytes.data(), want, &m_len)) {
            m_len = 0;
            return false;
        }
        m_pos = pos;
    }
    const size_t avail = pos - m_pos < m_len ? static_cast<size_t>(m_len - (pos - m_pos)) : 0;
    *got = std::min(len, avail);
    std::memcpy(out, m_bytes.data() + (pos - m_pos), *got);
    return true;
}

VaultStatus CheckLocalRecord(CFile& file, const DirectoryInfo& directory,
                             const CentralHeader& central, LocalEntry* out, ReadWindow* window) {
    if (!out) return VaultStatus::BadArgument;
    const uint64_t limit = directory.directoryStart;
    const uint64_t q = uint64_t(central.localOffset) + directory.prefixBytes;
    if (q > limit || limit - q < kLocalProbeSize) return VaultStatus::Corrupt;

    // One read that holds the whole record in the usual case: the fixed part,
    // the name the central record announces and a timestamp block.
    const uint64_t guess = (kLocalFixedSize + uint64_t(central.nameLength) + 64 + kRecordBlock - 1) /
                           kRecordBlock * kRecordBlock;
    std::vector<uint8_t> raw(static_cast<size_t>(std::min<uint64_t>(guess, limit - q)));
    size_t got = 0;
    const bool read = window ? window->Read(file, q, limit, raw.data(), raw.size(), &got)
                             : ReadSome(file, q, raw.data(), raw.size(), &got);
    if (!read || got < kLocalProbeSize) {
        return VaultStatus::IoError;
    }
    uint8_t probe[kLocalProbeSize];
    if (!DecipherRecord(raw.data(), probe, sizeof probe)) return VaultStatus::Corrupt;
    LocalHeader h;
    VaultStatus st = DecodeLocalHeader(probe, sizeof probe, &h);
    if (st != VaultStatus::Ok) return st;
    if (h.method != central.method) return VaultStatus::Corrupt;
    if (h.method != kMethodStored && h.method != kMethodDeflate) return VaultStatus::Corrupt;
    if (!(h.flags & kFlagDescriptor)) {
        if (h.crc != central.crc || h.compressedSize != central.compressedSize ||
            h.uncompressedSize != central.uncompressedSize) {
            return VaultStatus::Corrupt;
        }
    }
    if (h.nameLength != central.nameLength) return VaultStatus::Corrupt;

    const uint64_t len = h.RecordLength();
    if (len > limit - q || len % kRecordBlock != 0) return VaultStatus::Corrupt;
    const uint64_t dataStart = q + len;
    if (central.compressedSize > limit - dataStart) return VaultStatus::Corrupt;

    if (len > got) {
        const size_t have = got;
        raw.resize(static_cast<size_t>(len));
        const bool more =
            window ? window->Read(file, q + have, limit, raw.data() + have, raw.size() - have, &got)
                   : ReadSome(file, q + have, raw.data() + have, raw.size() - have, &got);
        if (!more ||
            got != raw.size() - have) {
            return VaultStatus::IoError;
        }
    }
    std::vector<uint8_t> plain(static_cast<size_t>(len));
    if (!DecipherAfterProbe(raw.data(), probe, sizeof probe, plain.data(), plain.size())) {
        return VaultStatus::Corrupt;
    }
    LocalRecord rec;
    st = DecodeLocalRecord(plain.data(), plain.size(), &rec);
    if (st != VaultStatus::Ok) return st;

    out->record = std::move(rec);
    out->position = q;
    out->dataStart = dataStart;
    return VaultStatus::Ok;
}

VaultStatus ReadCentralDirectory(CFile& file, const DirectoryInfo& directory,
                                 std::vector<CentralEntry>* out) {
    if (!out) return VaultStatus::BadArgument;
    out->clear();
    if (directory.entryCount == 0) return VaultStatus::Ok;
    const uint64_t begin = directory.directoryStart;
    const uint64_t end = directory.DirectoryEnd();
    if (begin > end) return VaultStatus::Corrupt;

    // The buffer never exceeds the directory, which lies inside the file.
    std::vector<uint8_t> buffer;
    try {
        out->reserve(directory.entryCount);
        buffer.resize(static_cast<size_t>(std::min<uint64_t>(end - begin, kDirectoryReadWindow)));
    } catch (const std::bad_alloc&) {
        return VaultStatus::IoError;
    }
    uint64_t bufferPos = begin;
    size_t bufferLen = 0;
    // Makes [pos, pos + need) present in the buffer, reading from pos on.
    auto have = [&](uint64_t pos, uint64_t need) -> VaultStatus {
        if (pos >= bufferPos && pos + need <= bufferPos + bufferLen) return VaultStatus::Ok;
        if (need > buffer.size()) {
            try {
                buffer.resize(static_cast<size_t>(need));
            } catch (const std::bad_alloc&) {
                return VaultStatus::IoError;
            }
        }
        const size_t len = static_cast<size_t>(std::min<uint64_t>(end - pos, buffer.size()));
        size_t got = 0;
        if (!ReadSome(file, pos, buffer.data(), len, &got)) return VaultStatus::IoError;
        bufferPos = pos;
        bufferLen = got;
        return got >= need ? VaultStatus::Ok : VaultStatus::IoError;
    };

    std::vector<uint8_t> plain;
    uint64_t pos = begin;
    for (uint32_t i = 0; i < directory.entryCount; ++i) {
        if (pos > end || end - pos < kCentralProbeSize) return VaultStatus::Corrupt;
        VaultStatus st = have(pos, kCentralProbeSize);
        if (st != VaultStatus::Ok) return st;
        uint8_t probe[kCentralProbeSize];
        if (!DecipherRecord(buffer.data() + (pos - bufferPos), probe, sizeof probe)) {
            return VaultStatus::Corrupt;
        }
        CentralHeader h;
        st = DecodeCentralHeader(probe, sizeof probe, &h);
        if (st != VaultStatus::Ok) return st;
        const uint64_t len = h.RecordLength();
        if (len > end - pos || len % kRecordBlock != 0) return VaultStatus::Corrupt;
        st = have(pos, len);
        if (st != VaultStatus::Ok) return st;
        plain.resize(static_cast<size_t>(len));
        if (!DecipherAfterProbe(buffer.data() + (pos - bufferPos), probe, sizeof probe, plain.data(),
                                plain.size())) {
            return VaultStatus::Corrupt;
        }
        CentralEntry e;
        e.header = h;
        e.name.assign(reinterpret_cast<const char*>(plain.data() + kCentralFixedSize), h.nameLength);
        e.position = pos;
        e.length = len;
        out->push_back(std::move(e));
        pos += len;
    }
    return VaultStatus::Ok;
}

LocalSpan CentralLocalSpan(const DirectoryInfo& directory, const CentralHeader& central) {
    LocalSpan span;
    span.start = uint64_t(central.localOffset) + directory.prefixBytes;
    span.end = span.start + kLocalFixedSize + central.nameLength + central.compressedSize;
    return span;
}

size_t MarkOverlappingSpans(const std::vector<LocalSpan>& spans, std::vector<bool>* overlapping) {
    overlapping->assign(spans.size(), false);
    if (spans.size() < 2) return 0;
    std::vector<size_t> order(spans.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return spans[a].start < spans[b].start || (spans[a].start == spans[b].start && a < b);
    });
    size_t marked = 0;
    auto mark = [&](size_t i) {
        if (!(*overlapping)[i]) {
            (*overlapping)[i] = true;
            ++marked;
        }
    };
    // The span reaching furthest so far overlaps every later one that starts
    // before its end.
    size_t reach = order[0];
    for (size_t k = 1; k < order.size(); ++k) {
        const size_t i = order[k];
        if (spans[i].start < spans[reach].end) {
            mark(i);
            mark(reach);
        }
        if (spans[i].end > spans[reach].end) reach = i;
    }
    return marked;
}

// ---------------------------------------------------------------------------

void CentralDirectoryWalker::Reset(CFile* file, const DirectoryInfo& directory) {
    m_file = file;
    m_directory = directory;
    m_record = CentralRecord();
    m_started = false;
    m_valid = false;
    m_status = VaultStatus::EndOfList;
    m_index = 0;
    m_position = directory.directoryStart;
    m_length = 0;
}

VaultStatus CentralDirectoryWalker::ReadAt(uint32_t index, uint64_t position) {
    m_index = index;
    m_position = position;
    m_length = 0;
    uint64_t len = 0;
    m_status = ReadCentralRecord(*m_file, position, m_directory.DirectoryEnd(), &m_record, &len);
    m_valid = m_status == VaultStatus::Ok;
    if (m_valid) {
        m_length = len;
    } else {
        m_record = CentralRecord();
    }
    return m_status;
}

VaultStatus CentralDirectoryWalker::First() {
    if (!m_file) return VaultStatus::BadArgument;
    m_started = true;
    if (m_directory.entryCount == 0) {
        m_valid = false;
        m_status = VaultStatus::EndOfList;
        m_index = 0;
        m_position = m_directory.directoryStart;
        return VaultStatus::EndOfList;
    }
    return ReadAt(0, m_directory.directoryStart);
}

VaultStatus CentralDirectoryWalker::Next() {
    if (!m_file || !m_started) return VaultStatus::BadArgument;
    if (!m_valid) return m_status;
    if (uint64_t(m_index) + 1 >= m_directory.entryCount) return VaultStatus::EndOfList;
    // Records are at least 64 bytes, so the walk always moves forward.
    return ReadAt(m_index + 1, m_position + m_length);
}

VaultStatus CentralDirectoryWalker::Seek(uint32_t index) {
    if (!m_file) return VaultStatus::BadArgument;
    if (index >= m_directory.entryCount) return VaultStatus::BadArgument;
    if (!m_valid || index < m_index) {
        VaultStatus st = First();
        if (st != VaultStatus::Ok) return st;
    }
    while (m_index < index) {
        VaultStatus st = Next();
        if (st != VaultStatus::Ok) return st;
    }
    return VaultStatus::Ok;
}

}  // namespace vault
