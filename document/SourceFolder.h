// Reading the user's files and folders that go into the vault: folder
// listings with sizes, attributes and times, path pieces, and removing the
// folders a move has emptied. Portable; one implementation per platform in
// SourceFolder.cpp.
#pragma once

#include <string>
#include <vector>

#include "vault/fileio/FileIo.h"

struct SourceItem {
    std::string name;   // leaf name only
    FileInfo info;      // attributes, size and the three times from the listing
    bool folder = false;
    // A symbolic link or junction to a folder: never followed, since it can
    // lead back up the tree.
    bool folderLink = false;
};

// The items of a folder, "." and ".." left out, sorted by name (bytes) so
// that a batch stores them in the same order on every platform. False when
// the folder cannot be read.
bool ListSourceFolder(const std::string& folder, std::vector<SourceItem>* items);

// folder + separator + name (no second separator when folder ends in one).
std::string JoinSourcePath(const std::string& folder, const std::string& name);

// The path without trailing separators, except that a drive root ("E:\") or
// "/" keeps its own.
std::string TrimSourcePath(const std::string& path);

// The last component of a trimmed path; empty for a drive root or "/".
std::string SourceLeaf(const std::string& path);

// Removes a folder when it is empty; false otherwise.
bool RemoveEmptySourceFolder(const std::string& folder);
