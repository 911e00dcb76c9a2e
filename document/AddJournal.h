// Examination of the add journal before it is replayed. The journal lives at
// one fixed place in the temporary folder, so it may belong to a vault other
// than the one at hand; replaying it into the wrong vault would destroy that
// vault's directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vault/format/VaultRecords.h"

namespace journal {

enum class JournalState {
    Absent,     // no journal file
    Matches,    // a complete tail whose entries are this vault's local records
    Foreign,    // a complete tail, but its entries are not in this vault
    Damaged,    // too short or not a directory tail
};

struct JournalReport {
    JournalState state = JournalState::Absent;
    uint32_t offset = 0;            // where the tail belongs in the vault
    bool offsetMissing = false;     // the offset field still held 0
    uint32_t entries = 0;           // entries listed by the tail's end record
    std::string detail;             // why it is Foreign or Damaged
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

JournalReport ExamineJournal(const std::string& vaultPath, const std::string& journalPath);

}  // namespace journal
