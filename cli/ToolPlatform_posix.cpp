// POSIX side of the tool's platform services.
#include "cli/ToolPlatform.h"

#include <iostream>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "document/VaultRecovery.h"
#include "vault/fileio/FileIo.h"

namespace hbcli {

namespace {

NodeKind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return NodeKind::File;
    if (S_ISDIR(st.st_mode)) return NodeKind::Folder;
    return NodeKind::Other;
}

}  // namespace

bool ListFolder(const std::string& path, std::vector<FolderItem>* items) {
    items->clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    std::string base = path;
    if (!base.empty() && base.back() != '/') base += '/';
    while (struct dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        FolderItem item;
        item.name = d->d_name;
        struct stat st;
        std::string full = base + item.name;
        if (::lstat(full.c_str(), &st) != 0) {
            item.kind = NodeKind::Other;
        } else if (S_ISLNK(st.st_mode)) {
            struct stat target;
            if (::stat(full.c_str(), &target) != 0) item.kind = NodeKind::Other;
            else if (S_ISDIR(target.st_mode)) item.kind = NodeKind::FolderLink;
            else item.kind = KindOf(target);
        } else {
            item.kind = KindOf(st);
        }
        items->push_back(std::move(item));
    }
    ::closedir(dir);
    return true;
}

bool ClassifyPath(const std::string& path, NodeKind* kind) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    *kind = KindOf(st);
    return true;
}

PathState InspectNoFollow(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? PathState::Missing : PathState::Other;
    if (S_ISLNK(st.st_mode)) return PathState::Link;
    if (S_ISREG(st.st_mode)) return PathState::File;
    if (S_ISDIR(st.st_mode)) return PathState::Folder;
    return PathState::Other;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string FullPath(const std::string& path) {
    std::string whole = path;
    if (whole.empty() || whole[0] != '/') whole = fileio::CurrentFolder() + "/" + whole;
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= whole.size()) {
        size_t j = whole.find('/', i);
        if (j == std::string::npos) j = whole.size();
        std::string part = whole.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

bool PrivateFolder(const std::string& base, std::string* folder, std::string* why) {
    std::string dir = base;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    dir += "/hollowbox-" + std::to_string(static_cast<unsigned long>(::getuid()));
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *why = dir + ": " + std::strerror(errno);
        return false;
    }
    // Opened without following a link, then judged by what was opened.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = dir + ": not a folder of its own (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
    if (ok && (st.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    if (!ok) {
        *why = dir + ": belongs to another user or cannot be made private";
        return false;
    }
    *folder = dir + "/";
    return true;
}

bool DefaultJournalPath(std::string* path, std::string* why) {
    const char* t = std::getenv("TMPDIR");
    if (t && *t) {
        *path = AddJournalPath();
        return true;
    }
    std::string folder;
    if (!PrivateFolder("/tmp", &folder, why)) return false;
    *path = folder + kAddJournalName;
    return true;
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void SetStdoutBinary() {}

std::ostream& ToolStdout() { return std::cout; }
std::ostream& ToolStderr() { return std::cerr; }

}  // namespace hbcli
