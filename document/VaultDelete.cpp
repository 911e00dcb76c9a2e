// Deleting marked entries from the vault: the model's side of the Delete
// command and of replacing an entry's content.
#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "document/DeleteJournal.h"
#include "document/VaultCompaction.h"
#include "document/VaultModel.h"

namespace {

bool BeginsWithNoCase(const std::string& path, const std::string& upperPrefix) {
    return path.size() >= upperPrefix.size() &&
           UpperCaseName(path.substr(0, upperPrefix.size())) == upperPrefix;
}

}  // namespace

int CVaultModel::DelZipFromFile(bool withList) {
    if (withList) {
        // Each file is shown before it goes; once the user cancels, the
        // entries not shown yet stay.
        bool stopped = false;
        for (auto& e : m_entries) {
            if (!e->mark) continue;
            if (!stopped && m_hooks.cancelled && m_hooks.cancelled()) stopped = true;
            if (stopped) {
                e->mark = 0;
                continue;
            }
            if (e->IsFolder()) continue;
            PumpMessages();
            if (m_hooks.progressText) m_hooks.progressText(ToBackslashes(e->path), 26, std::string());
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            PumpMessages();
        }
        // A folder goes only together with everything below it.
        if (stopped) {
            for (auto& folder : m_entries) {
                if (!folder->mark || !folder->IsFolder()) continue;
                const std::string prefix = UpperCaseName(folder->path);
                for (const auto& e : m_entries) {
                    if (!e->mark && BeginsWithNoCase(e->path, prefix)) {
                        folder->mark = 0;
                        break;
                    }
                }
            }
        }
    }

    WriteBatch batch(*this);
    if (m_hooks.progressText) m_hooks.progressText(std::string(), 27, std::string());

    std::set<std::string> marked;
    for (const auto& e : m_entries)
        if (e->mark) marked.insert(EntryMatchKey(e->storedName, e->nameUtf8));

    compaction::Options options;
    options.journalPath = m_deleteJournalPath.empty() ? deljournal::DeleteJournalPathFor(m_journalPath)
                                                      : m_deleteJournalPath;
    options.pump = [this] { PumpMessages(); };
    compaction::Outcome out = compaction::CompactVault(
        m_vaultPath,
        compaction::NameSelector([&marked](const std::string& name, bool utf8) {
            return marked.count(EntryMatchKey(name, utf8)) != 0;
        }),
        options);
    compaction::FinishFromJournal(m_vaultPath, options, &out);
    if (m_hooks.flush) m_hooks.flush();
    if (out.status != compaction::Status::Done) return static_cast<int>(out.entriesBefore);

    // The list follows the vault: new offsets, and with withList no deleted entry.
    const std::map<uint32_t, uint32_t> moved(out.moved.begin(), out.moved.end());
    for (auto& e : m_entries) {
        const auto it = moved.find(e->localOffset);
        if (it != moved.end()) e->localOffset = it->second;
    }
    if (withList) {
        std::set<std::string> gone;
        for (size_t i = 0; i < out.deleted.size(); ++i)
            gone.insert(EntryMatchKey(out.deleted[i], out.deletedUtf8[i]));
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [&gone](const std::unique_ptr<VaultEntry>& e) {
                                           return gone.count(EntryMatchKey(e->storedName, e->nameUtf8)) != 0;
                                       }),
                        m_entries.end());
    }
    return static_cast<int>(out.entriesKept);
}
