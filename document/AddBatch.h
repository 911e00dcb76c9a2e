// One batch of files and folder trees going into the vault (a drop or a
// paste): the replace questions, the free-space check, move mode, the
// vault's limits, and one writer kept open across the files of the batch.
//
// Opening the writer once per file would rewrite the whole directory for
// every file, so a batch of N files would cost O(N^2) bytes. The batch keeps
// one writer open instead and closes it (the writer's journal then records
// a complete vault) at checkpoints: every kEntriesPerCheckpoint entries or
// kBytesPerCheckpoint bytes, before every question or message, at Cancel,
// before the replaced entries are rewritten and at the end. A stop at any
// moment loses at most the files since the last checkpoint; the journal the
// writer keeps from its opening puts the vault back as it was then. In move
// mode a source is deleted only after the checkpoint that made its entry
// safe, so no stop can lose a file.
//
// Use (the view's transfer routine):
//
//   CAddBatch batch(model, hooks, moveMode);
//   batch.SetOwnFiles({vault path, journals, program files});
//   for each path: batch.AddPath(path);
//   batch.UpdateMarkedEntries();
//   batch.Finish();              // also run by the destructor
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/VaultModel.h"

struct VaultHandle;
struct SourceItem;
namespace vault {
class EntryPrefetcher;
}

// Which of the vault's limits an entry would break.
enum class AddLimit {
    NameLength,  // its stored name is longer than 259 bytes
    FileSize,    // the file is 4 GiB or larger
    VaultFull,   // the vault would pass 65,535 entries or 4 GiB
};

// Why a source was left out while the rest of the batch went on.
enum class SkipReason {
    NameLength,  // its stored name would be longer than 259 bytes
    FileSize,    // it is 4 GiB or larger
    NotOpened,   // it could not be opened or read
    NotFound,    // it is not there (any more)
};

struct SkippedSource {
    std::string path;  // the source as handed in or listed
    SkipReason reason;
};

// What the batch asks of the window side (besides the model's own hooks:
// progress texts, cancel flag, message pump, flush, message 36). Every
// member may stay empty.
struct AddBatchHooks {
    // The replace question for an existing file (its stored path, '/' form):
    // 0 Cancel, 1 Yes, 2 No, 3 Replace All. The window side hides the
    // progress dialog and brings the main frame forward. Empty: No.
    std::function<int(const std::string& storedPath)> askReplace;
    // Free bytes available to the user on the vault's volume; false when
    // they cannot be read (the check then passes). Empty: no check.
    std::function<bool(uint64_t* freeBytes)> freeSpace;
    // Message 30 ("Disk space insufficient!").
    std::function<void()> diskFull;
    // A limit of the whole vault reached at sourcePath; the batch stops.
    // (A file or folder that alone breaks a limit is skipped: Skipped().)
    std::function<void(const std::string& sourcePath, AddLimit limit)> limitReached;
    // Once per batch, at its end: files of the program itself (the vault,
    // its journals, the running program) were met and left out; the first.
    std::function<void(const std::string& firstSkipped)> ownFilesSkipped;
    // False while no disk is logged in. Empty: logged in.
    std::function<bool()> loggedIn;
    // The rewrite of replaced entries cannot be stopped: grey Cancel.
    std::function<void()> disableCancel;
    // Hide the progress dialog (before the rewrite of replaced entries).
    std::function<void()> hideProgress;
    // Whether two paths name the same file. Empty: the paths are compared
    // without regard to case and separator kind.
    std::function<bool(const std::string& a, const std::string& b)> sameFile;
};

class CAddBatch {
public:
    static constexpr size_t kEntriesPerCheckpoint = 1024;
    static constexpr uint64_t kBytesPerCheckpoint = 64ull * 1024 * 1024;
    static constexpr uint64_t kSpaceReserve = 1048576;  // kept free beside each file

    // Clears the model's marks; the replace decision starts at -1 (ask).
    CAddBatch(CVaultModel& model, AddBatchHooks hooks, bool moveMode);
    ~CAddBatch();
    CAddBatch(const CAddBatch&) = delete;
    CAddBatch& operator=(const CAddBatch&) = delete;

    // Files that are never added (compared by leaf name first, then by
    // hooks.sameFile).
    void SetOwnFiles(const std::vector<std::string>& paths);

