// The vault reader and writer as the rest of the program sees them: open a
// vault for listing and unpacking, or for adding entries, through one kind of
// handle, with numeric result codes and their texts.
#pragma once

#include <cstdint>
#include <string>

#include "vault/fileio/FileIo.h"
#include "vault/format/NameCodec.h"

// Result codes shared by reader and writer.
enum : uint32_t {
    kVaultOk = 0,
    kVaultNoDuplicate = 0x100,       // handle could not be duplicated
    kVaultNoFile = 0x200,            // file not opened or created
    kVaultNoMemory = 0x300,
    kVaultWriteError = 0x400,
    kVaultNotFound = 0x500,
    kVaultMoreData = 0x600,
    kVaultCorrupt = 0x700,
    kVaultReadError = 0x800,
    kVaultBadArguments = 0x10000,
    kVaultNotMemory = 0x20000,
    kVaultMemorySize = 0x30000,
    kVaultPreviousError = 0x40000,
    kVaultEnded = 0x50000,
    kVaultWrongSize = 0x60000,
    kVaultPartlyUnpacked = 0x70000,
    kVaultWrongKind = 0x80000,       // reader handle given to the writer or the other way
    // The writer refuses, before writing anything, an entry that the vault
    // cannot hold: a source of 4 GiB or more, an add that would put an offset
    // or the directory past 4 GiB, or a 65,536th entry.
    kVaultTooLarge = 0x90000,
    kVaultNotInitialised = 0x1000000,
    kVaultSeekError = 0x2000000,
    kVaultChangedMind = 0x4000000,
    kVaultFlateError = 0x5000000,
};

// Source and target types of OpenVaultReader / OpenVaultWriter / AddVaultEntry.
enum : int {
    kVaultSourceHandle = 1,   // source points to an open CFile (duplicated)
    kVaultSourcePath = 2,     // source is a NUL-terminated path
    kVaultSourceMemory = 3,   // source is a memory block of the given length
    kVaultSourceFolder = 4,   // AddVaultEntry only: a folder, no data
};

// Kinds of ExtractEntry.
enum : int {
    kExtractToStream = 1,     // target points to an open, writable CFile
    kExtractToUniqueFile = 2, // target is the entry's name; a new "qv%u.%s" file
    kExtractToMemory = 3,     // target is a buffer of targetLength bytes
};

// The description of one entry handed out by ReadEntryInfo.
struct ZipEntryInfo {
    int index = 0;                 // for index -1 requests: the entry count
    // The name in UTF-8, with "/" (decoded from the stored bytes: UTF-8 when
    // nameUtf8, else the name code page; bytes that do not convert are
    // U+FFFD). Empty, like storedName, when the stored name is 260 bytes or
    // longer.
    std::string name;
    std::string storedName;        // the name's bytes as the vault holds them
    bool nameUtf8 = false;         // general-purpose flag bit 11
    uint32_t attributes = 0;       // Windows attribute bits
    FileTime accessTime = 0;
    FileTime creationTime = 0;
    FileTime modificationTime = 0;
    int32_t compressedSize = 0;
    int32_t uncompressedSize = 0;
    uint32_t localOffset = 0;      // absolute offset of the local record
};

struct VaultHandle;  // opaque; kind 1 = reader, kind 2 = writer

// Reader.
VaultHandle* OpenVaultReader(const void* source, uint32_t sourceLength, int sourceType,
                             const char* workingFolder);
uint32_t ReadEntryInfo(VaultHandle* handle, int index, ZipEntryInfo* info);
// Kinds 1 and 2: 0x400 when the data cannot be read or inflated or the target
// cannot be written, 0x700 when the data does not match its CRC-32; kind 2
// refuses (0x10000) a name that would leave the root folder.
uint32_t ExtractEntry(VaultHandle* handle, int index, const void* target, uint32_t targetLength,
                      int kind, std::string* outPath);
bool IsReaderHandle(const VaultHandle* handle);
// Text of a result code; code 1 means the reader's last result. Returns the
// text's length; copies at most length - 1 characters and a terminator.
int FormatVaultResult(uint32_t code, char* buffer, int length);

// Writer.
VaultHandle* OpenVaultWriter(const void* target, uint32_t targetLength, int targetType,
                             const char* journalPath);
// name is UTF-8 ('\\' or '/'); the writer stores it through
// EncodeEntryName, and the 259-byte limit counts the stored bytes. A name
// that is not valid UTF-8 gives 0x10000.
uint32_t AddVaultEntry(VaultHandle* handle, const char* name, const void* source,
                       uint32_t sourceLength, int sourceType, uint32_t* outAttributes,
                       uint32_t* outLocalOffset, uint32_t* outCompressedSize,
                       uint32_t* outUncompressedSize);
// The same with the name's stored form given (to store an entry again under
// exactly the bytes it had, whatever the name code page).
uint32_t AddVaultEntryStored(VaultHandle* handle, const vault::StoredName& name, const void* source,
                             uint32_t sourceLength, int sourceType, uint32_t* outAttributes,
                             uint32_t* outLocalOffset, uint32_t* outCompressedSize,
                             uint32_t* outUncompressedSize);
// The writer's copy: code 1 means the writer's last result.
int FormatVaultWriterResult(uint32_t code, char* buffer, int length);

// Either kind: ends a writer's vault (directory, end record) and frees the
// handle (also when an exception passes through). The add journal may be
// deleted only after a writer's close returned 0; otherwise it is what
// RecoverVault repairs the vault from.
uint32_t CloseVaultHandle(VaultHandle* handle);

// Called by the writer before every header and data write, so the program
// can keep its windows responsive. The core itself knows nothing of windows.
using VaultMessagePump = void (*)();
void SetVaultMessagePump(VaultMessagePump pump);
