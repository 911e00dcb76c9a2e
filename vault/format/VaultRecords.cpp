#include "vault/format/VaultRecords.h"

#include <climits>
#include <exception>

#include "vault/cipher/CipherBuffer.h"

namespace vault {

const char* VaultStatusName(VaultStatus status) {
    switch (status) {
        case VaultStatus::Ok: return "Ok";
        case VaultStatus::IoError: return "IoError";
        case VaultStatus::Corrupt: return "Corrupt";
        case VaultStatus::EndOfList: return "EndOfList";
        case VaultStatus::BadArgument: return "BadArgument";
    }
    return "?";
}

namespace {

size_t PadTo32(uint64_t length) {
    return static_cast<size_t>((kRecordBlock - length % kRecordBlock) % kRecordBlock);
}

bool UsableCipherLength(size_t len) {
    return len > 0 && len % kRecordBlock == 0 && len <= static_cast<size_t>(INT_MAX);
}

void Append(std::vector<uint8_t>* out, const void* data, size_t len) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    out->insert(out->end(), p, p + len);
}

}  // namespace

size_t LocalPadding(size_t nameLength, size_t extraLength) {
    return PadTo32(uint64_t(kLocalFixedSize) + nameLength + extraLength);
}

size_t CentralPadding(size_t nameLength, size_t extraLength, size_t commentLength) {
    return PadTo32(uint64_t(kCentralFixedSize) + nameLength + extraLength + commentLength);
}

bool EncipherRecord(const uint8_t* in, uint8_t* out, size_t len) {
    if (!in || !out || !UsableCipherLength(len)) return false;
    try {
        int n = EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in, out, static_cast<int>(len),
                               kVaultBlockSize, kModeCBC);
        return n == static_cast<int>(len);
    } catch (const std::exception&) {
        return false;
    }
}

bool DecipherRecord(const uint8_t* in, uint8_t* out, size_t len) {
    if (!in || !out || !UsableCipherLength(len)) return false;
    try {
        int n = DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in, out, static_cast<int>(len),
                               kVaultBlockSize, kModeCBC);
        return n == static_cast<int>(len);
    } catch (const std::exception&) {
        return false;
    }
}

// ---------------------------------------------------------------------------
// Encoding

VaultStatus BuildLocalRecordPlain(const LocalRecord& record, std::vector<uint8_t>* out) {
    if (!out) return VaultStatus::BadArgument;
    const size_t n = record.name.size();
    const size_t pad = LocalPadding(n, record.extra.size());
    const uint64_t m = uint64_t(record.extra.size()) + pad;
    if (n > 0xFFFF || m > 0xFFFF) return VaultStatus::BadArgument;

    const LocalHeader& h = record.header;
    uint8_t fixed[kLocalFixedSize];
    PutU32(fixed + 0, h.signature);
    PutU16(fixed + 4, h.versionNeeded);
    PutU16(fixed + 6, h.flags);
    PutU16(fixed + 8, h.method);
    PutU16(fixed + 10, h.dosTime);
    PutU16(fixed + 12, h.dosDate);
    PutU32(fixed + 14, h.crc);
    PutU32(fixed + 18, h.compressedSize);
    PutU32(fixed + 22, h.uncompressedSize);
    PutU16(fixed + 26, static_cast<uint16_t>(n));
    PutU16(fixed + 28, static_cast<uint16_t>(m));

    out->clear();
    out->reserve(kLocalFixedSize + n + static_cast<size_t>(m));
    Append(out, fixed, sizeof fixed);
    Append(out, record.name.data(), n);
    Append(out, record.extra.data(), record.extra.size());
    out->resize(out->size() + pad, 0);
    return VaultStatus::Ok;
}

VaultStatus EncodeLocalRecord(const LocalRecord& record, std::vector<uint8_t>* out) {
    if (!out) return VaultStatus::BadArgument;
    std::vector<uint8_t> plain;
    VaultStatus st = BuildLocalRecordPlain(record, &plain);
    if (st != VaultStatus::Ok) return st;
    out->assign(plain.size(), 0);
    return EncipherRecord(plain.data(), out->data(), plain.size()) ? VaultStatus::Ok
                                                                   : VaultStatus::BadArgument;
}

