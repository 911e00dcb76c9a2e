// Per-entry rules of the vault: entry names, the choice between stored and
// deflated data, the external attribute word and its mapping back to
// Windows attribute bits, and the recognition of program files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CFile;

namespace vault {

// External attribute words with fixed values.
constexpr uint32_t kExternalFolder = 0x41C00010;
constexpr uint32_t kExternalMemoryData = 0x80000000;

// Bits of the external attribute word.
constexpr uint32_t kExternalWindowsMask = 0x37;          // RO, hidden, system, dir, archive
constexpr uint32_t kExternalUnixFolder = 0x40000000;
constexpr uint32_t kExternalUnixFile = 0x80000000;
constexpr uint32_t kExternalOwnerRead = 0x01000000;
constexpr uint32_t kExternalOwnerWrite = 0x00800000;
constexpr uint32_t kExternalOwnerExecute = 0x00400000;

// The entry name as stored: every '\' turned into '/', and for a folder a
// trailing '/' when it has none. Length limits are the caller's (see
// kMaxNameLength in VaultRecords.h).
std::string NormalizeEntryName(const std::string& name, bool isFolder);

// True when the extension of name (the part from its last '.') is one of
// .Z .zip .zoo .arc .lzh .arj .gz .tgz, compared without regard to case.
// A name without '.' has no extension.
bool HasStoredExtension(const std::string& name);
// Method of a new entry: stored for a folder or a stored extension, else
// deflate.
uint16_t ChooseMethod(const std::string& name, bool isFolder);

// External attributes of a disk file or folder from its Windows attribute
// bits: the read-only, hidden, system, directory and archive bits in the low
// byte, the Unix type (folder or file), owner read, owner write unless
// read-only, owner execute for a recognised program.
uint32_t BuildExternalAttributes(uint32_t windowsAttributes, bool isDirectory, bool isProgram);

// Windows attribute bits of an entry from its external attributes: normal
// (0x80), or 0x90 for a folder (Unix folder bit or Windows directory bit);
// plus archive, hidden, system from the low byte; plus read-only when the
// low byte says so or the Unix owner-write bit is clear.
uint32_t WindowsAttributesFromExternal(uint32_t external);

// Program recognition over the first bytes of a file. head holds headSize
// bytes from offset 0 of a file of fileLength bytes. Recognised when the file
// is longer than 40 bytes, its first two bytes read 0x54AD (little-endian),
// the 16-bit value H at offset 36 has H + 52 < fileLength, and the 32-bit
// value at offset H is 0x5A4D, 0x454E, 0x454C or 0x4550. Bytes that head
// does not hold count as not matching.
constexpr size_t kProgramProbeSize = 0x10000 + 4;  // enough head for any H
bool LooksLikeProgram(const uint8_t* head, size_t headSize, uint64_t fileLength);

// The same check reading the file itself (at most 42 bytes, by position).
// The file position afterwards is unspecified; a read failure gives false.
bool IsProgramFile(CFile& file, uint64_t fileLength);

}  // namespace vault
