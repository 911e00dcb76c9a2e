// A copy opened with its program, against the entry it was made from:
// whether the copy changed (size and CRC-32, not its time), whether the
// entry is still the one the copy came from, and putting the copy back
// through the add path (journal-guarded like every add).
#pragma once

#include <cstdint>
#include <string>

#include "document/AddBatch.h"

// What identifies an entry's content: its stored name (exact, '/' form),
// uncompressed size and CRC-32.
struct EntryStamp {
    std::string storedPath;
    uint32_t size = 0;
    uint32_t crc = 0;
};

// The stamp of the file entry whose stored name is exactly storedPath ('/'
// or '\\' form). False when the vault holds no such file entry or cannot be
// read.
bool ReadEntryStamp(const std::string& vaultPath, const std::string& storedPath, EntryStamp* out);

// The size and CRC-32 of a file on disk; false when it cannot be read.
bool ReadFileStamp(const std::string& path, uint32_t* size, uint32_t* crc);

// What the program knows of one opened copy between questions: the entry
// content it came from (or was last put back as) and the content the user
// last answered about. A save asks once; the same content is not asked
// about again.
struct CopyAnswers {
    EntryStamp base;
    bool answered = false;
    uint32_t answeredSize = 0, answeredCrc = 0;

    // The copy's content is not the entry's.
    bool Pending(uint32_t size, uint32_t crc) const { return size != base.size || crc != base.crc; }
    // A question is due: the content is neither the entry's nor the one last answered about.
    bool Asks(uint32_t size, uint32_t crc) const {
        return Pending(size, crc) && !(answered && size == answeredSize && crc == answeredCrc);
    }
    void Answered(uint32_t size, uint32_t crc) {
        answered = true;
        answeredSize = size;
        answeredCrc = crc;
    }
    // The vault holds the copy's content now.
    void PutBack(const EntryStamp& now) {
        base = now;
        Answered(now.size, now.crc);
    }
};

enum class CopyState {
    Unchanged,       // the copy's size and CRC-32 are those it was made with
    Changed,         // the copy changed and its entry is as it was: put it back?
    EntryGone,       // the copy changed, and the vault has no entry of that name now
    EntryChanged,    // the copy changed, and its entry was replaced meanwhile
    CopyUnreadable,  // the copy cannot be read (gone, or held by its program)
};

// What became of the entry a changed copy came from: Changed when the vault
// still holds it as `base` says, EntryChanged when it was replaced, EntryGone
// when the vault has no file entry of that name (or cannot be read).
CopyState EntryStateSince(const std::string& vaultPath, const EntryStamp& base);

// Compares the copy at copyPath with `base`, the stamp of its entry when the
// copy was made (or when it was last put back), and looks at the entry as
// the vault holds it now.
CopyState CompareOpenedCopy(const std::string& vaultPath, const EntryStamp& base, const std::string& copyPath);

enum class PutBackResult {
    Replaced,  // the entry now holds the copy's content under its own name
    Added,     // AddCopyAs: a new entry holds it
    Taken,     // AddCopyAs: an entry of that name exists (any case)
    Failed,    // the vault was not changed (or could not be read back)
};

// Replaces the content of the entry storedPath with the copy, as a replace
// of the add batch does: the entry keeps its name; size, packed size and
// times are the copy's. The model's list follows (its rows must be rebuilt).
// *now receives the entry's new stamp.
PutBackResult PutBackCopy(CVaultModel& model, const AddBatchHooks& hooks, const std::string& storedPath,
                          const std::string& copyPath, EntryStamp* now);

// Adds the copy as a new file entry storedPath (its entry was deleted or
// renamed meanwhile), through the model's add; the list gains it.
PutBackResult AddCopyAs(CVaultModel& model, const std::string& storedPath, const std::string& copyPath,
                        EntryStamp* now);
