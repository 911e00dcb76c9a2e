// Renaming an entry or a folder's subtree: the model's side of the view's
// label edit.
#include <map>

#include "document/DeleteJournal.h"
#include "document/EntryRename.h"
#include "document/VaultCompaction.h"
#include "document/VaultModel.h"

CVaultModel::RenameResult CVaultModel::RenameEntry(const std::string& storedPath, const std::string& newLeafName) {
    std::vector<std::string> paths;
    for (const auto& e : m_entries) paths.push_back(e->path);
    std::vector<std::pair<std::string, std::string>> renames;
    switch (renaming::PlanRename(paths, storedPath, newLeafName, &renames)) {
        case renaming::Check::Ok: break;
        case renaming::Check::NotFound: return RenameResult::NotFound;
        case renaming::Check::Unusable: return RenameResult::Unusable;
        case renaming::Check::Taken: return RenameResult::Taken;
    }
    if (renames.empty()) return RenameResult::Renamed;
    // The vault's records are picked by their stored bytes and flag, which
    // tell apart even names whose bytes did not decode.
    const std::map<std::string, std::string> byPath(renames.begin(), renames.end());
    std::map<std::pair<std::string, bool>, std::string> wanted;
    for (const auto& e : m_entries) {
        const auto it = byPath.find(e->path);
        if (it != byPath.end()) wanted[{e->storedName, e->nameUtf8}] = it->second;
    }

    WriteBatch batch(*this);
    compaction::Options options;
    options.journalPath = m_deleteJournalPath.empty() ? deljournal::DeleteJournalPathFor(m_journalPath)
                                                      : m_deleteJournalPath;
    options.pump = [this] { PumpMessages(); };
    compaction::Outcome out = compaction::RenameEntries(
        m_vaultPath,
        [&wanted](const std::string& name, bool utf8, compaction::NewName* to) {
            const auto it = wanted.find({name, utf8});
            if (it == wanted.end()) return false;
            const renaming::StoredName stored = renaming::StoredNameOf(it->second);
            to->bytes = stored.bytes;
            to->utf8 = stored.utf8;
            return true;
        },
        options);
    compaction::FinishFromJournal(m_vaultPath, options, &out);
    if (m_hooks.flush) m_hooks.flush();
    if (out.status != compaction::Status::Done) return RenameResult::Failed;

    // The list follows the vault: new names and new offsets.
    const std::map<std::string, std::string> renamed(out.renamed.begin(), out.renamed.end());
    const std::map<uint32_t, uint32_t> moved(out.moved.begin(), out.moved.end());
    for (auto& e : m_entries) {
        const auto name = renamed.find(e->path);
        if (name != renamed.end()) {
            e->path = name->second;
            vault::StoredName stored = renaming::StoredNameOf(e->path);
            e->storedName = std::move(stored.bytes);
            e->nameUtf8 = stored.utf8;
        }
        const auto offset = moved.find(e->localOffset);
        if (offset != moved.end()) e->localOffset = offset->second;
    }
    return RenameResult::Renamed;
}
