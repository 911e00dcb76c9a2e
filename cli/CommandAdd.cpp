// hollowbox-vault add: files and folder trees into a vault, guarded by the add journal.
#include <algorithm>

#include "cli/ToolCommon.h"
#include "cli/ToolPlatform.h"
#include "document/AddJournal.h"
#include "document/DeleteJournal.h"
#include "document/VaultCompaction.h"
#include "document/VaultRecovery.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"
#include "vault/threads/ThreadPool.h"
#include "vault/writer/EntryPrefetch.h"

namespace hbcli {
namespace {

// The writer is closed and opened again after this many entries or bytes,
// so an add that is killed loses at most the entries of one round.
constexpr size_t kEntriesPerRound = 1024;
constexpr uint64_t kBytesPerRound = 64ull * 1024 * 1024;

struct AddItem {
    std::string source;   // path on disk
    std::string name;     // entry name, "/" separated, folders without trailing "/"
    bool folder = false;
    uint64_t size = 0;
};

class AddPlanner {
public:
    AddPlanner(Session& s, const std::string& vaultPath, const std::string& journalPath)
        : m_s(s), m_vault(vaultPath), m_journal(journalPath) {
        m_vaultLeaf = UpperAscii(Leaf(hbcli::FullPath(vaultPath)));
        m_journalLeaf = UpperAscii(Leaf(hbcli::FullPath(journalPath)));
    }

    void AddPath(const std::string& given) {
        std::string path = given;
        while (path.size() > 1 && fileio::IsSeparator(path.back()) &&
               !(path.size() == 3 && path[1] == ':'))
            path.pop_back();
        hbcli::NodeKind kind;
        if (!hbcli::ClassifyPath(path, &kind)) {
            m_s.Error(given + ": cannot be read (no such file or folder); skipped");
            return;
        }
        std::string leaf = Leaf(hbcli::FullPath(path));
        if (kind == hbcli::NodeKind::Folder) {
            if (leaf.empty()) {
                WalkFolder(path, "");  // a root: its contents at the top of the vault
            } else {
                WalkFolder(path, leaf);
            }
        } else if (kind == hbcli::NodeKind::File) {
            AddFile(path, leaf);
        } else {
            m_s.Error(given + ": not a regular file or folder; skipped");
        }
    }

    std::vector<AddItem>& Items() { return m_items; }

private:
    static std::string Leaf(const std::string& full) {
        size_t end = full.size();
        while (end > 0 && fileio::IsSeparator(full[end - 1])) --end;
        size_t start = end;
        while (start > 0 && !fileio::IsSeparator(full[start - 1])) --start;
        std::string leaf = full.substr(start, end - start);
        if (leaf.size() == 2 && leaf[1] == ':') return std::string();  // a drive root
        return leaf;
    }

    bool IsOwnFile(const std::string& path, const std::string& leaf) {
        std::string upper = UpperAscii(leaf);
        return (upper == m_vaultLeaf && hbcli::SameFile(path, m_vault)) ||
               (upper == m_journalLeaf && hbcli::SameFile(path, m_journal));
    }

    void AddFile(const std::string& path, const std::string& name) {
        if (IsOwnFile(path, Leaf(path))) {
            m_s.Note(path + ": the vault (or its journal) itself; skipped");
            return;
        }
        FileInfo info;
        if (!fileio::GetInfo(path, &info)) {
            m_s.Error(path + ": cannot be read; skipped");
            return;
        }
        if (info.size >= kVaultSizeLimit) {
            m_s.Error(path + ": 4 GiB or larger, more than a vault entry can hold; skipped");
            return;
        }
        AddItem item;
        item.source = path;
        item.name = name;
        item.size = info.size;
        m_items.push_back(std::move(item));
    }

    void WalkFolder(const std::string& path, const std::string& name) {
        std::vector<hbcli::FolderItem> children;
        if (!hbcli::ListFolder(path, &children)) {
            m_s.Error(path + ": folder cannot be read; skipped");
            return;
        }
        if (!name.empty()) {
            AddItem item;
            item.source = path;
            item.name = name;
            item.folder = true;
            m_items.push_back(std::move(item));
        }
        std::sort(children.begin(), children.end(),
                  [](const hbcli::FolderItem& x, const hbcli::FolderItem& y) { return x.name < y.name; });
        std::string base = path;
        if (!fileio::IsSeparator(base.back())) base += fileio::Separator();
        for (const hbcli::FolderItem& c : children) {
            std::string childPath = base + c.name;
            std::string childName = name.empty() ? c.name : name + "/" + c.name;
            switch (c.kind) {
                case hbcli::NodeKind::File: AddFile(childPath, childName); break;
                case hbcli::NodeKind::Folder: WalkFolder(childPath, childName); break;
                case hbcli::NodeKind::FolderLink:
                    m_s.Note(childPath + ": link to a folder, not followed; skipped");
                    break;
                case hbcli::NodeKind::Other:
                    m_s.Error(childPath + ": not a regular file or folder; skipped");
                    break;
            }
        }
    }

