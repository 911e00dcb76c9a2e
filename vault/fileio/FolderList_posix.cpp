// POSIX side of the folder listing.
#include "vault/fileio/FolderList.h"

#include <dirent.h>
#include <sys/stat.h>

namespace fileio {

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    while (const struct dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        // lstat: a link is listed as what it is, never followed.
        if (::lstat((base + name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace fileio
