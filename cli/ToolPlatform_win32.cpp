// Windows side of the tool's platform services (ANSI calls, like the file
// layer underneath).
#include "cli/ToolPlatform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "document/VaultRecovery.h"

namespace hbcli {

namespace {

NodeKind KindOfAttributes(DWORD a) {
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        // Junctions and directory links could lead back up the tree.
        return (a & FILE_ATTRIBUTE_REPARSE_POINT) ? NodeKind::FolderLink : NodeKind::Folder;
    }
    if (a & FILE_ATTRIBUTE_DEVICE) return NodeKind::Other;
    return NodeKind::File;
}

}  // namespace

bool ListFolder(const std::string& path, std::vector<FolderItem>* items) {
    items->clear();
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
        FolderItem item;
        item.name = data.cFileName;
        item.kind = KindOfAttributes(data.dwFileAttributes);
        items->push_back(std::move(item));
    } while (FindNextFileA(find, &data));
    bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
}

bool ClassifyPath(const std::string& path, NodeKind* kind) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? NodeKind::Folder : KindOfAttributes(a);
    return true;
}

PathState InspectNoFollow(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? PathState::Missing
                                                                       : PathState::Other;
    }
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return PathState::Link;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return PathState::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return PathState::Other;
    return PathState::File;
}

bool SameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& p, BY_HANDLE_FILE_INFORMATION* info) {
        HANDLE h = CreateFileA(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        bool ok = GetFileInformationByHandle(h, info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!identity(a, &ia) || !identity(b, &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

std::string FullPath(const std::string& path) {
    char buf[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
    if (n == 0 || n >= sizeof buf) return path;
    return std::string(buf, n);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void SetStdoutBinary() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

// The temporary folder of a Windows user is that user's own already.
bool PrivateFolder(const std::string& base, std::string* folder, std::string*) {
    *folder = base;
    if (!folder->empty() && folder->back() != '\\' && folder->back() != '/') *folder += '\\';
    return true;
}

bool DefaultJournalPath(std::string* path, std::string*) {
    *path = AddJournalPath();
    return true;
}

}  // namespace hbcli
