// Repair of a vault whose add did not finish, from the add journal.
#pragma once

#include <string>

// The add journal's file name in the temporary folder: a 4-byte offset into
// the vault, then the bytes that belong at that offset.
constexpr const char kAddJournalName[] = "qv0327711.tmp";

// Full path of the add journal: the temporary folder plus its name.
std::string AddJournalPath();

// Acts on journal::DecideJournal: puts the journal's bytes back into the
// vault when the journal belongs to it and the vault's directory cannot be
// listed, and removes the journal only when it belongs to this vault and is
// no longer needed; any other journal stays for the vault it belongs to.
// Without a journal of this vault, a file that is exactly the empty vault is
// deleted (the next add makes a new one). Journals of both kinds parked
// beside their fixed names (JournalParking.h) are looked at too: one of this
// vault is used and removed as the fixed-name one would be, any other stays
// parked. Also removes the unfinished new
// vault that a stopped first add leaves beside the vault. Returns 1 when the
// vault was repaired (or needed nothing), 0 when it was left as it is.
int RecoverVault(const std::string& vaultPath, const std::string& journalPath);
