// POSIX side of the file layer.
#include "vault/fileio/FileIo.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace fileio {
bool WriteAllowed(size_t bytes);
bool ReadAllowed(const std::string& path, size_t bytes);
}

namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1970 in FILETIME ticks

FileTime FromTimespec(const struct timespec& ts) {
    int64_t ticks = static_cast<int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
    return static_cast<FileTime>(static_cast<int64_t>(kUnixEpochTicks) + ticks);
}

struct timespec ToTimespec(FileTime t) {
    int64_t ticks = static_cast<int64_t>(t) - static_cast<int64_t>(kUnixEpochTicks);
    struct timespec ts;
    int64_t sec = ticks / 10000000LL;
    int64_t rem = ticks % 10000000LL;
    if (rem < 0) { rem += 10000000LL; --sec; }
    ts.tv_sec = static_cast<time_t>(sec);
    ts.tv_nsec = static_cast<long>(rem * 100);
    return ts;
}

void FillInfo(const struct stat& st, FileInfo* info) {
    info->size = static_cast<uint64_t>(st.st_size);
    uint32_t attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= kAttrDirectory;
    // The owner cannot write: the Windows read-only bit.
    if (!(st.st_mode & S_IWUSR)) attr |= kAttrReadOnly;
    if (attr == 0) attr = kAttrArchive;
    info->attributes = attr;
    info->writeTime = FromTimespec(st.st_mtim);
    info->accessTime = FromTimespec(st.st_atim);
    // POSIX has no creation time; the status change time stands in.
    info->creationTime = FromTimespec(st.st_ctim);
    info->isDiskFile = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

int Fd(intptr_t h) { return static_cast<int>(h); }

}  // namespace

bool CFile::Open(const std::string& path, Mode mode) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read: flags |= O_RDONLY; break;
        case Mode::ReadWriteExisting: flags |= O_RDWR; break;
        case Mode::CreateWrite: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case Mode::CreateReadWrite: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case Mode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_handle = fd;
    m_path = path;
    return true;
}

void CFile::Close() {
    if (m_handle != kInvalid) {
        ::close(Fd(m_handle));
        m_handle = kInvalid;
    }
}

bool CFile::Read(void* buffer, size_t len, size_t* got) {
    *got = 0;
    if (!IsOpen() || !fileio::ReadAllowed(m_path, len)) return false;
    char* p = static_cast<char*>(buffer);
    while (*got < len) {
        ssize_t n = ::read(Fd(m_handle), p + *got, len - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        *got += static_cast<size_t>(n);
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
        ssize_t n = ::write(Fd(m_handle), p + done, len - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool CFile::Seek(uint64_t pos) {
    if (!IsOpen() || pos > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::lseek(Fd(m_handle), static_cast<off_t>(pos), SEEK_SET) >= 0;
}

bool CFile::Tell(uint64_t* pos) const {
    if (!IsOpen()) return false;
    off_t p = ::lseek(Fd(m_handle), 0, SEEK_CUR);
    if (p < 0) return false;
    *pos = static_cast<uint64_t>(p);
    return true;
}

bool CFile::Size(uint64_t* size) const {
    struct stat st;
    if (!IsOpen() || ::fstat(Fd(m_handle), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool CFile::Truncate(uint64_t size) {
    if (!IsOpen()) return false;
    if (!fileio::WriteAllowed(0)) return false;
    if (fileio::IoObserver* o = fileio::CurrentIoObserver()) {
        if (!o->BeforeTruncate(*this, size)) return false;
    }
    return ::ftruncate(Fd(m_handle), static_cast<off_t>(size)) == 0;
}

bool CFile::Flush() {
    if (!IsOpen() || (fileio::FlushToDisk() && ::fdatasync(Fd(m_handle)) != 0)) return false;
    if (fileio::IoObserver* o = fileio::CurrentIoObserver()) o->AfterFlush(*this);
    return true;
}

bool CFile::GetInfo(FileInfo* info) const {
    struct stat st;
    if (!IsOpen() || ::fstat(Fd(m_handle), &st) != 0) return false;
    FillInfo(st, info);
    return true;
}

bool CFile::SetTimes(FileTime creation, FileTime access, FileTime write) {
    (void)creation;  // POSIX cannot set it
    if (!IsOpen()) return false;
    struct timespec ts[2] = {ToTimespec(access), ToTimespec(write)};
    return ::futimens(Fd(m_handle), ts) == 0;
}

bool CFile::Duplicate(CFile* out) const {
    if (!IsOpen()) return false;
    int fd = ::dup(Fd(m_handle));
    if (fd < 0) return false;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    *out = CFile::Adopt(fd);
    return true;
}

namespace fileio {

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Remove(const std::string& path) {
    const bool ok = IsDirectory(path) ? ::rmdir(path.c_str()) == 0 : ::unlink(path.c_str()) == 0;
    if (ok && CurrentIoObserver()) CurrentIoObserver()->AfterRemove(path);
    return ok;
}

bool Rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The new name is on the disk only once its folder is.
    const size_t slash = to.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    const int dfd = FlushToDisk() ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    if (CurrentIoObserver()) CurrentIoObserver()->AfterRename(from, to);
    return true;
}

bool MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && IsDirectory(path);
}

bool GetInfo(const std::string& path, FileInfo* info) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    FillInfo(st, info);
    return true;
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly) mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else mode |= S_IWUSR;
    return ::chmod(path.c_str(), mode) == 0;
}

std::string TempFolder() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t) ? t : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string CurrentFolder() {
    char buf[4096];
    if (!::getcwd(buf, sizeof buf)) return std::string();
    return buf;
}

bool SetCurrentFolder(const std::string& path) { return ::chdir(path.c_str()) == 0; }

char Separator() { return '/'; }

FileTime CurrentTime() {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return FromTimespec(ts);
}

uint32_t TickCount() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
}

}  // namespace fileio
