// Finishing a vault rewrite that was stopped, from the delete journal. The
// journal lies in the temporary folder shared by every disk, so before it is
// applied the vault must be shown to be the one it was written for, in a
// state the rewrite can have left it in.
#include <algorithm>
#include <vector>

#include "document/CompactionSteps.h"
#include "document/JournalParking.h"
#include "document/VaultCompaction.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace compaction {

namespace {

using namespace vault;

// Before and during the moves the old directory and end record are as they
// were: the moves only write below the directory.
bool OldTailIntact(CFile& file, uint64_t size, const deljournal::Plan& plan) {
    uint32_t crc = 0;
    return size == plan.oldSize && RangeCrc(file, plan.oldDirStart, plan.oldSize, &crc) &&
           crc == plan.oldTailCrc;
}

// After the moves every kept entry's local record is at the offset its new
// central record names.
bool KeptEntriesInPlace(CFile& file, const deljournal::Plan& plan) {
    const std::vector<uint8_t>& tail = plan.tail;
    size_t p = 0;
    const size_t records = tail.size() - kEndBlockSize;
    while (p < records) {
        if (records - p < kCentralProbeSize) return false;
        uint8_t plain[kCentralProbeSize];
        CentralHeader c;
        if (!DecipherRecord(tail.data() + p, plain, sizeof plain) ||
            DecodeCentralHeader(plain, sizeof plain, &c) != VaultStatus::Ok || c.RecordLength() > records - p)
            return false;
        LocalHeader h;
        if (ReadLocalHeader(file, c.localOffset, plan.newDirOffset, &h) != VaultStatus::Ok ||
            h.nameLength != c.nameLength || h.method != c.method)
            return false;
        if (!(h.flags & kFlagDescriptor) && (h.crc != c.crc || h.compressedSize != c.compressedSize))
            return false;
        p += static_cast<size_t>(c.RecordLength());
    }
    return true;
}

// A rename's vault at any point of its rewrite: nothing below the first
// renamed entry's local record has changed, that record's first 32 bytes
// are the old ones or the new ones, and the file is between the old and
// the new size.
bool RenamedVaultMatches(CFile& file, uint64_t size, const deljournal::Plan& plan) {
    if (size < std::min(plan.oldSize, plan.newSize) || size > std::max(plan.oldSize, plan.newSize)) return false;
    uint32_t guard = 0, head = 0;
    return RangeCrc(file, plan.guardStart, plan.firstWrite, &guard) && guard == plan.guardCrc &&
           RangeCrc(file, plan.firstWrite, plan.firstWrite + kLocalProbeSize, &head) &&
           (head == plan.headOldCrc || head == plan.headNewCrc);
}

// Finishes a rename from wherever it stopped: the room for longer names,
// the moves from the recorded progress on, then the new local records and
// the tail (written again whole, whatever of them reached the disk).
bool FinishRename(CFile& file, uint64_t size, deljournal::CJournal& journal, const Options& options) {
    const deljournal::Plan& plan = journal.GetPlan();
    if (size < plan.newSize && !Extend(file, size, plan.newSize)) return false;
    if (plan.whole) return WriteWhole(file, plan, options);
    return RunMoves(file, &journal, plan, journal.GetProgress(), options, nullptr) && WriteTail(file, plan);
}

bool TailInPlace(CFile& file, uint64_t size, const deljournal::Plan& plan) {
    if (size != plan.newSize) return false;
    std::vector<uint8_t> bytes(plan.tail.size());
    return file.ReadAt(plan.newDirOffset, bytes.data(), bytes.size()) && bytes == plan.tail;
}

}  // namespace

