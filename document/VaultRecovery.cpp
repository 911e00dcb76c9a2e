#include "document/VaultRecovery.h"

#include "document/AddJournal.h"
#include "document/VaultCompaction.h"

#include <cstdint>
#include <vector>

#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace {

using namespace vault;

// Largest journal taken seriously: a directory tail of a vault below 4 GiB
// is far smaller, but the limit keeps a damaged file from exhausting memory.
constexpr uint64_t kMaxJournalBytes = 0x40000000ull;

bool ReadWhole(CFile& file, std::vector<uint8_t>* out) {
    uint64_t size = 0;
    if (!file.Size(&size) || size > kMaxJournalBytes) return false;
    out->resize(static_cast<size_t>(size));
    return size == 0 || file.ReadAt(0, out->data(), out->size());
}

}  // namespace

std::string AddJournalPath() { return fileio::TempFolder() + kAddJournalName; }

int RecoverVault(const std::string& vaultPath, const std::string& journalPath) {
    if (!RecoverDeleteBeside(vaultPath, journalPath)) return 0;  // a delete to finish first
    VaultHandle* reader = OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    if (!reader) return 0;
    ZipEntryInfo info;
    const uint32_t rc = ReadEntryInfo(reader, -1, &info);
    CloseVaultHandle(reader);
    if (rc == kVaultOk && info.index != 0) {
        // The vault lists its entries: whatever the journal holds is stale.
        fileio::Remove(journalPath);
        return 1;
    }

    CFile vaultFile;
    if (!vaultFile.Open(vaultPath, CFile::Mode::ReadWriteExisting)) return 0;
    CFile journalFile;
    if (!journalFile.Open(journalPath, CFile::Mode::Read)) {
        // No journal: only a vault whose end record is there and lists no
        // entries is given up (the next add makes a new one). A vault whose
        // directory cannot be read may still hold every entry's data.
        DirectoryInfo dir;
        if (LocateDirectory(vaultFile, &dir) != VaultStatus::Ok || dir.entryCount != 0) return 0;
        vaultFile.Close();
        return fileio::Remove(vaultPath) ? 1 : 0;
    }

    std::vector<uint8_t> bytes;
    journal::JournalTail tail;
    if (!ReadWhole(journalFile, &bytes) || !journal::ParseJournalTail(bytes, &tail, nullptr))
        return 0;
    const uint64_t offset = tail.offset;
    uint64_t vaultSize = 0;
    journalFile.Close();
    // The tail goes right after the last entry's data; a position beyond the
    // file's end cannot belong to this vault.
    if (!vaultFile.Size(&vaultSize) || offset > vaultSize) return 0;
    // The journal's place is shared by every vault: one left by an add to
    // another disk's vault must not be written into this one. A tail that
    // lists entries belongs here only when those entries' local records are
    // in this vault.
    if (tail.end.entriesTotal != 0) {
        vaultFile.Close();
        if (journal::ExamineJournal(vaultPath, journalPath).state != journal::JournalState::Matches)
            return 0;
        if (!vaultFile.Open(vaultPath, CFile::Mode::ReadWriteExisting)) return 0;
    }

    // Cut first, then write: should this stop halfway, the journal is still
    // there to be applied again.
    if (!vaultFile.Truncate(offset) || !vaultFile.Seek(offset) ||
        !vaultFile.Write(bytes.data() + 4, bytes.size() - 4) || !vaultFile.Flush()) {
        return 0;
    }
    vaultFile.Close();
    fileio::Remove(journalPath);
    return 1;
}