VaultStatus BuildCentralRecordPlain(const CentralRecord& record, std::vector<uint8_t>* out) {
    if (!out) return VaultStatus::BadArgument;
    const size_t n = record.name.size();
    const size_t k = record.comment.size();
    const size_t pad = CentralPadding(n, record.extra.size(), k);
    const uint64_t m = uint64_t(record.extra.size()) + pad;
    if (n > 0xFFFF || k > 0xFFFF || m > 0xFFFF) return VaultStatus::BadArgument;

    const CentralHeader& h = record.header;
    uint8_t fixed[kCentralFixedSize];
    PutU32(fixed + 0, h.signature);
    PutU16(fixed + 4, h.versionMadeBy);
    PutU16(fixed + 6, h.versionNeeded);
    PutU16(fixed + 8, h.flags);
    PutU16(fixed + 10, h.method);
    PutU16(fixed + 12, h.dosTime);
    PutU16(fixed + 14, h.dosDate);
    PutU32(fixed + 16, h.crc);
    PutU32(fixed + 20, h.compressedSize);
    PutU32(fixed + 24, h.uncompressedSize);
    PutU16(fixed + 28, static_cast<uint16_t>(n));
    PutU16(fixed + 30, static_cast<uint16_t>(m));
    PutU16(fixed + 32, static_cast<uint16_t>(k));
    PutU16(fixed + 34, h.diskNumberStart);
    PutU16(fixed + 36, h.internalAttributes);
    PutU32(fixed + 38, h.externalAttributes);
    PutU32(fixed + 42, h.localOffset);

    out->clear();
    out->reserve(kCentralFixedSize + n + static_cast<size_t>(m) + k);
    Append(out, fixed, sizeof fixed);
    Append(out, record.name.data(), n);
    Append(out, record.extra.data(), record.extra.size());
    out->resize(out->size() + pad, 0);
    Append(out, record.comment.data(), k);
    return VaultStatus::Ok;
}

VaultStatus EncodeCentralRecord(const CentralRecord& record, std::vector<uint8_t>* out) {
    if (!out) return VaultStatus::BadArgument;
    std::vector<uint8_t> plain;
    VaultStatus st = BuildCentralRecordPlain(record, &plain);
    if (st != VaultStatus::Ok) return st;
    out->assign(plain.size(), 0);
    return EncipherRecord(plain.data(), out->data(), plain.size()) ? VaultStatus::Ok
                                                                   : VaultStatus::BadArgument;
}

std::array<uint8_t, kEndBlockSize> EncodeEndRecord(const EndRecord& r) {
    std::array<uint8_t, kEndBlockSize> out{};
    PutU32(&out[0], r.signature);
    PutU16(&out[4], r.diskNumber);
    PutU16(&out[6], r.directoryDisk);
    PutU16(&out[8], r.entriesOnDisk);
    PutU16(&out[10], r.entriesTotal);
    PutU32(&out[12], r.directorySize);
    PutU32(&out[16], r.directoryOffset);
    PutU16(&out[20], 0);  // no comment is ever written
    return out;
}

std::array<uint8_t, kDescriptorSize> EncodeDataDescriptor(const DataDescriptor& d) {
    std::array<uint8_t, kDescriptorSize> out{};
    PutU32(&out[0], kDescriptorSignature);
    PutU32(&out[4], d.crc);
    PutU32(&out[8], d.compressedSize);
    PutU32(&out[12], d.uncompressedSize);
    return out;
}

// ---------------------------------------------------------------------------
// Decoding

