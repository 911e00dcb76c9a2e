// Record codec of the vault file: signatures, fixed sizes, the four record
// kinds (local, central, end, data descriptor), their encoding and decoding,
// the cipher wrapping of header records and the extended-timestamp extra
// field.
//
// Layout in one sentence: a ZIP-shaped file whose signatures begin with
// 12 11 instead of "PK", whose local and central records are each enciphered
// as one unit (Rijndael, 32-byte block, CBC from a zero chain) after being
// padded with zeros inside their extra field to whole 32-byte blocks, and
// whose plain end record is followed by zeros up to a 32-byte multiple.
// All integers are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vault {

// ---------------------------------------------------------------------------
// Results of the archive layer. The reader and writer map these to their
// public result codes.
enum class VaultStatus {
    Ok,
    IoError,      // a read or reposition failed, or fewer bytes came back
    Corrupt,      // bad signature, failed decipher, lengths that do not fit
    EndOfList,    // stepped past the last central record
    BadArgument,  // the caller passed something unusable
};

const char* VaultStatusName(VaultStatus status);

// ---------------------------------------------------------------------------
// Constants of the layout.
constexpr uint32_t kLocalSignature = 0x04031112;
constexpr uint32_t kCentralSignature = 0x02011112;
constexpr uint32_t kEndSignature = 0x06051112;
constexpr uint32_t kDescriptorSignature = 0x08071112;

constexpr size_t kLocalFixedSize = 30;
constexpr size_t kCentralFixedSize = 46;
constexpr size_t kEndFixedSize = 22;
constexpr size_t kDescriptorSize = 16;

constexpr size_t kRecordBlock = 32;        // cipher block; record lengths are multiples
constexpr size_t kLocalProbeSize = 32;     // leading bytes that hold a local fixed part
constexpr size_t kCentralProbeSize = 64;   // leading bytes that hold a central fixed part
constexpr size_t kEndBlockSize = 32;       // end record plus its zero bytes

constexpr uint16_t kVersionMadeBy = 0x0B17;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagDeflateLevel = 0x0002;  // deflated at level 8
constexpr uint16_t kFlagDescriptor = 0x0008;    // a data descriptor follows the data

constexpr size_t kMaxNameLength = 259;          // longest entry name accepted

// Extended timestamp extra field ("UT").
constexpr uint8_t kTimestampTag0 = 'U';
constexpr uint8_t kTimestampTag1 = 'T';
constexpr uint8_t kTimeFlagModification = 0x01;
constexpr uint8_t kTimeFlagAccess = 0x02;
constexpr uint8_t kTimeFlagCreation = 0x04;
constexpr size_t kLocalTimestampSize = 17;
constexpr size_t kCentralTimestampSize = 9;

// ---------------------------------------------------------------------------
// Little-endian access.
inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// ---------------------------------------------------------------------------
// Records. The *Header structs are the fixed parts exactly as stored; the
// *Record structs add the variable parts.

struct LocalHeader {
    uint32_t signature = kLocalSignature;
    uint16_t versionNeeded = kVersionNeeded;
    uint16_t flags = 0;
    uint16_t method = kMethodDeflate;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;

    // 30 + n + m: the stored length of the record.
    uint64_t RecordLength() const { return kLocalFixedSize + uint64_t(nameLength) + extraLength; }
};

struct LocalRecord {
    LocalHeader header;
    std::string name;
    std::vector<uint8_t> extra;  // as stored, padding included when decoded
};

struct CentralHeader {
    uint32_t signature = kCentralSignature;
    uint16_t versionMadeBy = kVersionMadeBy;
    uint16_t versionNeeded = kVersionNeeded;
    uint16_t flags = 0;
    uint16_t method = kMethodDeflate;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localOffset = 0;

    // 46 + n + m + k: the stored length of the record.
    uint64_t RecordLength() const {
        return kCentralFixedSize + uint64_t(nameLength) + extraLength + commentLength;
    }
};

struct CentralRecord {
    CentralHeader header;
    std::string name;
    std::vector<uint8_t> extra;    // as stored, padding included when decoded
    std::vector<uint8_t> comment;
};

