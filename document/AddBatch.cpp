// The add batch: files and folder trees through one writer kept open across
// the batch, with checkpoints, replace bookkeeping, move mode and limits.
#include "document/AddBatch.h"

#include <utility>

#include "document/SourceFolder.h"
#include "vault/VaultApi.h"
#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultRecords.h"
#include "vault/threads/ThreadPool.h"
#include "vault/writer/EntryPrefetch.h"
#include "vault/writer/VaultWriter.h"

namespace {

constexpr int kDecisionCancel = 0;
constexpr int kDecisionYes = 1;
constexpr int kDecisionNo = 2;
constexpr int kDecisionAll = 3;

constexpr int kMessageCopyFile = 22;
constexpr int kMessageCompressFile = 23;

std::string UpperPath(const std::string& path) { return UpperCaseName(ToBackslashes(path)); }

}  // namespace

CAddBatch::CAddBatch(CVaultModel& model, AddBatchHooks hooks, bool moveMode)
    : m_model(model), m_hooks(std::move(hooks)), m_move(moveMode),
      m_prefetch(new vault::EntryPrefetcher(vault::VaultThreads())) {
    m_model.ClearMarks();
    m_known.reserve(m_model.EntryCount() * 2);
    for (const auto& e : m_model.Entries()) Known(e->path, e->attributes);
}

CAddBatch::~CAddBatch() { Finish(); }

void CAddBatch::SetOwnFiles(const std::vector<std::string>& paths) {
    m_ownFiles.clear();
    for (const std::string& p : paths) {
        if (p.empty()) continue;
        m_ownFiles.push_back(OwnFile{UpperCaseName(SourceLeaf(p)), p});
    }
}

bool CAddBatch::IsOwnFile(const std::string& path) const {
    if (m_ownFiles.empty()) return false;
    const std::string leaf = UpperCaseName(SourceLeaf(path));
    for (const OwnFile& own : m_ownFiles) {
        if (own.leaf != leaf) continue;
        if (m_hooks.sameFile ? m_hooks.sameFile(path, own.path)
                             : UpperPath(path) == UpperPath(own.path)) {
            return true;
        }
    }
    return false;
}

void CAddBatch::Known(const std::string& stored, uint32_t attributes) {
    m_known.emplace(UpperCaseName(ToSlashes(stored)), attributes);
}

bool CAddBatch::FindKnown(const std::string& stored, uint32_t* attributes) const {
    auto it = m_known.find(UpperCaseName(ToSlashes(stored)));
    if (it == m_known.end()) return false;
    if (attributes) *attributes = it->second;
    return true;
}

bool CAddBatch::Halted() const {
    if (m_stopped || m_decision == kDecisionCancel) return true;
    if (m_hooks.loggedIn && !m_hooks.loggedIn()) return true;
    const VaultHooks& vh = m_model.Hooks();
    return vh.cancelled && vh.cancelled();
}

bool CAddBatch::Checkpoint() {
    if (!m_writer) return !m_closeFailed;
    const uint32_t rc = CloseVaultHandle(m_writer);
    m_writer = nullptr;
    m_roundEntries = 0;
    m_roundBytes = 0;
    const VaultHooks& vh = m_model.Hooks();
    if (vh.flush) vh.flush();
    if (rc != kVaultOk) {
        // The journal stays: it is what puts the directory back. The sources
        // of a move stay too, since their entries may be lost.
        m_closeFailed = true;
        m_stopped = true;
        m_movedSources.clear();
        return false;
    }
    if (!m_model.JournalPath().empty()) fileio::Remove(m_model.JournalPath());
    ++m_checkpoints;
    m_haveFreeReading = false;
    for (const std::string& source : m_movedSources) fileio::Remove(source);
    m_movedSources.clear();
    return true;
}

void CAddBatch::ReachedLimit(const std::string& source, AddLimit limit) {
    Checkpoint();
    m_stopped = true;
    if (m_hooks.limitReached) m_hooks.limitReached(source, limit);
}

