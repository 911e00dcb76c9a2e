#include "document/VaultRecovery.h"

#include "document/AddJournal.h"

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

// The journal's bytes must be a directory tail: central records followed by
// a 32-byte end block whose directory size covers exactly those records and
// whose offset is the journal's own (or the journal's offset is still 0).
// Gives the offset at which the tail belongs.
bool ParseJournal(const std::vector<uint8_t>& journal, uint64_t* offset, uint32_t* entries) {
    if (journal.size() < 4 + kEndBlockSize) return false;
    const size_t tailSize = journal.size() - 4;
    const uint8_t* endBlock = journal.data() + journal.size() - kEndBlockSize;
    EndRecord end;
    if (DecodeEndRecord(endBlock, kEndBlockSize, &end) != VaultStatus::Ok) return false;
    if (end.signature != kEndSignature || end.diskNumber != 0 || end.directoryDisk != 0 ||
        end.entriesOnDisk != end.entriesTotal || end.commentLength != 0) {
        return false;
    }
    if (uint64_t(end.directorySize) + kEndBlockSize != tailSize) return false;
    const uint32_t stated = GetU32(journal.data());
    // A 0 offset belongs to a journal whose offset was never filled in; the
    // end record it carries says where the tail goes.
    if (stated != 0 && stated != end.directoryOffset) return false;
    *offset = end.directoryOffset;
    *entries = end.entriesTotal;
    return true;
}

bool ReadWhole(CFile& file, std::vector<uint8_t>* out) {
    uint64_t size = 0;
    if (!file.Size(&size) || size > kMaxJournalBytes) return false;
    out->resize(static_cast<size_t>(size));
    return size == 0 || file.ReadAt(0, out->data(), out->size());
}

}  // namespace

std::string AddJournalPath() { return fileio::TempFolder() + kAddJournalName; }

int RecoverVault(const std::string& vaultPath, const std::string& journalPath) {
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

    std::vector<uint8_t> journal;
    uint64_t offset = 0, vaultSize = 0;
    uint32_t entries = 0;
    if (!ReadWhole(journalFile, &journal) || !ParseJournal(journal, &offset, &entries)) return 0;
    journalFile.Close();
    // The tail goes right after the last entry's data; a position beyond the
    // file's end cannot belong to this vault.
    if (!vaultFile.Size(&vaultSize) || offset > vaultSize) return 0;
    // The journal's place is shared by every vault: one left by an add to
    // another disk's vault must not be written into this one. A tail that
    // lists entries belongs here only when those entries' local records are
    // in this vault.
    if (entries != 0) {
        vaultFile.Close();
        if (journal::ExamineJournal(vaultPath, journalPath).state != journal::JournalState::Matches)
            return 0;
        if (!vaultFile.Open(vaultPath, CFile::Mode::ReadWriteExisting)) return 0;
    }

    // Cut first, then write: should this stop halfway, the journal is still
    // there to be applied again.
    if (!vaultFile.Truncate(offset) || !vaultFile.Seek(offset) ||
        !vaultFile.Write(journal.data() + 4, journal.size() - 4) || !vaultFile.Flush()) {
        return 0;
    }
    vaultFile.Close();
    fileio::Remove(journalPath);
    return 1;
}
