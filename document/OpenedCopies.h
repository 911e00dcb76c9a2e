// Plain copies of entries that are opened with their program. They live in a
// folder of their own under the temporary folder, are created new (never
// over an existing file or link), and are overwritten before they are
// deleted, so that as little plaintext as possible stays on the computer.
#pragma once

#include <string>
#include <vector>

// The folder of opened copies below tempFolder (which ends in a separator),
// with a trailing separator.
std::string OpenedCopiesFolder(const std::string& tempFolder);

// Unpacks the file entry of exactly entryPath (either separator) from the
// vault into a new file "qv<number>.<extension>" in folder (created when
// missing), with the entry's times; *copyPath receives its path. Each call
// makes a new file. False when the vault, the entry or the data cannot be
// read or the file cannot be written; no file is left then.
bool ExtractToTemp(const std::string& vaultPath, const std::string& entryPath,
                   const std::string& folder, std::string* copyPath);

// Clears the read-only attribute, overwrites the file's bytes with zeros
// (best effort: a file held open by another program may refuse) and deletes
// it. True when the file is gone.
bool WipeAndRemove(const std::string& path);

// Wipes and removes every file in folder whose path is not in keep; returns
// how many went.
size_t SweepOpenedCopies(const std::string& folder, const std::vector<std::string>& keep);

// The folder below the opened copies' folder where copies the user chose to
// keep go (the sweeps leave it alone), with a trailing separator.
std::string KeptCopiesFolder(const std::string& openedFolder);

// Moves the copy into the kept folder under leafName (" (2)" and so on
// before the extension when taken), or copies it there and wipes it when it
// cannot be moved. The kept file's path; empty when neither worked (the copy
// stays where it is).
std::string KeepCopy(const std::string& copyPath, const std::string& openedFolder, const std::string& leafName);
