// Repair of a vault whose add did not finish, from the add journal.
#pragma once

#include <string>

// The add journal's file name in the temporary folder: a 4-byte offset into
// the vault, then the bytes that belong at that offset.
constexpr const char kAddJournalName[] = "qv0327711.tmp";

// Full path of the add journal: the temporary folder plus its name.
std::string AddJournalPath();

// Puts the journal's bytes back into the vault when the vault's directory is
// unusable, and removes the journal when it is no longer needed. Returns 1
// when the vault was repaired (or needed nothing), 0 when it was left as it is.
int RecoverVault(const std::string& vaultPath, const std::string& journalPath);