    // A file, or a folder with everything below it. Its vault folder is the
    // current folder plus the last depth + 1 components of path; a drive
    // root at depth 0 puts its contents into the current folder itself.
    // Does nothing once the batch has stopped (Cancel, a replace question
    // answered Cancel, too little space, a limit, a failed checkpoint) or
    // nobody is logged in, and for a path that does not exist.
    void AddPath(const std::string& path, int depth = 0);

    // Stores again every marked entry that has a pending source: the marked
    // entries are deleted from the vault (DelZipFromFile without the list)
    // and each source is added at the end, keeping its VaultEntry with the
    // new offset, sizes and modified time. Does nothing after Cancel, too
    // little space or a limit. An entry whose new content cannot be stored
    // is taken out of the list, since the vault no longer holds it; row
    // pointers into the list are then stale.
    void UpdateMarkedEntries();

    // The last checkpoint, the folders a move emptied, and the note about
    // the program's own files. Runs once.
    void Finish();

    // Passes when the vault's volume has size + 1 MiB free; otherwise shows
    // message 30 (after a checkpoint) and stops the batch. The volume is
    // read again only when what the last reading left, less the most the
    // files since could have taken, might not be enough, and after every
    // checkpoint.
    bool CheckDiskSpace(uint64_t size);

    // Sources left out while the batch went on, in the order met. In move
    // mode none of them is deleted.
    const std::vector<SkippedSource>& Skipped() const { return m_skipped; }

    int ReplaceDecision() const { return m_decision; }
    bool Stopped() const { return m_stopped; }
    // Entries stored by this batch (folders, new files and replaced files).
    size_t Stored() const { return m_stored; }
    // Writer closes that completed.
    size_t Checkpoints() const { return m_checkpoints; }
    bool WriterOpen() const { return m_writer != nullptr; }

private:
    bool Halted() const;
    // Closes the writer: the vault is complete on disk, the journal goes,
    // and the sources of a move stored so far are deleted. False (and the
    // batch stops) when the close failed.
    bool Checkpoint();
    // One entry through the open writer (opened when needed). Reports
    // message 36 and the limits; stops the batch when the writer cannot go on.
    uint32_t Store(const std::string& name, const std::string& source, uint64_t size,
                   CVaultModel::AddResult* out);
    void AddFolder(const std::string& path, const std::string& vaultFolder);
    // Lists the files of items from `from` up to the next folder with the
    // prefetcher, in the order they are about to be added; returns the index
    // after them.
    size_t ExpectFiles(const std::string& path, const std::string& prefix,
                       const std::vector<SourceItem>& items, size_t from);
    void AddFile(const std::string& source, const std::string& target, const FileInfo& info);
    void ReplaceStep(const std::string& target, uint32_t attributes, const std::string& source);
    void ReachedLimit(const std::string& source, AddLimit limit);
    void Skip(const std::string& source, SkipReason reason) { m_skipped.push_back({source, reason}); }
    bool IsOwnFile(const std::string& path) const;
    void Known(const std::string& stored, uint32_t attributes);
    bool FindKnown(const std::string& stored, uint32_t* attributes) const;

    CVaultModel& m_model;
    AddBatchHooks m_hooks;
    bool m_move;
    int m_decision = -1;
    bool m_stopped = false;
    bool m_finished = false;
    bool m_closeFailed = false;

    VaultHandle* m_writer = nullptr;
    // Reads and compresses the next small files on other threads while
    // the writer stores the current one; ends with the batch.
    std::unique_ptr<vault::EntryPrefetcher> m_prefetch;
    size_t m_roundEntries = 0;
    uint64_t m_roundBytes = 0;
    size_t m_stored = 0;
    size_t m_checkpoints = 0;

    bool m_haveFreeReading = false;
    uint64_t m_freeAtReading = 0;
    uint64_t m_spentSinceReading = 0;

    // Upper-cased stored paths of the entry list, for the replace lookups
    // of large batches.
    std::unordered_map<std::string, uint32_t> m_known;
    // Move mode: sources stored since the last checkpoint, and the folders
    // to remove at the end (deepest first).
    std::vector<std::string> m_movedSources;
    std::vector<std::string> m_movedFolders;

    struct OwnFile {
        std::string leaf;  // upper case
        std::string path;
    };
    std::vector<OwnFile> m_ownFiles;
    std::string m_firstOwnSkipped;
    std::vector<SkippedSource> m_skipped;
};