VaultStatus DecodeLocalHeader(const uint8_t* data, size_t size, LocalHeader* out) {
    if (!data || !out) return VaultStatus::BadArgument;
    if (size < kLocalFixedSize) return VaultStatus::Corrupt;
    LocalHeader h;
    h.signature = GetU32(data + 0);
    if (h.signature != kLocalSignature) return VaultStatus::Corrupt;
    h.versionNeeded = GetU16(data + 4);
    h.flags = GetU16(data + 6);
    h.method = GetU16(data + 8);
    h.dosTime = GetU16(data + 10);
    h.dosDate = GetU16(data + 12);
    h.crc = GetU32(data + 14);
    h.compressedSize = GetU32(data + 18);
    h.uncompressedSize = GetU32(data + 22);
    h.nameLength = GetU16(data + 26);
    h.extraLength = GetU16(data + 28);
    *out = h;
    return VaultStatus::Ok;
}

VaultStatus DecodeLocalRecord(const uint8_t* data, size_t size, LocalRecord* out) {
    if (!data || !out) return VaultStatus::BadArgument;
    LocalHeader h;
    VaultStatus st = DecodeLocalHeader(data, size, &h);
    if (st != VaultStatus::Ok) return st;
    if (h.RecordLength() > size) return VaultStatus::Corrupt;
    const uint8_t* name = data + kLocalFixedSize;
    const uint8_t* extra = name + h.nameLength;
    out->header = h;
    out->name.assign(reinterpret_cast<const char*>(name), h.nameLength);
    out->extra.assign(extra, extra + h.extraLength);
    return VaultStatus::Ok;
}

VaultStatus DecodeCentralHeader(const uint8_t* data, size_t size, CentralHeader* out) {
    if (!data || !out) return VaultStatus::BadArgument;
    if (size < kCentralFixedSize) return VaultStatus::Corrupt;
    CentralHeader h;
    h.signature = GetU32(data + 0);
    if (h.signature != kCentralSignature) return VaultStatus::Corrupt;
    h.versionMadeBy = GetU16(data + 4);
    h.versionNeeded = GetU16(data + 6);
    h.flags = GetU16(data + 8);
    h.method = GetU16(data + 10);
    h.dosTime = GetU16(data + 12);
    h.dosDate = GetU16(data + 14);
    h.crc = GetU32(data + 16);
    h.compressedSize = GetU32(data + 20);
    h.uncompressedSize = GetU32(data + 24);
    h.nameLength = GetU16(data + 28);
    h.extraLength = GetU16(data + 30);
    h.commentLength = GetU16(data + 32);
    h.diskNumberStart = GetU16(data + 34);
    h.internalAttributes = GetU16(data + 36);
    h.externalAttributes = GetU32(data + 38);
    h.localOffset = GetU32(data + 42);
    *out = h;
    return VaultStatus::Ok;
}

VaultStatus DecodeCentralRecord(const uint8_t* data, size_t size, CentralRecord* out) {
    if (!data || !out) return VaultStatus::BadArgument;
    CentralHeader h;
    VaultStatus st = DecodeCentralHeader(data, size, &h);
    if (st != VaultStatus::Ok) return st;
    if (h.RecordLength() > size) return VaultStatus::Corrupt;
    const uint8_t* name = data + kCentralFixedSize;
    const uint8_t* extra = name + h.nameLength;
    const uint8_t* comment = extra + h.extraLength;
    out->header = h;
    out->name.assign(reinterpret_cast<const char*>(name), h.nameLength);
    out->extra.assign(extra, extra + h.extraLength);
    out->comment.assign(comment, comment + h.commentLength);
    return VaultStatus::Ok;
}

VaultStatus DecodeEndRecord(const uint8_t* data, size_t size, EndRecord* out) {
    if (!data || !out) return VaultStatus::BadArgument;
    if (size < kEndFixedSize) return VaultStatus::Corrupt;
    EndRecord r;
    r.signature = GetU32(data + 0);
    if (r.signature != kEndSignature) return VaultStatus::Corrupt;
    r.diskNumber = GetU16(data + 4);
    r.directoryDisk = GetU16(data + 6);
    r.entriesOnDisk = GetU16(data + 8);
    r.entriesTotal = GetU16(data + 10);
    r.directorySize = GetU32(data + 12);
    r.directoryOffset = GetU32(data + 16);
    r.commentLength = GetU16(data + 20);
    *out = r;
    return VaultStatus::Ok;
}