struct EndRecord {
    uint32_t signature = kEndSignature;
    uint16_t diskNumber = 0;
    uint16_t directoryDisk = 0;
    uint16_t entriesOnDisk = 0;
    uint16_t entriesTotal = 0;
    uint32_t directorySize = 0;
    uint32_t directoryOffset = 0;
    uint16_t commentLength = 0;
};

struct DataDescriptor {
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

// ---------------------------------------------------------------------------
// Padding. Zero bytes added to the extra field so that the whole record is a
// multiple of 32 bytes.
size_t LocalPadding(size_t nameLength, size_t extraLength);
size_t CentralPadding(size_t nameLength, size_t extraLength, size_t commentLength);

// ---------------------------------------------------------------------------
// Cipher wrapping of one header record (the vault's fixed key phrase, key
// method 5, 32-byte blocks, CBC, one stream per call). len must be a
// positive multiple of 32; in and out must not overlap. False otherwise or
// when the engine refuses.
bool EncipherRecord(const uint8_t* in, uint8_t* out, size_t len);
bool DecipherRecord(const uint8_t* in, uint8_t* out, size_t len);

// ---------------------------------------------------------------------------
// Encoding. The name, extra and comment lengths of the header are ignored and
// recomputed: the extra field is taken as given and padding zeros are
// appended to it (counted in m). BadArgument when a length does not fit its
// 16-bit field. "Plain" gives the bytes before enciphering; the other form
// gives the bytes as written to the file.
VaultStatus BuildLocalRecordPlain(const LocalRecord& record, std::vector<uint8_t>* out);
VaultStatus EncodeLocalRecord(const LocalRecord& record, std::vector<uint8_t>* out);
VaultStatus BuildCentralRecordPlain(const CentralRecord& record, std::vector<uint8_t>* out);
VaultStatus EncodeCentralRecord(const CentralRecord& record, std::vector<uint8_t>* out);

// The 22-byte end record (comment length written as 0, no comment) followed
// by 10 zero bytes.
std::array<uint8_t, kEndBlockSize> EncodeEndRecord(const EndRecord& record);
std::array<uint8_t, kDescriptorSize> EncodeDataDescriptor(const DataDescriptor& descriptor);

// ---------------------------------------------------------------------------
// Decoding from plain bytes. size is the number of bytes available at data;
// a fixed part or a variable part that does not fit gives Corrupt, and so
// does a wrong signature.
VaultStatus DecodeLocalHeader(const uint8_t* data, size_t size, LocalHeader* out);
VaultStatus DecodeLocalRecord(const uint8_t* data, size_t size, LocalRecord* out);
VaultStatus DecodeCentralHeader(const uint8_t* data, size_t size, CentralHeader* out);
VaultStatus DecodeCentralRecord(const uint8_t* data, size_t size, CentralRecord* out);
VaultStatus DecodeEndRecord(const uint8_t* data, size_t size, EndRecord* out);
VaultStatus DecodeDataDescriptor(const uint8_t* data, size_t size, DataDescriptor* out);

// Checks an end record found at file offset position: both disk numbers 0,
// both counts equal, directory offset + size not beyond position.
VaultStatus ValidateEndRecord(const EndRecord& record, uint64_t position);

// ---------------------------------------------------------------------------
// Extended timestamp extra field. Times are Unix seconds (UTC).
std::vector<uint8_t> BuildLocalTimestamp(uint32_t modification, uint32_t access, uint32_t creation);
std::vector<uint8_t> BuildCentralTimestamp(uint32_t modification);

struct ExtendedTimes {
    bool hasModification = false;
    bool hasAccess = false;
    bool hasCreation = false;
    uint32_t modification = 0;
    uint32_t access = 0;
    uint32_t creation = 0;
};

// Finds the first "UT" block of an extra field: walks from the start while at
// least 5 bytes remain; a block not tagged "UT" is skipped by 4 + the low byte
// of its data size. In the "UT" block the flags byte is followed by the
// modification, access and creation times whose flag bits are set, in that
// order; a time is taken only when its 4 bytes lie inside both the block's
// declared data and the extra field. Returns true when a "UT" block was found
// (out then holds whichever times it carried).
bool ParseExtendedTimestamp(const uint8_t* extra, size_t size, ExtendedTimes* out);

}  // namespace vault