uint32_t CAddBatch::Store(const std::string& name, const std::string& source, uint64_t size,
                          CVaultModel::AddResult* out) {
    *out = CVaultModel::AddResult();
    if (!m_writer) {
        const std::string& journal = m_model.JournalPath();
        m_writer = OpenVaultWriter(m_model.VaultPath().c_str(), 0, kVaultSourcePath,
                                   journal.empty() ? nullptr : journal.c_str());
        if (!m_writer) {
            // Not a vault that can be added to (damaged, locked, no disk).
            m_stopped = true;
            return kVaultNoFile;
        }
        vault::AttachPrefetcher(m_writer, m_prefetch.get());
    }
    const bool folder = source.empty();
    uint32_t external = 0, offset = 0, packed = 0, stored = 0;
    const uint32_t rc =
        AddVaultEntry(m_writer, name.c_str(), folder ? nullptr : source.c_str(), 0,
                      folder ? kVaultSourceFolder : kVaultSourcePath, &external, &offset, &packed,
                      &stored);
    switch (rc) {
        case kVaultOk:
            ++m_stored;
            ++m_roundEntries;
            m_roundBytes += size;
            out->attributes = vault::WindowsAttributesFromExternal(external);
            out->localOffset = offset;
            out->packedSize = packed;
            out->size = stored;
            if (m_roundEntries >= kEntriesPerCheckpoint || m_roundBytes >= kBytesPerCheckpoint) {
                Checkpoint();
            }
            break;
        case kVaultNoFile:
            Checkpoint();
            if (!folder) Skip(source, SkipReason::NotOpened);
            if (m_model.Hooks().sourceNotOpened) m_model.Hooks().sourceNotOpened(source);
            break;
        case kVaultTooLarge:
            ReachedLimit(folder ? name : source,
                         size > vault::kMaxVaultBytes ? AddLimit::FileSize : AddLimit::VaultFull);
            break;
        case kVaultPreviousError:
        case kVaultSeekError:
        case kVaultEnded:
            // This writer can take no more; what it holds is kept.
            Checkpoint();
            break;
        default:
            break;  // the entry is left out, the batch goes on
    }
    return rc;
}

bool CAddBatch::CheckDiskSpace(uint64_t size) {
    if (!m_hooks.freeSpace) return true;
    const uint64_t need = size + kSpaceReserve;
    // Most files of a large batch fit in what the last reading left: the
    // volume is asked again only when the estimate says they might not.
    const uint64_t growth = size + size / 256 + 1024;  // deflate's worst case plus records
    if (m_haveFreeReading && m_freeAtReading >= m_spentSinceReading + need) {
        m_spentSinceReading += growth;
        return true;
    }
    uint64_t freeBytes = 0;
    if (!m_hooks.freeSpace(&freeBytes)) {
        m_haveFreeReading = false;
        return true;
    }
    m_haveFreeReading = true;
    m_freeAtReading = freeBytes;
    m_spentSinceReading = 0;
    if (freeBytes >= need) {
        m_spentSinceReading = growth;
        return true;
    }
    Checkpoint();
    m_stopped = true;
    if (m_hooks.diskFull) m_hooks.diskFull();
    return false;
}

void CAddBatch::AddPath(const std::string& path, int depth) {
    if (Halted()) {
        Checkpoint();
        return;
    }
    const std::string source = TrimSourcePath(path);
    FileInfo info;
    if (source.empty() || !fileio::GetInfo(source, &info)) {
        if (!path.empty()) Skip(path, SkipReason::NotFound);
        return;
    }
    if (depth == 0) m_model.MakeVaultFolder();

    const std::string& current = m_model.CurrentFolder();  // "" or "A\B\"
    if (!(info.attributes & kAttrDirectory)) {
        if (depth != 0) return;
        AddFile(source, current + SourceLeaf(source), info);
        return;
    }
    // The last depth + 1 components of the path name the vault folder.
    std::vector<std::string> parts;
    std::string rest = source;
    for (int i = 0; i <= depth; ++i) {
        const std::string leaf = SourceLeaf(rest);
        if (leaf.empty()) break;
        parts.insert(parts.begin(), leaf);
        rest = TrimSourcePath(rest.substr(0, rest.size() - leaf.size()));
    }
    std::string folder = current;
    for (const std::string& part : parts) folder += part + "\\";
    if (!folder.empty()) folder.pop_back();
    AddFolder(source, folder);
}

