// Examination of the add journal before it is replayed. The journal lives at
// one fixed place in the temporary folder, so it may belong to a vault other
// than the one at hand; replaying it into the wrong vault would destroy that
// vault's directory.
#pragma once

#include <cstdint>
#include <string>

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

JournalReport ExamineJournal(const std::string& vaultPath, const std::string& journalPath);

}  // namespace journal
