// hollowbox-vault rename: one entry or a folder tree renamed in place under
// the same delete journal as the program's rewrites.
#include "cli/ToolCommon.h"
#include "document/DeleteJournal.h"
#include "document/EntryRename.h"
#include "document/JournalParking.h"
#include "document/VaultCompaction.h"
#include "document/VaultRecovery.h"
#include "vault/fileio/FileIo.h"

namespace hbcli {

const char kRenameHelp[] =
    "Usage: hollowbox-vault rename [--journal FILE] VAULT OLD NEW\n"
    "\n"
    "Renames the entry OLD to NEW within its folder. OLD is written as stored\n"
    "(dir/a.txt) or with backslashes (dir\\a.txt) and matches without regard\n"
    "to case; a folder OLD renames the folder and everything below it. NEW is\n"
    "the new last part of the name (dir/b.txt is accepted for dir/a.txt too).\n"
    "A change of case only is a rename. The entries' data, sizes and times\n"
    "stay as they are.\n"
    "Nothing is changed (exit status 1) when OLD matches nothing, when another\n"
    "entry of the folder already has the name NEW in any case, or when NEW is\n"
    "not a usable name: empty, \".\" or \"..\", ending in a blank or '.', with\n"
    "one of \\ / : * ? \" < > | or a control character, or making a stored name\n"
    "longer than 259 bytes.\n"
    "The vault is rewritten in place (a longer name makes it longer by at most\n"
    "a few blocks per entry). The rewrite is guarded by the delete journal\n"
    "beside the add journal (default: the program's own, in the temporary\n"
    "folder; --journal names the add journal), so a rename that is stopped is\n"
    "finished by \"recover\" or by the program.\n";

namespace {

// The vault's names, decoded to UTF-8 (the form the user types them in).
bool ReadNames(const std::string& vaultPath, std::vector<std::string>* names) {
    std::vector<vault::StoredName> stored;
    names->clear();
    if (!compaction::ReadStoredNames(vaultPath, &stored)) return false;
    for (const vault::StoredName& n : stored) names->push_back(vault::DecodeEntryName(n.bytes, n.utf8));
    return true;
}

std::string Slashed(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    while (!name.empty() && name.back() == '/') name.pop_back();
    return name;
}

// NEW as the last part of a name: a path is taken when its folder is OLD's.
bool NewLeaf(const std::string& oldName, const std::string& newName, std::string* leaf) {
    const std::string from = Slashed(oldName), to = Slashed(newName);
    const size_t cut = to.rfind('/');
    if (cut == std::string::npos || newName.find_first_of("/\\") == std::string::npos) {
        *leaf = newName;
        return true;
    }
    const size_t oldCut = from.rfind('/');
    const std::string folder = oldCut == std::string::npos ? std::string() : from.substr(0, oldCut);
    if (UpperAscii(to.substr(0, cut)) != UpperAscii(folder)) return false;
    *leaf = to.substr(cut + 1);
    return true;
}

// Reports why a rename cannot go ahead; true when it can.
bool Report(Session& s, const std::string& vaultPath, renaming::Check check, const std::string& oldName,
            const std::string& newName) {
    switch (check) {
        case renaming::Check::Ok: return true;
        case renaming::Check::NotFound: s.Error(vaultPath + ": no entry " + Quoted(oldName)); break;
        case renaming::Check::Unusable: s.Error(Quoted(newName) + ": not a usable name"); break;
        case renaming::Check::Taken:
            s.Error(vaultPath + ": the name " + Quoted(newName) + " is taken in that folder");
            break;
    }
    s.Note("nothing renamed");
    return false;
}

}  // namespace

int CommandRename(Session& s, const Arguments& a) {
    if (a.positional.size() != 3) throw UsageError{"rename needs a VAULT, an OLD and a NEW name"};
    const std::string& vaultPath = a.positional[0];
    const std::string& oldName = a.positional[1];
    const std::string& newName = a.positional[2];
    auto jv = a.values.find("--journal");
    const std::string journalPath = jv != a.values.end() ? jv->second : AddJournalPath();
    if (!fileio::Exists(vaultPath)) {
        s.Error(vaultPath + ": " + ReaderText(kVaultNoFile));
        return kExitFailure;
    }
    std::string leaf;
    if (!NewLeaf(oldName, newName, &leaf)) {
        s.Error(Quoted(newName) + ": a rename stays in the folder of " + Quoted(oldName));
        s.Note("nothing renamed");
        return kExitFailure;
    }

    // The names are checked before anything is written, recovery included
    // (unless the directory cannot be read without it).
    const std::string deleteJournal = deljournal::DeleteJournalPathFor(journalPath);
    std::vector<std::string> stored;
    std::vector<std::pair<std::string, std::string>> renames;
    if (fileio::Exists(journalPath) || fileio::Exists(deleteJournal) || fileio::Exists(deleteJournal + ".new") ||
        !parking::ParkedJournals(journalPath).empty() || !parking::ParkedJournals(deleteJournal).empty()) {
        if (ReadNames(vaultPath, &stored) &&
            !Report(s, vaultPath, renaming::PlanRename(stored, oldName, leaf, &renames), oldName, newName))
            return kExitFailure;
        if (!RecoverBeforeWrite(s, vaultPath, journalPath, false)) return kExitFailure;
    }
    if (!ReadNames(vaultPath, &stored)) {
        s.Error(vaultPath + ": " + compaction::StatusText(compaction::Status::NotAVault) + "; nothing renamed");
        return kExitFailure;
    }
    if (!Report(s, vaultPath, renaming::PlanRename(stored, oldName, leaf, &renames), oldName, newName))
        return kExitFailure;

    std::map<std::string, std::string> wanted(renames.begin(), renames.end());
    compaction::Options options;
    options.journalPath = deleteJournal;
    options.pump = [&s] { s.Progress("rewriting the vault..."); };
    compaction::Outcome out = compaction::RenameEntries(
        vaultPath,
        [&wanted](const std::string& name, bool utf8, compaction::NewName* to) {
            const auto it = wanted.find(vault::DecodeEntryName(name, utf8));
            if (it == wanted.end()) return false;
            const renaming::StoredName n = renaming::StoredNameOf(it->second);
            to->bytes = n.bytes;
            to->utf8 = n.utf8;
            return true;
        },
        options);
    compaction::FinishFromJournal(vaultPath, options, &out);
    s.ClearProgress();
    if (!out.parkedJournal.empty())
        s.Note(deleteJournal + ": delete journal of another vault; parked as " + out.parkedJournal);
    if (out.status == compaction::Status::NothingMatched) {
        s.Out() << vaultPath << ": " << Quoted(oldName) << " already has that name\n";
        return kExitOk;
    }
    if (out.status != compaction::Status::Done) {
        s.Error(vaultPath + ": " + compaction::StatusText(out.status) +
                (out.status == compaction::Status::WriteFailed ? " (run \"recover\")" : "; nothing renamed"));
        return kExitFailure;
    }
    for (const auto& r : out.renamed) s.Out() << "renamed " << r.first << " -> " << r.second << "\n";
    s.Out() << vaultPath << ": " << out.renamed.size() << (out.renamed.size() == 1 ? " entry" : " entries")
            << " renamed\n";
    return s.Failed() ? kExitFailure : kExitOk;
}

}  // namespace hbcli
