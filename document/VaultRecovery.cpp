// Repair of a vault whose add did not finish, from the add journal; the
// decision of what to do with a journal is DecideJournal's, shared with the
// vault tool.
#include "document/VaultRecovery.h"

#include "document/AddJournal.h"
#include "document/DeleteJournal.h"
#include "document/JournalParking.h"
#include "document/VaultCompaction.h"
#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"
#include "vault/writer/VaultWriter.h"

std::string AddJournalPath() { return fileio::TempFolder() + kAddJournalName; }

namespace {

// Puts back or removes a journal of this vault as DecideJournal said; false
// when putting it back failed (it stays to be applied again).
bool ActOn(const journal::JournalDecision& d, const std::string& vaultPath, const std::string& journalPath) {
    switch (d.action) {
        case journal::JournalAction::Apply:
            if (!journal::ApplyJournal(vaultPath, journalPath)) return false;
            fileio::Remove(journalPath);
            return true;
        case journal::JournalAction::Discard:
            fileio::Remove(journalPath);
            return true;
        case journal::JournalAction::None:
        case journal::JournalAction::Keep:
            break;
    }
    return true;
}

}  // namespace

int RecoverVault(const std::string& vaultPath, const std::string& journalPath) {
    // A new vault is built beside its place and takes its name only when
    // complete (vault writer); one whose first add stopped left that file.
    const std::string unfinished = vaultPath + ".new";
    if (fileio::Exists(unfinished)) fileio::Remove(unfinished);
    // Files a stop left beside the vault and the journals while their usual
    // side name was taken; the add journal's own side name never became the
    // journal either. (The delete journal's is the delete recovery's.)
    vault::RemoveStrayFilesBeside(vaultPath);
    vault::RemoveStrayFilesBeside(journalPath);
    vault::RemoveStrayFilesBeside(deljournal::DeleteJournalPathFor(journalPath));
    if (fileio::Exists(journalPath + ".new")) fileio::Remove(journalPath + ".new");

    // No vault: nothing to repair, and a journal is left for its own vault.
    if (!fileio::Exists(vaultPath)) return 0;
    if (!RecoverDeleteBeside(vaultPath, journalPath)) return 0;  // a delete to finish first

    const journal::JournalDecision d = journal::DecideJournal(vaultPath, journalPath);
    if (!ActOn(d, vaultPath, journalPath)) return 0;
    bool used = d.action == journal::JournalAction::Apply || d.action == journal::JournalAction::Discard;
    // Then the journals of other vaults' adds parked beside it: one of them
    // may be this vault's, parked while another vault was being written.
    for (const std::string& parked : parking::ParkedJournals(journalPath)) {
        const journal::JournalDecision p = journal::DecideJournal(vaultPath, parked);
        if (!ActOn(p, vaultPath, parked)) return 0;
        used = used || p.action == journal::JournalAction::Apply || p.action == journal::JournalAction::Discard;
    }
    if (used) return 1;
    // No journal of this vault. Only a file that is exactly the empty vault
    // is given up (the next add makes a new one): a vault whose directory
    // cannot be read may still hold every entry's data, and an end record
    // found by the backward scan may be bytes inside an entry's data.
    if (journal::IsExactlyEmptyVault(vaultPath)) return fileio::Remove(vaultPath) ? 1 : 0;
    if (d.action == journal::JournalAction::Keep) return d.vaultListable ? 1 : 0;
    VaultHandle* reader = OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    if (!reader) return 0;
    ZipEntryInfo info;
    const uint32_t rc = ReadEntryInfo(reader, -1, &info);
    CloseVaultHandle(reader);
    return rc == kVaultOk && info.index != 0 ? 1 : 0;
}