RecoveryStatus RecoverDelete(const std::string& vaultPath, const std::string& journalPath,
                             const Options& options) {
    // A journal still under its side name never became the journal: its
    // rewrite did not begin.
    const bool sideFile = fileio::Exists(journalPath + ".new");
    if (sideFile) fileio::Remove(journalPath + ".new");
    if (!fileio::Exists(journalPath)) return sideFile ? RecoveryStatus::Discarded : RecoveryStatus::NoJournal;

    deljournal::CJournal journal;
    bool uncommitted = false;
    if (!journal.Load(journalPath, &uncommitted)) return RecoveryStatus::NotThisVault;
    const deljournal::Plan& plan = journal.GetPlan();
    const deljournal::Progress& progress = journal.GetProgress();

    CFile file;
    uint64_t size = 0;
    if (!file.Open(vaultPath, CFile::Mode::ReadWriteExisting) || !file.Size(&size))
        return RecoveryStatus::NotThisVault;
    if (plan.rename) {
        if (!RenamedVaultMatches(file, size, plan)) return RecoveryStatus::NotThisVault;
        Options run = options;
        run.journalPath = journalPath;
        if (!FinishRename(file, size, journal, run)) return RecoveryStatus::Failed;
        file.Close();
        journal.Close();
        fileio::Remove(journalPath);
        return RecoveryStatus::Finished;
    }
    if (plan.whole) {
        // Every byte to write is in the journal: the rewrite is done again
        // whenever the bytes it never writes show this is the vault.
        uint32_t guard = 0, endCrc = 0;
        const bool before = size == plan.oldSize && RangeCrc(file, size - kEndBlockSize, size, &endCrc) &&
                            endCrc == plan.oldEndCrc;
        if ((!before && size != plan.newSize) || !RangeCrc(file, plan.guardStart, plan.ImageStart(), &guard) ||
            guard != plan.guardCrc)
            return RecoveryStatus::NotThisVault;
        if (!WriteWhole(file, plan, options)) return RecoveryStatus::Failed;
        file.Close();
        journal.Close();
        fileio::Remove(journalPath);
        return RecoveryStatus::Finished;
    }
    const bool movesDone = progress.move == plan.moves.size();
    if (movesDone && TailInPlace(file, size, plan)) {
        // Finished; only the journal's removal was lost.
        file.Close();
        journal.Close();
        fileio::Remove(journalPath);
        return RecoveryStatus::Finished;
    }
    if (movesDone) {
        // The old end block is still there, or the file was cut already but
        // the tail before the cut did not reach the disk.
        uint32_t endCrc = 0;
        const bool before = size == plan.oldSize && RangeCrc(file, size - kEndBlockSize, size, &endCrc) &&
                            endCrc == plan.oldEndCrc;
        if ((!before && size != plan.newSize) || !KeptEntriesInPlace(file, plan))
            return RecoveryStatus::NotThisVault;
    } else if (!OldTailIntact(file, size, plan)) {
        return RecoveryStatus::NotThisVault;
    }

    Options run = options;
    run.journalPath = journalPath;
    if (!RunMoves(file, &journal, plan, progress, run, nullptr) || !WriteTail(file, plan))
        return RecoveryStatus::Failed;
    file.Close();
    journal.Close();
    fileio::Remove(journalPath);
    return RecoveryStatus::Finished;
}

RecoveryStatus RecoverDeleteJournals(const std::string& vaultPath, const std::string& journalPath,
                                     const Options& options) {
    const RecoveryStatus status = RecoverDelete(vaultPath, journalPath, options);
    if (status == RecoveryStatus::Failed) return status;
    // A parked journal of this vault is finished and removed just as the
    // one at the fixed name; any other stays parked for its own vault.
    for (const std::string& parked : parking::ParkedJournals(journalPath))
        if (RecoverDelete(vaultPath, parked, options) == RecoveryStatus::Failed) return RecoveryStatus::Failed;
    return status;
}

bool FreeDeleteJournalPlace(const std::string& journalPath, std::string* parkedAs) {
    if (!fileio::Exists(journalPath)) return true;
    // Only a journal whose plan and progress are whole can be finished by
    // any vault; a damaged one is replaced by the next delete, as it always was.
    deljournal::CJournal journal;
    bool uncommitted = false;
    const bool whole = journal.Load(journalPath, &uncommitted);
    journal.Close();
    if (!whole) return true;
    return parking::ParkJournal(journalPath, parkedAs);
}

}  // namespace compaction

bool RecoverDeleteBeside(const std::string& vaultPath, const std::string& addJournalPath) {
    const std::string path = deljournal::DeleteJournalPathFor(addJournalPath);
    return compaction::RecoverDeleteJournals(vaultPath, path) != compaction::RecoveryStatus::Failed;
}
