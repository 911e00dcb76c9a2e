// hollowbox-vault delete: entries and folder trees out of a vault, compacted
// in place under the same delete journal as the program's.
#include "cli/ToolCommon.h"
#include "document/DeleteJournal.h"
#include "document/JournalParking.h"
#include "document/VaultCompaction.h"
#include "document/VaultRecovery.h"
#include "vault/fileio/FileIo.h"

namespace hbcli {

const char kDeleteHelp[] =
    "Usage: hollowbox-vault delete [--journal FILE] [--codepage N] VAULT NAME...\n"
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

// Does the entry's name (decoded) go with this request ("/" form, no
// trailing "/", upper case)?
bool Selected(const std::string& name, const std::string& want) {
    const std::string upper = FoldName(name);
    const std::string plain = FoldName(RequestedName(name));
    return plain == want || upper.compare(0, want.size() + 1, want + "/") == 0;
}

bool Selected(const vault::StoredName& stored, const std::string& want) {
    return Selected(vault::DecodeEntryName(stored.bytes, stored.utf8), want);
}

// The requests that select no stored name.
std::vector<std::string> Unmatched(const std::vector<vault::StoredName>& stored,
                                   const std::vector<std::string>& requested) {
    std::vector<std::string> names;
    for (const vault::StoredName& n : stored) names.push_back(vault::DecodeEntryName(n.bytes, n.utf8));
    std::vector<std::string> out;
    for (const std::string& r : requested) {
        const std::string want = FoldName(RequestedName(r));
        bool found = false;
        for (const std::string& n : names) found = found || (!want.empty() && Selected(n, want));
        if (!found) out.push_back(r);
    }
    return out;
}

bool ReportUnmatched(Session& s, const std::string& vaultPath, const std::vector<vault::StoredName>& stored,
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

    // The names are checked before anything is written, recovery included
    // (unless the directory cannot be read without it). With no journal
    // about, the rewrite's own reading of the directory checks them.
    const std::string deleteJournal = deljournal::DeleteJournalPathFor(journalPath);
    std::vector<vault::StoredName> stored;
    if (fileio::Exists(journalPath) || fileio::Exists(deleteJournal) || fileio::Exists(deleteJournal + ".new") ||
        !parking::ParkedJournals(journalPath).empty() || !parking::ParkedJournals(deleteJournal).empty()) {
        if (compaction::ReadStoredNames(vaultPath, &stored) && ReportUnmatched(s, vaultPath, stored, requested))
            return kExitFailure;
        if (!RecoverBeforeWrite(s, vaultPath, journalPath, false)) return kExitFailure;
    }

    std::vector<std::string> wanted;
    for (const std::string& r : requested) wanted.push_back(FoldName(RequestedName(r)));
    compaction::Options options;
    options.journalPath = deleteJournal;
    options.approve = [&](const std::vector<vault::StoredName>& names, const std::vector<vault::StoredName>&) {
        return !ReportUnmatched(s, vaultPath, names, requested);
    };
    options.pump = [&s] { s.Progress("rewriting the vault..."); };
    compaction::Outcome out = compaction::CompactVault(
        vaultPath,
        compaction::NameSelector([&wanted](const std::string& bytes, bool utf8) {
            const std::string name = vault::DecodeEntryName(bytes, utf8);
            for (const std::string& w : wanted)
                if (Selected(name, w)) return true;
            return false;
        }),
        options);
    compaction::FinishFromJournal(vaultPath, options, &out);
    s.ClearProgress();
    if (!out.parkedJournal.empty())
        s.Note(deleteJournal + ": delete journal of another vault; parked as " + out.parkedJournal);
    if (out.status == compaction::Status::Declined) return kExitFailure;
    if (out.status != compaction::Status::Done) {
        s.Error(vaultPath + ": " + compaction::StatusText(out.status) +
                (out.status == compaction::Status::WriteFailed ? " (run \"recover\")" : "; nothing deleted"));
        return kExitFailure;
    }
    for (size_t i = 0; i < out.deleted.size(); ++i)
        s.Out() << "deleted " << vault::DecodeEntryName(out.deleted[i], out.deletedUtf8[i]) << "\n";
    s.Out() << vaultPath << ": " << out.deleted.size() << (out.deleted.size() == 1 ? " entry" : " entries")
            << " deleted, " << out.entriesKept << " left\n";
    return s.Failed() ? kExitFailure : kExitOk;
}

}  // namespace hbcli
