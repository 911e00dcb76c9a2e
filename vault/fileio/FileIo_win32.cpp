// Win32 side of the file layer: UTF-8 paths through the W functions.
#include "vault/fileio/FileIo.h"

#include <windows.h>

#include "vault/fileio/WideText.h"

namespace fileio {
bool WriteAllowed(size_t bytes);
bool ReadAllowed(const std::string& path, size_t bytes);
}

namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// A UTF-8 path as the W functions take it.
struct W {
    explicit W(const std::string& utf8) : wide(fileio::Widen(utf8)) {}
    operator const wchar_t*() const { return wide.c_str(); }
    std::wstring wide;
};

FileTime FromFt(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFt(FileTime t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

constexpr DWORD kChunk = 1u << 30;  // largest single ReadFile/WriteFile

}  // namespace

bool CFile::Open(const std::string& path, Mode mode) {
    Close();
    DWORD access = 0, share = 0, disposition = 0;
    switch (mode) {
        case Mode::Read:
            access = GENERIC_READ; share = FILE_SHARE_READ; disposition = OPEN_EXISTING; break;
        case Mode::ReadWriteExisting:
            access = GENERIC_READ | GENERIC_WRITE; disposition = OPEN_EXISTING; break;
        case Mode::CreateWrite:
            access = GENERIC_READ | GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
        case Mode::CreateReadWrite:
            access = GENERIC_READ | GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
        case Mode::CreateNew:
            access = GENERIC_READ | GENERIC_WRITE; disposition = CREATE_NEW; break;
    }
    HANDLE h = CreateFileW(W(path), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    m_handle = reinterpret_cast<intptr_t>(h);
    m_path = path;
    return true;
}

void CFile::Close() {
    if (m_handle != kInvalid) {
        CloseHandle(H(m_handle));
        m_handle = kInvalid;
    }
}

bool CFile::Read(void* buffer, size_t len, size_t* got) {
    *got = 0;
    if (!IsOpen() || !fileio::ReadAllowed(m_path, len)) return false;
    char* p = static_cast<char*>(buffer);
    while (*got < len) {
        DWORD want = static_cast<DWORD>(len - *got > kChunk ? kChunk : len - *got);
        DWORD n = 0;
        if (!ReadFile(H(m_handle), p + *got, want, &n, nullptr)) {
            return GetLastError() == ERROR_BROKEN_PIPE;  // end of a pipe
        }
        if (n == 0) break;
        *got += n;
    }
    return true;
}

bool CFile::Write(const void* buffer, size_t len) {
    if (!IsOpen()) return false;
    if (!fileio::WriteAllowed(len)) return false;
    if (fileio::IoObserver* o = fileio::CurrentIoObserver()) {
        uint64_t pos = 0;
        if (!Tell(&pos) || !o->BeforeWrite(*this, pos, len)) return false;
    }
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < len) {
        DWORD want = static_cast<DWORD>(len - done > kChunk ? kChunk : len - done);
        DWORD n = 0;
        if (!WriteFile(H(m_handle), p + done, want, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

bool CFile::Seek(uint64_t pos) {
    if (!IsOpen()) return false;
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(pos);
    return SetFilePointerEx(H(m_handle), li, nullptr, FILE_BEGIN) != 0;
}

bool CFile::Tell(uint64_t* pos) const {
    if (!IsOpen()) return false;
    LARGE_INTEGER zero, now;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(H(m_handle), zero, &now, FILE_CURRENT)) return false;
    *pos = static_cast<uint64_t>(now.QuadPart);
    return true;
}

bool CFile::Size(uint64_t* size) const {
    LARGE_INTEGER li;
    if (!IsOpen() || !GetFileSizeEx(H(m_handle), &li)) return false;
    *size = static_cast<uint64_t>(li.QuadPart);
    return true;
}

bool CFile::Truncate(uint64_t size) {
    if (!IsOpen()) return false;
    if (!fileio::WriteAllowed(0)) return false;
    if (fileio::IoObserver* o = fileio::CurrentIoObserver()) {
        if (!o->BeforeTruncate(*this, size)) return false;
    }
    uint64_t here = 0;
    if (!Tell(&here) || !Seek(size)) return false;
    bool ok = SetEndOfFile(H(m_handle)) != 0;
    Seek(here < size ? here : size);
    return ok;
}

bool CFile::Flush() {
    if (!IsOpen() || (fileio::FlushToDisk() && !FlushFileBuffers(H(m_handle)))) return false;
    if (fileio::IoObserver* o = fileio::CurrentIoObserver()) o->AfterFlush(*this);
    return true;
}

bool CFile::GetInfo(FileInfo* info) const {
    if (!IsOpen()) return false;
    BY_HANDLE_FILE_INFORMATION bi;
    if (GetFileType(H(m_handle)) != FILE_TYPE_DISK) {
        *info = FileInfo();
        info->isDiskFile = false;
        return true;
    }
    if (!GetFileInformationByHandle(H(m_handle), &bi)) return false;
    info->attributes = bi.dwFileAttributes;
    info->size = (static_cast<uint64_t>(bi.nFileSizeHigh) << 32) | bi.nFileSizeLow;
    info->creationTime = FromFt(bi.ftCreationTime);
    info->accessTime = FromFt(bi.ftLastAccessTime);
    info->writeTime = FromFt(bi.ftLastWriteTime);
    info->isDiskFile = true;
    return true;
}

bool CFile::SetTimes(FileTime creation, FileTime access, FileTime write) {
    if (!IsOpen()) return false;
    FILETIME c = ToFt(creation), a = ToFt(access), w = ToFt(write);
    return SetFileTime(H(m_handle), &c, &a, &w) != 0;
}

bool CFile::Duplicate(CFile* out) const {
    if (!IsOpen()) return false;
    HANDLE dup = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), H(m_handle), GetCurrentProcess(), &dup, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return false;
    *out = CFile::Adopt(reinterpret_cast<intptr_t>(dup));
    return true;
}

namespace fileio {

bool Exists(const std::string& path) {
    return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
    DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Remove(const std::string& path) {
    const bool ok = IsDirectory(path) ? RemoveDirectoryW(W(path)) != 0
                                      : DeleteFileW(W(path)) != 0;
    if (ok && CurrentIoObserver()) CurrentIoObserver()->AfterRemove(path);
    return ok;
}

bool Rename(const std::string& from, const std::string& to) {
    if (!MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
    if (CurrentIoObserver()) CurrentIoObserver()->AfterRename(from, to);
    return true;
}

bool MakeDirectory(const std::string& path) {
    if (CreateDirectoryW(W(path), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

bool GetInfo(const std::string& path, FileInfo* info) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &d)) return false;
    info->attributes = d.dwFileAttributes;
    info->size = (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    info->creationTime = FromFt(d.ftCreationTime);
    info->accessTime = FromFt(d.ftLastAccessTime);
    info->writeTime = FromFt(d.ftLastWriteTime);
    info->isDiskFile = true;
    return true;
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    return SetFileAttributesW(W(path), attributes ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

std::string TempFolder() {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return "C:\\";
    std::string dir = Narrow(std::wstring(buf, n));
    if (dir.back() != '\\') dir += '\\';
    return dir;
}

std::string CurrentFolder() {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return std::string();
    return Narrow(std::wstring(buf, n));
}

bool SetCurrentFolder(const std::string& path) { return SetCurrentDirectoryW(W(path)) != 0; }

char Separator() { return '\\'; }

FileTime CurrentTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return FromFt(ft);
}

uint32_t TickCount() { return GetTickCount(); }

}  // namespace fileio
