// What a selection expands to when it leaves the vault, and what a finished
// move takes out of it.
#include "document/TransferOut.h"

#include <algorithm>

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void ExpandPath(CVaultModel& model, const std::string& path, std::vector<std::string>* items,
                std::vector<std::string>* folders, bool mark) {
    const std::string wanted = ToSlashes(path);
    if (wanted.empty()) return;
    const bool isFolder = wanted.back() == '/';
    for (size_t i = 0; i < model.EntryCount(); ++i) {
        VaultEntry* e = model.EntryAt(i);
        if (e->mark) continue;
        const bool belongs = isFolder ? StartsWith(e->path, wanted) : e->path == wanted;
        if (!belongs) continue;
        if (mark) e->mark = 1;
        if (e->IsFolder() && folders) folders->push_back(e->path);
        if (items) items->push_back(e->path);
        if (e->IsFolder() && e->path != wanted && isFolder) {
            // The sub-folder's subtree follows it.
            ExpandPath(model, e->path, items, folders, mark);
        }
    }
}

std::string RelativeName(const std::string& storedPath, const std::string& currentFolder) {
    std::string name = ToBackslashes(storedPath);
    if (!currentFolder.empty() && StartsWith(name, currentFolder)) name.erase(0, currentFolder.size());
    if (!name.empty() && name.back() == '\\') name.pop_back();
    return name;
}

std::vector<TransferItem> CollectTransferItems(CVaultModel& model,
                                               const std::vector<std::string>& selection,
                                               std::vector<std::string>* cutFolders) {
    std::vector<TransferItem> out;
    model.ClearMarks();
    if (cutFolders) cutFolders->clear();
    const std::string& current = model.CurrentFolder();
    for (const std::string& selected : selection) {
        std::vector<std::string> paths;
        ExpandPath(model, selected, &paths, cutFolders, true);
        const std::string stored = ToSlashes(selected);
        if (!stored.empty() && stored.back() == '/' &&
            (paths.empty() || paths.front() != stored) && !model.GetEntry(stored, nullptr)) {
            // A folder shown for the entries under it only.
            TransferItem folder;
            folder.path = stored;
            folder.relativeName = RelativeName(stored, current);
            folder.attributes = kEntryFolder;
            out.push_back(folder);
        }
        for (const std::string& p : paths) {
            VaultEntry e;
            if (!model.GetEntry(p, &e)) continue;
            TransferItem item;
            item.path = p;
            item.relativeName = RelativeName(p, current);
            item.attributes = e.attributes;
            item.size = e.IsFolder() ? 0 : e.size;
            item.created = e.created;
            item.accessed = e.accessed;
            item.modified = e.modified;
            out.push_back(item);
        }
    }
    model.ClearMarks();
    return out;
}

size_t MarkMovedEntries(CVaultModel& model, const std::vector<std::string>& cutFolders,
                        const std::set<std::string>& moved) {
    model.ClearMarks();
    size_t marked = 0;
    // Files that stay, sorted: those under one folder are then neighbours.
    std::vector<std::string> staying;
    for (size_t i = 0; i < model.EntryCount(); ++i) {
        VaultEntry* e = model.EntryAt(i);
        if (e->IsFolder()) continue;
        if (moved.count(e->path)) {
            e->mark = 1;
            ++marked;
        } else {
            staying.push_back(e->path);
        }
    }
    std::sort(staying.begin(), staying.end());
    for (const std::string& cut : cutFolders) {
        const std::string folder = ToSlashes(cut);
        for (size_t i = 0; i < model.EntryCount(); ++i) {
            VaultEntry* f = model.EntryAt(i);
            if (f->mark || !f->IsFolder() || !StartsWith(f->path, folder)) continue;
            auto it = std::lower_bound(staying.begin(), staying.end(), f->path);
            if (it != staying.end() && StartsWith(*it, f->path)) continue;
            f->mark = 1;
            ++marked;
        }
    }
    return marked;
}
