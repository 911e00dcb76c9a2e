// Taking entries out of the vault, the portable half: what a selection
// expands to, the names the items carry relative to the current folder, and
// which entries a finished move takes out of the vault.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "document/VaultModel.h"

// Adds the entries that belong to path (either separator) to items and, for
// folder entries, to folders, in entry-list order; entries already marked
// are passed over, and with mark set every entry taken is marked. A file
// path takes only the entry of exactly that path (a.txt never takes
// a.txt.bak); a folder path (ending in a separator) takes every entry whose
// path begins with it, its own entry included, and a sub-folder's subtree
// right after the sub-folder. Both lists may be null. Paths come out in
// stored ('/') form. Without mark an entry under a sub-folder can come out
// twice; callers that collect lists mark.
void ExpandPath(CVaultModel& model, const std::string& path, std::vector<std::string>* items,
                std::vector<std::string>* folders, bool mark);

// The name of a stored path relative to the current folder ('\' form, may
// be empty): the folder taken off its front, a trailing separator dropped,
// '/' turned into '\'. A path outside the current folder keeps all of it.
std::string RelativeName(const std::string& storedPath, const std::string& currentFolder);

// One item of a data object: a file or a folder with what its descriptor
// holds.
struct TransferItem {
    std::string path;          // stored ('/') form; folders end with '/'
    std::string relativeName;  // '\' between parts, no trailing '\'
    uint32_t attributes = 0;   // kEntryFolder for folders
    uint32_t size = 0;
    FileTime created = 0;
    FileTime accessed = 0;
    FileTime modified = 0;

    bool IsFolder() const { return (attributes & kEntryFolder) != 0; }
};

// The items of a selection ('\' paths, folders with a trailing '\', as the
// view collects them), in order, each looked up exactly; the folder items go
// to *cutFolders as well (may be null). A selected folder that the vault
// holds entries under but no entry of its own comes out as a folder item
// without times, so that the receiver makes the folder. Marks are cleared
// before and after.
std::vector<TransferItem> CollectTransferItems(CVaultModel& model,
                                               const std::vector<std::string>& selection,
                                               std::vector<std::string>* cutFolders);

// Marks what a reported move takes out of the vault and returns how many
// entries are marked: every moved path (stored form, exactly), and every
// folder entry under a cut folder whose files were all moved. A file that
// was never handed over in full (a paste stopped half-way, or a file added
// under the folder after the Cut) keeps itself and the folders above it.
size_t MarkMovedEntries(CVaultModel& model, const std::vector<std::string>& cutFolders,
                        const std::set<std::string>& moved);
