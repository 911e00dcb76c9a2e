// Folder listings of the user's files for the add batch (Win32 and POSIX).
#include "document/SourceFolder.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#ifdef _WIN32
#include <windows.h>

#include "vault/fileio/WideText.h"
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool IsDriveRoot(const std::string& path) {
    return (path.size() == 2 || path.size() == 3) && path[1] == ':' &&
           (path.size() == 2 || fileio::IsSeparator(path[2]));
}

#ifdef _WIN32
FileTime FromFileTime(const FILETIME& ft) {
    return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
#endif

}  // namespace

std::string JoinSourcePath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (fileio::IsSeparator(folder.back())) return folder + name;
    return folder + fileio::Separator() + name;
}

std::string TrimSourcePath(const std::string& path) {
    std::string out = path;
    while (out.size() > 1 && fileio::IsSeparator(out.back()) && !IsDriveRoot(out)) out.pop_back();
    return out;
}

std::string SourceLeaf(const std::string& path) {
    const std::string trimmed = TrimSourcePath(path);
    if (IsDriveRoot(trimmed) || (trimmed.size() == 1 && fileio::IsSeparator(trimmed[0]))) {
        return std::string();
    }
    size_t start = trimmed.size();
    while (start > 0 && !fileio::IsSeparator(trimmed[start - 1])) --start;
    return trimmed.substr(start);
}

bool ListSourceFolder(const std::string& folder, std::vector<SourceItem>* items) {
    items->clear();
#ifdef _WIN32
    const std::string pattern = JoinSourcePath(folder, "*.*");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(fileio::Widen(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
        SourceItem item;
        item.name = fileio::Narrow(data.cFileName);
        const DWORD a = data.dwFileAttributes;
        item.folder = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
        item.folderLink = item.folder && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        item.info.attributes = a;
        item.info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        item.info.creationTime = FromFileTime(data.ftCreationTime);
        item.info.accessTime = FromFileTime(data.ftLastAccessTime);
        item.info.writeTime = FromFileTime(data.ftLastWriteTime);
        items->push_back(std::move(item));
    } while (FindNextFileW(find, &data));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    if (!complete) return false;
#else
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (struct dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        SourceItem item;
        item.name = d->d_name;
        const std::string path = JoinSourcePath(folder, item.name);
        struct stat own;
        if (::lstat(path.c_str(), &own) != 0) continue;  // gone meanwhile
        if (!fileio::GetInfo(path, &item.info)) {
            if (!S_ISLNK(own.st_mode)) continue;
            item.info = FileInfo();  // a dangling link: a file that cannot be opened
        }
        item.folder = (item.info.attributes & kAttrDirectory) != 0;
        item.folderLink = item.folder && S_ISLNK(own.st_mode);
        items->push_back(std::move(item));
    }
    ::closedir(dir);
#endif
    std::sort(items->begin(), items->end(),
              [](const SourceItem& x, const SourceItem& y) { return x.name < y.name; });
    return true;
}

bool RemoveEmptySourceFolder(const std::string& folder) {
#ifdef _WIN32
    return RemoveDirectoryW(fileio::Widen(folder).c_str()) != 0;
#else
    return ::rmdir(folder.c_str()) == 0;
#endif
}
