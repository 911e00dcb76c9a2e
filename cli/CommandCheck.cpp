// hollowbox-vault check and recover: verifying a vault record by record, and repairing it from the add journal.
#include "cli/ToolCommon.h"
#include "document/AddJournal.h"
#include "document/JournalParking.h"
#include "document/VaultRecovery.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace hbcli {

int CommandCheck(Session& s, const Arguments& a) {
    if (a.positional.size() != 1) throw UsageError{"check needs exactly one VAULT"};
    const std::string& path = a.positional[0];
    std::vector<std::string> faults;
    auto fault = [&](const std::string& f) {
        s.Error(path + ": " + f);
        faults.push_back(f);
    };

    CFile file;
    if (!file.Open(path, CFile::Mode::Read)) {
        s.Error(path + ": " + ReaderText(kVaultNoFile));
        return kExitFailure;
    }
    vault::DirectoryInfo dir;
    vault::VaultStatus st = vault::LocateDirectory(file, &dir);
    if (st != vault::VaultStatus::Ok) {
        fault(std::string("no valid end record (") + vault::VaultStatusName(st) + ")");
        return kExitFailure;
    }
    if (dir.prefixBytes != 0)
        fault(std::to_string(dir.prefixBytes) + " unexplained bytes in front of the central directory");

    // Every central record and the local record it points at.
    std::vector<vault::CentralRecord> centrals;
    vault::CentralDirectoryWalker walker(&file, dir);
    uint64_t expectedLocal = 0;
    for (uint32_t i = 0; i < dir.entryCount; ++i) {
        st = i == 0 ? walker.First() : walker.Next();
        if (st != vault::VaultStatus::Ok) {
            fault("central record " + std::to_string(i) + " cannot be read (" + vault::VaultStatusName(st) + ")");
            break;
        }
        const vault::CentralRecord& c = walker.Record();
        centrals.push_back(c);
        std::string label = "entry " + std::to_string(i) + " " + Quoted(c.name);
        vault::LocalEntry local;
        st = vault::CheckLocalRecord(file, dir, c.header, &local);
        if (st != vault::VaultStatus::Ok) {
            fault(label + ": local record does not match its central record (" + vault::VaultStatusName(st) + ")");
            continue;
        }
        if (local.record.name != c.name) fault(label + ": local record holds another name");
        if (c.header.localOffset + dir.prefixBytes < expectedLocal)
            fault(label + ": local record overlaps the entry before it");
        expectedLocal = local.dataStart + c.header.compressedSize;
    }
    if (faults.empty() && walker.Valid() && dir.entryCount &&
        walker.Position() + walker.RecordLength() != dir.endPosition)
        fault("central directory size does not match its records");

    // Every entry's data through the reader, against its central record.
    if (faults.empty() && dir.entryCount > 0) {
        OpenVault v;
        if (!LoadVault(s, path, &v, true)) return kExitFailure;
        if (v.entries.size() != dir.entryCount) fault("the reader lists a different number of entries");
        for (size_t i = 0; i < v.entries.size(); ++i) {
            const Entry& e = v.entries[i];
            std::string label = "entry " + std::to_string(i) + " " + Quoted(e.name);
            s.Progress("checking " + std::to_string(i + 1) + "/" + std::to_string(v.entries.size()) + " " + e.name);
            if (!e.infoOk) {
                fault(label + ": " + ReaderText(e.infoResult));
                continue;
            }
            if (i < centrals.size() && centrals[i].name != e.info.storedName && !e.info.storedName.empty())
                fault(label + ": the reader and the directory disagree on the name");
            if (e.IsFolder()) {
                if (e.info.uncompressedSize != 0 || e.info.compressedSize != 0) fault(label + ": folder with data");
                continue;
            }
            std::string why;
            if (!StreamEntry(v.reader.get(), e, [](const uint8_t*, size_t) { return true; }, &why))
                fault(label + ": " + why);
        }
    }
    s.ClearProgress();
    if (!faults.empty()) {
        s.Note(path + ": " + std::to_string(faults.size()) + (faults.size() == 1 ? " fault" : " faults") +
               "; first: " + faults.front());
        return kExitFailure;
    }
    s.Out() << path << ": OK, " << dir.entryCount << (dir.entryCount == 1 ? " entry" : " entries") << "\n";
    return kExitOk;
}

int CommandRecover(Session& s, const Arguments& a) {
    if (a.positional.size() != 1) throw UsageError{"recover needs exactly one VAULT"};
    const std::string& vaultPath = a.positional[0];
    std::string journalPath;
    if (!JournalPathOption(s, a, &journalPath)) return kExitFailure;
    if (!fileio::Exists(vaultPath)) {
        s.Error(vaultPath + ": " + ReaderText(kVaultNoFile));
        return kExitFailure;
    }
    // Whether a journal of this vault (at the name or parked beside it) puts
    // the vault's directory back.
    std::vector<std::string> journals = parking::ParkedJournals(journalPath);
    journals.insert(journals.begin(), journalPath);
    std::vector<std::string> applying;
    for (const std::string& j : journals)
        if (journal::DecideJournal(vaultPath, j).action == journal::JournalAction::Apply) applying.push_back(j);
    if (!RecoverBeforeWrite(s, vaultPath, journalPath, false)) return kExitFailure;
    if (!fileio::Exists(vaultPath)) {
        s.Out() << vaultPath << ": empty vault removed; the next add creates it anew\n";
        return kExitOk;
    }
    HandlePtr r(OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, ""));
    ZipEntryInfo head;
    if (r && ReadEntryInfo(r.get(), -1, &head) == kVaultOk) {
        bool used = false;
        for (const std::string& j : applying) used = used || !fileio::Exists(j);
        s.Out() << vaultPath << ": " << (used ? "recovered" : "intact") << ", " << head.index
                << (head.index == 1 ? " entry" : " entries") << "\n";
        return s.Failed() ? kExitFailure : kExitOk;
    }
    if (IsEmptyVault(vaultPath)) {
        s.Out() << vaultPath << ": intact, 0 entries\n";
        return kExitOk;
    }
    s.Error(vaultPath + ": the directory cannot be read and " +
            (fileio::Exists(journalPath) ? "the journal could not repair it" : "there is no journal to repair it from"));
    return kExitFailure;
}

}  // namespace hbcli