VaultStatus DecodeDataDescriptor(const uint8_t* data, size_t size, DataDescriptor* out) {
    if (!data || !out) return VaultStatus::BadArgument;
    if (size < kDescriptorSize) return VaultStatus::Corrupt;
    if (GetU32(data) != kDescriptorSignature) return VaultStatus::Corrupt;
    out->crc = GetU32(data + 4);
    out->compressedSize = GetU32(data + 8);
    out->uncompressedSize = GetU32(data + 12);
    return VaultStatus::Ok;
}

VaultStatus ValidateEndRecord(const EndRecord& r, uint64_t position) {
    if (r.signature != kEndSignature) return VaultStatus::Corrupt;
    if (r.diskNumber != 0 || r.directoryDisk != 0) return VaultStatus::Corrupt;
    if (r.entriesOnDisk != r.entriesTotal) return VaultStatus::Corrupt;
    if (uint64_t(r.directoryOffset) + r.directorySize > position) return VaultStatus::Corrupt;
    return VaultStatus::Ok;
}

// ---------------------------------------------------------------------------
// Extended timestamp

std::vector<uint8_t> BuildLocalTimestamp(uint32_t modification, uint32_t access, uint32_t creation) {
    std::vector<uint8_t> out(kLocalTimestampSize, 0);
    out[0] = kTimestampTag0;
    out[1] = kTimestampTag1;
    PutU16(&out[2], static_cast<uint16_t>(kLocalTimestampSize - 4));
    out[4] = kTimeFlagModification | kTimeFlagAccess | kTimeFlagCreation;
    PutU32(&out[5], modification);
    PutU32(&out[9], access);
    PutU32(&out[13], creation);
    return out;
}

std::vector<uint8_t> BuildCentralTimestamp(uint32_t modification) {
    std::vector<uint8_t> out(kCentralTimestampSize, 0);
    out[0] = kTimestampTag0;
    out[1] = kTimestampTag1;
    PutU16(&out[2], static_cast<uint16_t>(kCentralTimestampSize - 4));
    // The central form announces all three times but carries only the first;
    // its data size says so.
    out[4] = kTimeFlagModification | kTimeFlagAccess | kTimeFlagCreation;
    PutU32(&out[5], modification);
    return out;
}

bool ParseExtendedTimestamp(const uint8_t* extra, size_t size, ExtendedTimes* out) {
    if (!out) return false;
    *out = ExtendedTimes();
    if (!extra) return false;
    size_t pos = 0;
    while (size - pos >= 5) {
        const uint8_t* block = extra + pos;
        if (block[0] == kTimestampTag0 && block[1] == kTimestampTag1) {
            const size_t dataSize = GetU16(block + 2);
            const size_t avail = size - pos - 4;
            const size_t blockEnd = 4 + (dataSize < avail ? dataSize : avail);
            const uint8_t flags = block[4];
            size_t at = 5;
            const uint8_t bits[3] = {kTimeFlagModification, kTimeFlagAccess, kTimeFlagCreation};
            bool* has[3] = {&out->hasModification, &out->hasAccess, &out->hasCreation};
            uint32_t* value[3] = {&out->modification, &out->access, &out->creation};
            for (int i = 0; i < 3; ++i) {
                if (!(flags & bits[i])) continue;
                if (at > blockEnd || blockEnd - at < 4) break;
                *value[i] = GetU32(block + at);
                *has[i] = true;
                at += 4;
            }
            return true;
        }
        // Other blocks are skipped by the low byte of their size only.
        const size_t skip = 4 + size_t(block[2]);
        if (skip > size - pos) break;
        pos += skip;
    }
    return false;
}

}  // namespace vault