void CAddBatch::AddFolder(const std::string& path, const std::string& vaultFolder) {
    bool entryStored = vaultFolder.empty();  // the current folder itself
    if (!vaultFolder.empty()) {
        const std::string stored = ToSlashes(vaultFolder) + "/";
        if (vault::EncodeEntryName(stored).bytes.size() > vault::kMaxNameLength) {
            Skip(path, SkipReason::NameLength);  // with everything below it
            return;
        }
        entryStored = FindKnown(stored, nullptr);
        if (!entryStored) {
            CVaultModel::AddResult added;
            if (Store(vaultFolder, std::string(), 0, &added) == kVaultOk) {
                const FileTime now = fileio::CurrentTime();
                m_model.AppendEntry(stored, added.attributes | kEntryFolder, added.localOffset,
                                    added.packedSize, added.size, now, now, now);
                Known(stored, added.attributes | kEntryFolder);
                entryStored = true;
            }
            if (m_stopped) return;
        }
    }
    std::vector<SourceItem> items;
    if (!ListSourceFolder(path, &items)) {
        Skip(path, SkipReason::NotOpened);
        return;
    }
    const std::string prefix = vaultFolder.empty() ? std::string() : vaultFolder + "\\";
    size_t expected = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const SourceItem& item = items[i];
        if (Halted()) {
            Checkpoint();
            return;
        }
        if (i >= expected) expected = ExpectFiles(path, prefix, items, i);
        const std::string child = JoinSourcePath(path, item.name);
        if (item.folderLink) continue;
        if (item.folder) {
            AddFolder(child, prefix + item.name);
        } else {
            AddFile(child, prefix + item.name, item.info);
        }
    }
    if (m_move && entryStored && !vaultFolder.empty()) m_movedFolders.push_back(path);
}

size_t CAddBatch::ExpectFiles(const std::string& path, const std::string& prefix,
                              const std::vector<SourceItem>& items, size_t from) {
    size_t i = from;
    for (; i < items.size() && !items[i].folder && !items[i].folderLink; ++i) {
        const SourceItem& item = items[i];
        if (!m_prefetch || !m_prefetch->Active()) continue;
        const std::string stored = ToSlashes(prefix + item.name);
        // A file that asks the replace question is read when it is stored.
        const std::string source = JoinSourcePath(path, item.name);
        if (item.info.size > vault::kPrefetchLargest || FindKnown(stored, nullptr) ||
            IsOwnFile(source)) {
            continue;
        }
        m_prefetch->Expect(source, stored);
    }
    return i == from ? from + 1 : i;
}

void CAddBatch::AddFile(const std::string& source, const std::string& target,
                        const FileInfo& info) {
    if (Halted()) {
        Checkpoint();
        return;
    }
    if (IsOwnFile(source)) {
        if (m_firstOwnSkipped.empty()) m_firstOwnSkipped = source;
        return;
    }
    const std::string stored = ToSlashes(target);
    if (vault::EncodeEntryName(stored).bytes.size() > vault::kMaxNameLength) {
        Skip(source, SkipReason::NameLength);
        return;
    }
    if (info.size > vault::kMaxVaultBytes) {
        Skip(source, SkipReason::FileSize);
        return;
    }
    uint32_t existing = 0;
    if (FindKnown(stored, &existing)) {
        ReplaceStep(stored, existing, source);
        return;
    }
    if (!CheckDiskSpace(info.size)) return;
    m_model.PumpMessages();
    if (Halted()) {  // Cancel may have come with the messages
        Checkpoint();
        return;
    }
    const VaultHooks& vh = m_model.Hooks();
    if (vh.progressText) vh.progressText(stored, kMessageCopyFile, source);
    CVaultModel::AddResult added;
    if (Store(target, source, info.size, &added) != kVaultOk) return;
    if (m_move) m_movedSources.push_back(source);
    m_model.AppendEntry(stored, added.attributes, added.localOffset, added.packedSize, added.size,
                        info.writeTime, info.accessTime, info.creationTime);
    Known(stored, added.attributes);
}

