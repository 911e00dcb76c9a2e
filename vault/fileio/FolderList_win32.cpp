// Win32 side of the folder listing.
#include "vault/fileio/FolderList.h"

#include <windows.h>

#include "vault/fileio/WideText.h"

namespace fileio {

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += "*";
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(Widen(pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(Narrow(fd.cFileName));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

}  // namespace fileio
