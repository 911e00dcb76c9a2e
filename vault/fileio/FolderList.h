// Listing the plain files of one folder (no recursion), for the places that
// sweep a folder of their own clean.
#pragma once

#include <string>
#include <vector>

namespace fileio {

// Names (not paths) of the files directly in folder; folders, "." and ".."
// are left out. Empty when the folder cannot be read.
std::vector<std::string> ListFiles(const std::string& folder);

}  // namespace fileio