void CAddBatch::ReplaceStep(const std::string& target, uint32_t attributes,
                            const std::string& source) {
    if (m_decision != kDecisionAll) {
        Checkpoint();  // the vault is whole while the question is up
        m_decision = m_hooks.askReplace ? m_hooks.askReplace(target) : kDecisionNo;
    }
    if (m_decision == kDecisionYes || m_decision == kDecisionAll) {
        m_model.MarkEntry(target, attributes, source);
    }
}

void CAddBatch::UpdateMarkedEntries() {
    if (m_model.MarkedCount() == 0) return;
    if (m_hooks.hideProgress) m_hooks.hideProgress();
    const VaultHooks& vh = m_model.Hooks();
    const bool cancelled = m_stopped || (vh.cancelled && vh.cancelled());
    if (cancelled || !Checkpoint()) {
        // Nothing was deleted: the entries keep their old content.
        for (const auto& e : m_model.Entries()) e->pendingSource.clear();
        return;
    }
    // From here on the replaced entries are out of the vault until they are
    // stored again, so this part runs to its end.
    if (m_hooks.disableCancel) m_hooks.disableCancel();
    m_model.DelZipFromFile(false);
    m_model.MakeVaultFolder();
    std::vector<VaultEntry*> lost;
    for (const auto& owned : m_model.Entries()) {
        VaultEntry* e = owned.get();
        if (e->pendingSource.empty()) continue;
        const std::string source = std::move(e->pendingSource);
        e->pendingSource.clear();
        m_model.PumpMessages();
        FileInfo info;
        bool ok = false;
        if (!m_stopped && fileio::GetInfo(source, &info)) {
            if (vh.progressText) vh.progressText(e->path, kMessageCompressFile, source);
            CVaultModel::AddResult added;
            if (Store(e->path, source, info.size, &added) == kVaultOk) {
                e->localOffset = added.localOffset;
                e->packedSize = added.packedSize;
                e->size = added.size;
                FileInfo after;
                e->modified = fileio::GetInfo(source, &after) ? after.writeTime : info.writeTime;
                if (m_move) m_movedSources.push_back(source);
                ok = true;
            }
        } else if (!m_stopped) {
            Skip(source, SkipReason::NotOpened);
            Checkpoint();
            if (vh.sourceNotOpened) vh.sourceNotOpened(source);
        }
        if (!ok) lost.push_back(e);
    }
    Checkpoint();
    // What could not be stored again is no longer in the vault; the list
    // must not show it.
    m_model.ClearMarks();
    for (VaultEntry* e : lost) e->mark = 1;
    if (!lost.empty()) {
        m_known.clear();
        m_model.RemoveMarkedEntries();
        for (const auto& e : m_model.Entries()) Known(e->path, e->attributes);
    }
}

void CAddBatch::Finish() {
    if (m_finished) return;
    m_finished = true;
    Checkpoint();
    m_prefetch.reset();  // no worker outlives the batch
    if (m_move && !m_closeFailed) {
        for (const std::string& folder : m_movedFolders) RemoveEmptySourceFolder(folder);
    }
    m_movedFolders.clear();
    if (!m_firstOwnSkipped.empty() && m_hooks.ownFilesSkipped) {
        m_hooks.ownFilesSkipped(m_firstOwnSkipped);
    }
}
