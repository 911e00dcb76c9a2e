// Finishing a vault rewrite that was stopped, from the delete journal. The
// journal lies in the temporary folder shared by every disk, so before it is
// applied the vault must be shown to be the one it was written for, in a
// state the rewrite can have left it in.
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "document/CompactionSteps.h"
#include "document/VaultCompaction.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace compaction {

namespace {

using namespace vault;

bool RangeCrc(CFile& file, uint64_t from, uint64_t to, uint32_t* crc) {
    uLong c = crc32(0L, Z_NULL, 0);
    std::vector<uint8_t> buf(64 * 1024);
    for (uint64_t x = from; x < to;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), to - x));
        if (!file.ReadAt(x, buf.data(), n)) return false;
        c = crc32(c, buf.data(), static_cast<uInt>(n));
        x += n;
    }
    *crc = static_cast<uint32_t>(c);
    return true;
}

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
    const bool movesDone = progress.move == plan.moves.size();
    if (movesDone && TailInPlace(file, size, plan)) {
        // Finished; only the journal's removal was lost.
        file.Close();
        journal.Close();
        fileio::Remove(journalPath);
        return RecoveryStatus::Finished;
    }
    if (movesDone) {
        uint32_t endCrc = 0;
        if (size != plan.oldSize || !RangeCrc(file, size - kEndBlockSize, size, &endCrc) ||
            endCrc != plan.oldEndCrc || !KeptEntriesInPlace(file, plan))
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

}  // namespace compaction

bool RecoverDeleteBeside(const std::string& vaultPath, const std::string& addJournalPath) {
    const std::string path = deljournal::DeleteJournalPathFor(addJournalPath);
    return compaction::RecoverDelete(vaultPath, path) != compaction::RecoveryStatus::Failed;
}
