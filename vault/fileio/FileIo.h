// The small file/OS layer under the vault core. One implementation per
// platform (FileIo_posix.cpp, FileIo_win32.cpp); nothing above this header
// includes a platform header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Windows attribute bits, used on both sides (POSIX maps what it can).
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;

// 100 ns ticks since 1601-01-01 UTC, the Windows FILETIME as one number.
using FileTime = uint64_t;

struct FileInfo {
    uint32_t attributes = 0;   // Windows attribute bits
    uint64_t size = 0;
    FileTime creationTime = 0;
    FileTime accessTime = 0;
    FileTime writeTime = 0;
    bool isDiskFile = true;    // false for pipes, consoles and the like
};

// An open file. Move-only; closes itself.
class CFile {
public:
    enum class Mode {
        Read,               // existing file, read only, others may read
        ReadWriteExisting,  // existing file, read and write, no sharing
        CreateWrite,        // create or truncate, write only, no sharing
        CreateReadWrite,    // create or truncate, read and write, no sharing
        CreateNew,          // a new file only (fails when the name exists, even
                            // as a link), read and write, no sharing
    };

    CFile() = default;
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    CFile(CFile&& other) noexcept : m_handle(other.m_handle), m_path(std::move(other.m_path)) {
        other.m_handle = kInvalid;
    }
    CFile& operator=(CFile&& other) noexcept;

    bool Open(const std::string& path, Mode mode);
    bool IsOpen() const { return m_handle != kInvalid; }
    void Close();

    // Reads up to len bytes; *got receives the count (less than len only at
    // the end of the file). False on an I/O error.
    bool Read(void* buffer, size_t len, size_t* got);
    // Reads exactly len bytes at pos. False on error or when fewer are there.
    bool ReadAt(uint64_t pos, void* buffer, size_t len);
    // Writes all len bytes. False when the write fails or falls short.
    bool Write(const void* buffer, size_t len);
    bool Seek(uint64_t pos);
    bool Tell(uint64_t* pos) const;
    bool Size(uint64_t* size) const;
    bool Truncate(uint64_t size);
    bool Flush();
    bool GetInfo(FileInfo* info) const;
    bool SetTimes(FileTime creation, FileTime access, FileTime write);

    // A new handle to the same open file (its own position where the
    // platform allows). False when the platform refuses.
    bool Duplicate(CFile* out) const;

    // The platform handle: a file descriptor on POSIX, a HANDLE on Windows.
    intptr_t Native() const { return m_handle; }
    // Takes ownership of a platform handle.
    static CFile Adopt(intptr_t native);
    // The path the file was opened by (empty for an adopted handle).
    const std::string& Path() const { return m_path; }

private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t m_handle = kInvalid;
    std::string m_path;
};

namespace fileio {

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
bool Remove(const std::string& path);
// Replaces `to` when it exists. The rename itself is durable when this
// returns: the folder entry is flushed (POSIX) or written through (Windows).
bool Rename(const std::string& from, const std::string& to);
bool MakeDirectory(const std::string& path);   // one level; true if it exists
// Creates every missing folder of path (the last component too).
bool MakeDirectoryChain(const std::string& path);
bool GetInfo(const std::string& path, FileInfo* info);
bool SetAttributes(const std::string& path, uint32_t attributes);

// The temporary folder, with a trailing separator.
std::string TempFolder();
std::string CurrentFolder();
bool SetCurrentFolder(const std::string& path);

// Preferred separator of the platform: '\\' on Windows, '/' on POSIX.
char Separator();
bool IsSeparator(char c);

FileTime CurrentTime();       // now, UTC
uint32_t TickCount();         // milliseconds, monotonic, wraps

// Test hook: called before every CFile::Write with the number of bytes to
// write. Return true to let the write go on; false makes it fail without
// writing anything. Empty by default.
using WriteHook = std::function<bool(size_t bytes)>;
void SetWriteHook(WriteHook hook);

// Test hook: called before every CFile::Read with the file's path and the
// number of bytes asked for; false makes the read fail. Empty by default.
using ReadHook = std::function<bool(const std::string& path, size_t bytes)>;
void SetReadHook(ReadHook hook);

// Test hook for fault models that need to know what has reached the disk
// (a power cut drops what was not flushed). Told of every change to a file
// before it happens and of every flush after it. The write hook above runs
// first; an observer may throw to stop the caller at that point. Files opened
// for writing are always opened readable too, so an observer can read the
// bytes a write is about to replace through the same handle (ReadAt; it
// puts the position back). One observer at a time; null removes it.
class IoObserver {
public:
    virtual ~IoObserver() = default;
    // A write of bytes at pos; false makes it fail without writing anything.
    virtual bool BeforeWrite(CFile& file, uint64_t pos, size_t bytes) = 0;
    // The file is about to be cut (or extended) to size.
    virtual bool BeforeTruncate(CFile& file, uint64_t size) = 0;
    virtual void AfterFlush(CFile& file) = 0;
    virtual void AfterRename(const std::string& from, const std::string& to) = 0;
    virtual void AfterRemove(const std::string& path) = 0;
};
void SetIoObserver(IoObserver* observer);
IoObserver* CurrentIoObserver();
// True while a test's write hook or observer is installed: work that would
// otherwise overlap writes on two threads then does them one after another,
// so that the hooks see one order.
bool TestHooksInstalled();

// Test hook for fault-injection loops, whose disk is a fault model: with
// false, CFile::Flush and Rename do not wait for the disk (the observer is
// still told of the flush). True by default.
void SetFlushToDisk(bool on);
bool FlushToDisk();

}  // namespace fileio