    Session& m_s;
    std::string m_vault, m_journal, m_vaultLeaf, m_journalLeaf;
    std::vector<AddItem> m_items;
};

class VaultAppender {
public:
    VaultAppender(Session& s, const std::string& vault, const std::string& journal,
                  vault::EntryPrefetcher* prefetch)
        : m_s(s), m_vault(vault), m_journal(journal), m_prefetch(prefetch) {}
    ~VaultAppender() { Finish(); }

    bool Open() {
        m_journalBefore = fileio::Exists(m_journal);
        m_writer = OpenVaultWriter(m_vault.c_str(), 0, kVaultSourcePath, m_journal.c_str());
        if (!m_writer) {
            m_s.Error(m_vault + ": " + WriterText(1));
            return false;
        }
        vault::AttachPrefetcher(m_writer, m_prefetch);
        m_roundEntries = 0;
        m_roundBytes = 0;
        return true;
    }

    // Ends the vault (directory written) and removes the journal, as the
    // program does after each add. On failure the journal stays for recovery.
    bool Finish() {
        if (!m_writer) return true;
        VaultHandle* writer = m_writer;
        m_writer = nullptr;  // the handle is gone after the close, whatever happens in it
        uint32_t rc = CloseVaultHandle(writer);
        if (rc != kVaultOk) {
            m_s.Error(m_vault + ": the directory could not be written: " + WriterText(rc) +
                      "; the journal " + m_journal + " is kept for \"recover\"");
            return false;
        }
        // A journal that was there before the writer opened (a new vault is
        // built without touching it) goes only when it is this vault's and no
        // longer needed.
        if (!m_journalBefore ||
            journal::DecideJournal(m_vault, m_journal).action == journal::JournalAction::Discard)
            fileio::Remove(m_journal);
        return true;
    }

