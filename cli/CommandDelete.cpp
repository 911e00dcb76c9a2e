// hollowbox-vault delete: entries and folder trees out of a vault, compacted
// in place under the same delete journal as the program's.
#include "cli/ToolCommon.h"
#include "document/DeleteJournal.h"
#include "document/VaultCompaction.h"
#include "document/VaultRecovery.h"
#include "vault/fileio/FileIo.h"

namespace hbcli {

const char kDeleteHelp[] =
    "Usage: hollowbox-vault delete [--journal FILE] VAULT NAME...\n"
    "\n"
    "Deletes the named entries. A NAME is written as stored (dir/a.txt) or\n"
    "with backslashes (dir\\a.txt) and matches without regard to case, so two\n"
    "entries whose names differ only in case both go. A folder NAME, with or\n"
    "without its trailing slash, deletes the folder and everything below it.\n"
    "If any NAME matches nothing, nothing is deleted and the vault is left\n"
    "exactly as it was (exit status 1).\n"
    "The vault is compacted in place: it needs no free space on its disk.\n"
    "The rewrite is guarded by the delete journal beside the add journal\n"
    "(default: the program's own, in the temporary folder; --journal names\n"
    "the add journal), so a delete that is stopped is finished by \"recover\"\n"
    "or by the program. A vault left with no entries is removed by the\n"
    "program's next recovery (or the next \"recover\").\n";

namespace {

// Does the stored name go with this request ("/" form, no trailing "/",
// upper case)?
bool Selected(const std::string& stored, const std::string& want) {
    const std::string name = UpperAscii(stored);
    const std::string plain = UpperAscii(RequestedName(stored));
    return plain == want || name.compare(0, want.size() + 1, want + "/") == 0;
}

// The requests that select no stored name.
std::vector<std::string> Unmatched(const std::vector<std::string>& stored,
                                   const std::vector<std::string>& requested) {
    std::vector<std::string> out;
    for (const std::string& r : requested) {
        const std::string want = UpperAscii(RequestedName(r));
        bool found = false;
        for (const std::string& s : stored) found = found || (!want.empty() && Selected(s, want));
        if (!found) out.push_back(r);
    }
    return out;
}

bool ReportUnmatched(Session& s, const std::string& vaultPath, const std::vector<std::string>& stored,
                     const std::vector<std::string>& requested) {
    const std::vector<std::string> missing = Unmatched(stored, requested);
    for (const std::string& m : missing) s.Error(vaultPath + ": no entry " + Quoted(m));
    if (!missing.empty()) s.Note("nothing deleted");
    return !missing.empty();
}

}  // namespace

int CommandDelete(Session& s, const Arguments& a) {
    if (a.positional.size() < 2) throw UsageError{"delete needs a VAULT and at least one NAME"};
    const std::string& vaultPath = a.positional[0];
    const std::vector<std::string> requested(a.positional.begin() + 1, a.positional.end());
    auto jv = a.values.find("--journal");
    const std::string journalPath = jv != a.values.end() ? jv->second : AddJournalPath();
    if (!fileio::Exists(vaultPath)) {
        s.Error(vaultPath + ": " + ReaderText(kVaultNoFile));
        return kExitFailure;
    }

    // The names are checked before anything is written, recovery included,
    // unless the directory cannot be read without it.
    std::vector<std::string> stored;
    if (compaction::ReadStoredNames(vaultPath, &stored)) {
        if (ReportUnmatched(s, vaultPath, stored, requested)) return kExitFailure;
    }
    if (!RecoverBeforeWrite(s, vaultPath, journalPath, false)) return kExitFailure;
    if (!compaction::ReadStoredNames(vaultPath, &stored)) {
        s.Error(vaultPath + ": the vault's directory cannot be read; nothing deleted");
        return kExitFailure;
    }
    if (ReportUnmatched(s, vaultPath, stored, requested)) return kExitFailure;

    std::vector<std::string> wanted;
    for (const std::string& r : requested) wanted.push_back(UpperAscii(RequestedName(r)));
    compaction::Options options;
    options.journalPath = deljournal::DeleteJournalPathFor(journalPath);
    options.pump = [&s] { s.Progress("rewriting the vault..."); };
    compaction::Outcome out = compaction::CompactVault(
        vaultPath,
        [&wanted](const std::string& name) {
            for (const std::string& w : wanted)
                if (Selected(name, w)) return true;
            return false;
        },
        options);
    if (out.status == compaction::Status::WriteFailed &&
        compaction::RecoverDelete(vaultPath, options.journalPath, options) ==
            compaction::RecoveryStatus::Finished)
        out.status = compaction::Status::Done;
    s.ClearProgress();
    if (out.status != compaction::Status::Done) {
        s.Error(vaultPath + ": " + compaction::StatusText(out.status) +
                (out.status == compaction::Status::WriteFailed ? " (run \"recover\")" : "; nothing deleted"));
        return kExitFailure;
    }
    for (const std::string& name : out.deleted) s.Out() << "deleted " << name << "\n";
    s.Out() << vaultPath << ": " << out.deleted.size() << (out.deleted.size() == 1 ? " entry" : " entries")
            << " deleted, " << out.entriesKept << " left\n";
    return s.Failed() ? kExitFailure : kExitOk;
}

}  // namespace hbcli
