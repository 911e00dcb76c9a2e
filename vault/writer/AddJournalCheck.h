// The add journal as recovery and the writer see it: what its bytes say,
// whether it belongs to a given vault, and the one decision of what to do
// with it (put it back, discard it, or leave it alone). The journal lives at
// one fixed place in the temporary folder, so it may belong to a vault other
// than the one at hand; replaying it into the wrong vault would destroy that
// vault's directory, and deleting it would take another vault's only repair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"

namespace journal {

enum class JournalState {
    Absent,      // no journal file
    Matches,     // a complete tail that belongs to this vault
    Foreign,     // a complete tail, but not one of this vault
    Damaged,     // its bytes are no directory tail at all: no vault can use it
    Unreadable,  // cannot be read, or larger than any tail of this vault
};

struct JournalReport {
    JournalState state = JournalState::Absent;
    uint32_t offset = 0;            // where the tail belongs in the vault
    bool offsetMissing = false;     // the offset field still held 0
    uint32_t entries = 0;           // entries listed by the tail's end record
    std::string detail;             // why it is not Matches
};

// What the journal's bytes say about themselves, before any vault is looked at.
struct JournalTail {
    uint32_t offset = 0;            // where the tail belongs in the vault
    bool offsetMissing = false;     // the offset field still held 0
    vault::EndRecord end;           // the tail's end record
};

// Checks that bytes (a whole journal) are a 4-byte offset and a directory
// tail: central records followed by a 32-byte end block whose directory size
// covers exactly those records and whose offset is the journal's own (or the
// journal's offset is still 0, when the end record says where the tail goes).
// On failure why, if given, says what is wrong.
bool ParseJournalTail(const std::vector<uint8_t>& bytes, JournalTail* tail, std::string* why);

// The largest journal that can belong to a vault of vaultSize bytes: every
// central record is at most twice the local record it describes, so a tail
// never exceeds twice the bytes in front of it plus its end block.
uint64_t JournalSizeLimit(uint64_t vaultSize);

// Whether the journal belongs to the vault. A tail that lists entries
// belongs when the local records of its first and last entry are in the
// vault in front of the tail's offset. A tail that lists none belongs only at
// offset 0 to a vault that holds no finished local record (nothing, the empty
// vault, or the first record of an add that never completed): putting it back
// into any other vault would cut that vault down to nothing.
JournalReport ExamineJournal(const std::string& vaultPath, const std::string& journalPath);

enum class JournalAction {
    None,     // there is no journal
    Apply,    // it belongs to this vault, whose directory cannot be listed: put it back
    Discard,  // it belongs to this vault, which lists its entries: no longer needed
    Keep,     // another vault's, damaged or unreadable: left where it is
};

struct JournalDecision {
    JournalAction action = JournalAction::None;
    JournalReport report;
    bool vaultListable = false;  // the reader lists at least one entry
};

// The one decision that both the program and the vault tool act on: a
// journal is put back only into the vault it belongs to and only when that
// vault cannot be listed, and deleted only when it belongs to this vault and
// is no longer needed.
JournalDecision DecideJournal(const std::string& vaultPath, const std::string& journalPath);

// Puts a journal that DecideJournal found to Apply back into the vault: cuts
// the vault at the tail's offset, writes the tail there and flushes. The
// journal is not removed. False when anything fails (then the journal is
// still there to be applied again).
bool ApplyJournal(const std::string& vaultPath, const std::string& journalPath);

// The whole file is exactly the empty vault: one 32-byte end block listing
// nothing.
bool IsExactlyEmptyVault(const std::string& vaultPath);

// The vault holds a finished local record at offset 0 (size: the file's).
// Anything there that is not the empty vault or the first record of an
// unfinished add counts as holding one.
bool HoldsLocalRecords(CFile& vault, uint64_t size);

}  // namespace journal
