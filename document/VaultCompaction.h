// In-place compaction of the vault: removes the entries whose central
// records a selector picks by moving the entries behind them down over the
// gap, writing the new central directory and end record block behind the
// last entry and cutting the file there. Local records and entry data move
// byte for byte; only central records whose offset changes are deciphered
// and enciphered again. The vault's disk needs no space beyond the vault.
//
// Guarded by the delete journal (DeleteJournal.h): every step that could
// leave the vault half-moved is recorded there after the vault's writes have
// been flushed, so RecoverDelete can always finish a stopped rewrite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "document/DeleteJournal.h"
#include "vault/format/NameCodec.h"

namespace compaction {

enum class Status {
    Done,           // the vault was rewritten
    NothingMatched, // no central record was selected: the vault is untouched
    Declined,       // Options::approve said no: untouched
    NotOpened,      // the vault file could not be opened: untouched
    NotAVault,      // no end record, or a directory that cannot be read: untouched
    Refused,        // a layout that cannot be moved safely, or a directory too
                    // large for the journal: untouched
    JournalFailed,  // the journal could not be written: untouched
    WriteFailed,    // the vault was being rewritten when a write failed; the
                    // journal stays and RecoverDelete finishes the rewrite
    NoSpace,        // a rename's longer names did not fit on the disk: untouched
};

const char* StatusText(Status status);

struct Options {
    // The delete journal. Empty: no guard at all (only for measuring what
    // the guard costs; a stop then loses the vault).
    std::string journalPath;
    // Called between chunks so that the window keeps painting.
    std::function<void()> pump;
    // Longest step whose own source it overwrites, saved in the journal's
    // slot first (at most deljournal::kMaxSlotBytes); a rewrite of up to
    // twice this is kept in the journal whole. A step's bytes are read once
    // and written twice, which is quickest while they stay in the
    // processor's cache.
    uint64_t slotBytes = 2 * 1024 * 1024;
    // The same for a rename, whose moves are only as long as its names grew
    // or shrank and so always go through the slot: larger steps there cost
    // fewer flushes of the vault.
    uint64_t renameSlotBytes = 8 * 1024 * 1024;
    // A region that moves down by at least this much goes in steps as long
    // as the distance without saving anything; shorter distances go through
    // the journal's slot. Each straight step costs a flush of the vault and
    // of the journal; a slot step writes its bytes twice. Measured on one
    // local disk the two break even near 1 MB. A rewrite that takes only a
    // couple of straight steps more than it has pieces of this size goes
    // straight whatever its distances.
    uint64_t directDistance = 1024 * 1024;
    // Size of one read or write of entry data.
    size_t chunkBytes = 1024 * 1024;
    // A rename's regions up to this long are kept in the journal (up to
    // 8 MB in all) and written with the new local records instead of moving
    // step by step: a folder's many small entries then cost one write at the
    // end instead of a few flushes each.
    uint64_t patchedMove = 256 * 1024;
    // When set, sees every stored name and the ones selected before anything
    // is written; false leaves the vault untouched (status Declined).
    std::function<bool(const std::vector<vault::StoredName>& names,
                       const std::vector<vault::StoredName>& selected)>
        approve;
};

struct Outcome {
    Status status = Status::NotOpened;
    uint32_t entriesBefore = 0;        // central records before
    uint32_t entriesKept = 0;          // central records after (before, when untouched)
    std::vector<std::string> deleted;  // stored names of the removed records
    std::vector<bool> deletedUtf8;     // for each: stored as UTF-8 (flag bit 11)
    // Local record offsets that changed (old, new), once the rewrite is planned.
    std::vector<std::pair<uint32_t, uint32_t>> moved;
    uint64_t bytesMoved = 0;
    // Where a delete journal of another vault, found at the journal's name,
    // was parked before this rewrite took the name (empty: none was there).
    std::string parkedJournal;
    // A rename's (old stored name, new stored name) pairs, in directory order.
    std::vector<std::pair<std::string, std::string>> renamed;
};

// True for a stored name ("dir/a.txt", "dir/") whose record is to go.
using Selector = std::function<bool(const std::string& storedName)>;
// The same with the record's name flag: utf8 when bit 11 says the bytes are
// UTF-8, else they are in the name code page (vault::DecodeEntryName).
using NameSelector = std::function<bool(const std::string& storedName, bool utf8)>;

// Removes every central record the selector picks, with its local record
// and data. A delete journal of this vault left by an earlier stop (at the
// journal's name or parked beside it) is finished first; one that belongs to
// another vault is parked beside the name (JournalParking.h), and when every
// side name is taken the vault is left untouched (JournalFailed).
Outcome CompactVault(const std::string& vaultPath, const Selector& select, const Options& options);
Outcome CompactVault(const std::string& vaultPath, const NameSelector& select, const Options& options);

// A rename: true, with the new name's stored bytes and UTF-8 flag, for a
// stored name (its bytes and flag) whose record is to be renamed.
struct NewName {
    std::string bytes;
    bool utf8 = false;
};
using Renamer = std::function<bool(const std::string& storedName, bool utf8, NewName* to)>;

// Gives every entry the renamer picks its new name, in its local and its
// central record, in the same kind of pass as CompactVault (and under the
// same journal, recovery and parking): entry data, CRC, sizes, times and
// every other field stay. When local records change length the entries
// behind them move, down for shorter names and up for longer ones (the
// vault then grows by that much; NoSpace when its disk cannot hold it).
// options.approve sees the stored names and the old names picked.
// NothingMatched when no name changes.
Outcome RenameEntries(const std::string& vaultPath, const Renamer& rename, const Options& options);

// A rewrite whose write failed is finished at once from its journal where it
// can be; the outcome is then Done.
void FinishFromJournal(const std::string& vaultPath, const Options& options, Outcome* out);

// The stored names of the vault's central records in directory order. False
// when the vault cannot be opened or its directory cannot be read.
bool ReadStoredNames(const std::string& vaultPath, std::vector<std::string>* names);
// The same with each name's flag.
bool ReadStoredNames(const std::string& vaultPath, std::vector<vault::StoredName>* names);

enum class RecoveryStatus {
    NoJournal,    // nothing to do
    Discarded,    // a journal whose rewrite never began was removed
    Finished,     // the rewrite was completed (or had been), journal removed
    NotThisVault, // the journal belongs to another vault (or is damaged): left alone
    Failed,       // the journal is this vault's but finishing it failed: the
                  // vault is half-moved and must not be used until it succeeds
};

// Brings a vault whose rewrite was stopped to its rewritten state.
RecoveryStatus RecoverDelete(const std::string& vaultPath, const std::string& journalPath,
                             const Options& options = Options());

// RecoverDelete with the journal at journalPath, then with every journal
// parked beside it. The fixed name's status, or Failed when any of this
// vault's rewrites could not be finished.
RecoveryStatus RecoverDeleteJournals(const std::string& vaultPath, const std::string& journalPath,
                                     const Options& options = Options());

// For a journal at journalPath that RecoverDelete found not to be this
// vault's: parks it when its plan and progress are whole (some vault may
// still need it); a damaged one stays for the next delete to replace. False
// when a whole one could not be parked (every side name taken).
bool FreeDeleteJournalPlace(const std::string& journalPath, std::string* parkedAs);

}  // namespace compaction

// Runs RecoverDeleteJournals with the delete journal beside the add journal; false
// only when this vault's rewrite could not be finished. Called by
// RecoverVault before it looks at the add journal.
bool RecoverDeleteBeside(const std::string& vaultPath, const std::string& addJournalPath);
