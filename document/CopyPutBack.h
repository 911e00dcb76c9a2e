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

enum class CopyState {
    Unchanged,       // the copy's size and CRC-32 are those it was made with
    Changed,         // the copy changed and its entry is as it was: put it back?
    EntryGone,       // the copy changed, and the vault has no entry of that name now
    EntryChanged,    // the copy changed, and its entry was replaced meanwhile
    CopyUnreadable,  // the copy cannot be read (gone, or held by its program)
};

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