    // Adds one entry; false only when the writer can take no more.
    bool Add(const AddItem& item, bool* added) {
        *added = false;
        if (m_roundEntries >= kEntriesPerRound || m_roundBytes >= kBytesPerRound) {
            if (!Finish() || !Open()) return false;
        }
        uint32_t attrs = 0, offset = 0, packed = 0, size = 0;
        uint32_t rc = AddVaultEntry(m_writer, item.name.c_str(), item.folder ? nullptr : item.source.c_str(), 0,
                                    item.folder ? kVaultSourceFolder : kVaultSourcePath, &attrs, &offset,
                                    &packed, &size);
        ++m_roundEntries;
        m_roundBytes += item.size;
        if (rc == kVaultOk) {
            *added = true;
            return true;
        }
        m_s.Error(item.source + ": not added as " + Quoted(item.name) + ": " + WriterText(rc));
        return rc != kVaultPreviousError && rc != kVaultSeekError && rc != kVaultEnded;
    }

private:
    Session& m_s;
    std::string m_vault, m_journal;
    VaultHandle* m_writer = nullptr;
    vault::EntryPrefetcher* m_prefetch;
    bool m_journalBefore = false;
    size_t m_roundEntries = 0;
    uint64_t m_roundBytes = 0;
};
// What the vault holds under one name (upper case, no trailing "/").
struct Present {
    std::string stored;   // the last entry's stored name
    bool folder = false;
    FileTime modified = 0;
    size_t copies = 0;    // more than one: a replace that was stopped halfway
};

// Whole seconds: the vault keeps no finer times.
uint64_t Seconds(FileTime t) { return t / 10000000u; }

// Replacing is done as add-then-delete: the new copies are appended first
// (under the add journal), then the older copies of those names go in one
// compaction (under the delete journal). A stop between the two leaves both
// copies, never neither; running the same command again finishes the job.
// names: upper-case names, of which every copy but the last goes.
bool DropOlderCopies(Session& s, const std::string& vaultPath, const std::string& journalPath,
                     const std::set<std::string>& names) {
    if (names.empty()) return true;
    std::vector<vault::StoredName> stored;
    if (!compaction::ReadStoredNames(vaultPath, &stored)) {
        s.Error(vaultPath + ": the directory cannot be read; the replaced entries' older copies stay");
        return false;
    }
    std::map<std::string, size_t> left;  // copies of each name still to be passed
    for (const vault::StoredName& n : stored) {
        const std::string key = FoldName(RequestedName(vault::DecodeEntryName(n.bytes, n.utf8)));
        if (names.count(key)) ++left[key];
    }
    compaction::Options options;
    options.journalPath = deljournal::DeleteJournalPathFor(journalPath);
    options.pump = [&s] { s.Progress("removing the replaced copies..."); };
    compaction::Outcome out = compaction::CompactVault(
        vaultPath,
        compaction::NameSelector([&left](const std::string& name, bool utf8) {
            auto it = left.find(FoldName(RequestedName(vault::DecodeEntryName(name, utf8))));
            if (it == left.end() || it->second == 0) return false;
            return --it->second > 0;  // every copy before the last
        }),
        options);
    compaction::FinishFromJournal(vaultPath, options, &out);
    if (out.status == compaction::Status::Done || out.status == compaction::Status::NothingMatched) return true;
    s.Error(vaultPath + ": the older copies of the replaced entries could not be removed: " +
            compaction::StatusText(out.status) + "; run the same add again");
    return false;
}

}  // namespace

const char kAddHelp[] =
    "Usage: hollowbox-vault add [--replace | --update] [--journal FILE] [--codepage N] [--threads N]\n"
    "                           VAULT PATH...\n"
    "\n"
    "Adds files and folder trees; the vault is created when it does not exist.\n"
    "Names are stored relative to each PATH's parent: adding /x/Docs stores\n"
    "Docs/, Docs/a.txt, ... A folder's entry comes before its contents.\n"
    "Files whose name is already in the vault (in any case) are skipped and\n"
    "reported (exit status 1), unless:\n"
    "  --replace  they replace the entries of that name;\n"
    "  --update   they replace them only when the file is newer than the entry\n"
    "             (by its modification time, in whole seconds).\n"
    "A replaced entry keeps its stored name. The new copy is added first and\n"
    "the old one removed after, so a stop in between leaves both (the old one\n"
    "is found first by name); the same command run again finishes the job.\n"
    "Paths that cannot be read are reported and skipped; the rest is added\n"
    "(exit status 1).\n"
    "The add is guarded by the add journal (default: the program's own, in the\n"
    "temporary folder; on Linux without TMPDIR, in /tmp/hollowbox-UID/), and\n"
    "the removal of replaced copies by the delete journal beside it, so an\n"
    "interrupted add can be repaired by \"recover\" or by the program. A\n"
    "journal that another vault still needs stops the add.\n"
    "A name is stored in code page N (--codepage, default as for list) when it\n"
    "converts there and back exactly, else as UTF-8 with the UTF-8 flag; a\n"
    "name whose stored form is longer than 259 bytes is skipped.\n"
    "Large files are compressed on every processor; --threads N uses N threads\n"
    "(1: one, as in earlier versions). The vault's bytes are written in the\n"
    "same order either way.\n";

int CommandAdd(Session& s, const Arguments& a) {
    if (a.positional.size() < 2) throw UsageError{"add needs a VAULT and at least one PATH"};
    const bool replace = a.flags.count("--replace") != 0;
    const bool update = a.flags.count("--update") != 0;
    if (replace && update) throw UsageError{"--replace and --update exclude each other"};
    const std::string vaultPath = a.positional[0];
    ApplyThreadsOption(a);
    std::string journalPath;
    if (!JournalPathOption(s, a, &journalPath)) return kExitFailure;

    if (fileio::IsDirectory(vaultPath)) {
        s.Error(vaultPath + ": is a folder, not a vault");
        return kExitFailure;
    }
    if (!RecoverBeforeWrite(s, vaultPath, journalPath, true)) return kExitFailure;

    // What is in the vault already (nothing when it does not exist yet).
    std::map<std::string, Present> present;
    size_t existingEntries = 0;
    uint64_t vaultSize = 0;
    if (fileio::Exists(vaultPath)) {
        OpenVault v;
        if (!LoadVault(s, vaultPath, &v, false)) return kExitFailure;
        for (const Entry& e : v.entries) {
            Present& p = present[FoldName(RequestedName(e.name))];
            p.stored = RequestedName(e.name);
            p.folder = e.IsFolder();
            p.modified = e.infoOk ? e.info.modificationTime : 0;
            ++p.copies;
        }
        existingEntries = v.entries.size();
        FileInfo info;
        if (fileio::GetInfo(vaultPath, &info)) vaultSize = info.size;
    }

    AddPlanner planner(s, vaultPath, journalPath);
    for (size_t i = 1; i < a.positional.size(); ++i) planner.AddPath(a.positional[i]);

    size_t added = 0, replaced = 0, current = 0, skipped = 0, entries = existingEntries;
    std::set<std::string> superseded;  // names whose older copies go at the end
    uint64_t projected = vaultSize;
    std::vector<AddItem>& items = planner.Items();
    // Small files are read and compressed a few entries ahead on the other
    // processors while the writer stores the current one.
    vault::EntryPrefetcher prefetch(vault::VaultThreads());
    for (const AddItem& item : items) {
        if (!item.folder && item.size <= vault::kPrefetchLargest &&
            !present.count(FoldName(item.name))) {
            prefetch.Expect(item.source, item.name);
        }
    }
    VaultAppender appender(s, vaultPath, journalPath, &prefetch);
    bool open = false;
    for (size_t i = 0; i < items.size(); ++i) {
        AddItem item = items[i];
        if (g_stopRequested) {
            s.Error("interrupted; " + std::to_string(items.size() - i) + " entries not added");
            break;
        }
        if (!vault::IsValidUtf8(item.name)) {
            s.Error(item.source + ": the name is not valid UTF-8; skipped");
            ++skipped;
            continue;
        }
        std::string key = FoldName(item.name);
        auto old = present.find(key);
        bool replacing = false;
        if (old != present.end()) {
            const Present& p = old->second;
            if (item.folder && p.folder) continue;
            if (!(replace || update) || item.folder || p.folder) {
                s.Error(item.source + ": " + Quoted(item.name) + " is already in the vault" +
                        (item.folder != p.folder ? std::string(p.folder ? " as a folder" : " as a file") : "") +
                        "; skipped");
                ++skipped;
                continue;
            }
            // A replace stopped before its older copies went: they go now.
            if (p.copies > 1) superseded.insert(key);
            FileInfo info;
            if (update && fileio::GetInfo(item.source, &info) && Seconds(info.writeTime) <= Seconds(p.modified)) {
                ++current;
                continue;
            }
            item.name = p.stored;  // the entry keeps its name
            replacing = true;
        }
        std::string stored = item.folder ? item.name + "/" : item.name;
        const size_t storedBytes = vault::EncodeEntryName(stored).bytes.size();
        if (storedBytes > vault::kMaxNameLength) {
            s.Error(item.source + ": the name " + Quoted(stored) + " takes " + std::to_string(storedBytes) +
                    " bytes in the vault, more than " + std::to_string(vault::kMaxNameLength) + "; skipped");
            ++skipped;
            continue;
        }
        // Worst case growth: deflate's stored-block overhead plus records.
        uint64_t growth = item.size + item.size / 256 + 1024;
        if (entries >= kMaxEntries || projected + growth + 64ull * (entries + 1) > kVaultSizeLimit) {
            s.Error(item.source + ": the vault would exceed its limits (65535 entries, 4 GiB); " +
                    std::to_string(items.size() - i) + " entries not added");
            break;
        }
        if (!open) {
            if (!appender.Open()) return kExitFailure;
            open = true;
        }
        s.Progress("adding " + std::to_string(i + 1) + "/" + std::to_string(items.size()) + " " + item.name);
        bool ok = false;
        if (!appender.Add(item, &ok)) break;
        if (ok) {
            ++(replacing ? replaced : added);
            ++entries;
            projected += growth;
            Present& p = present[key];
            if (replacing) superseded.insert(key);
            p.stored = item.name;
            p.folder = item.folder;
            ++p.copies;
        } else {
            ++skipped;
        }
    }
    bool finished = appender.Finish();
    // Only once every new copy is safely in the vault do the old ones go.
    if (finished && !superseded.empty()) finished = DropOlderCopies(s, vaultPath, journalPath, superseded);
    s.ClearProgress();
    s.Out() << vaultPath << ": " << added << (added == 1 ? " entry" : " entries") << " added";
    if (replace || update) s.Out() << ", " << replaced << " replaced";
    if (update) s.Out() << ", " << current << " up to date";
    if (skipped) s.Out() << ", " << skipped << " skipped";
    s.Out() << "\n";
    return (s.Failed() || !finished) ? kExitFailure : kExitOk;
}

}  // namespace hbcli
