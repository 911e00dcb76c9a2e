// Planning and running a compaction: reading the directory, choosing the
// records to go, working out the moves and the new directory tail, and
// carrying them out under the delete journal.
#include "document/VaultCompaction.h"

#include <algorithm>

#include "document/CompactionSteps.h"
#include "vault/format/NameCodec.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace compaction {

using namespace vault;

Status ReadDirectory(CFile& file, DirectoryInfo* dir, std::vector<DirRecord>* records) {
    if (LocateDirectory(file, dir) != VaultStatus::Ok) return Status::NotAVault;
    CentralDirectoryWalker walker(&file, *dir);
    VaultStatus st = walker.First();
    while (st == VaultStatus::Ok) {
        DirRecord r;
        r.position = walker.Position();
        r.length = walker.RecordLength();
        r.header = walker.Record().header;
        r.name = walker.Record().name;
        records->push_back(std::move(r));
        st = walker.Next();
    }
    return st == VaultStatus::EndOfList ? Status::Done : Status::NotAVault;
}

namespace {

// Works out the moves and the new tail. The records must list their local
// records in file order, each entry's data ending before the next entry
// (as every add leaves them); otherwise the vault is not moved.
Status MakePlan(CFile& file, const DirectoryInfo& dir, const std::vector<DirRecord>& records,
                const Options& options, deljournal::Plan* plan, uint32_t* kept,
                std::vector<std::pair<uint32_t, uint32_t>>* moved, uint64_t* journalRoom) {
    if (dir.prefixBytes != 0) return Status::Refused;
    uint64_t hole = UINT64_MAX;
    for (const DirRecord& r : records)
        if (r.deleted) hole = std::min<uint64_t>(hole, r.header.localOffset);
    uint64_t previous = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const uint64_t at = records[i].header.localOffset;
        if ((i > 0 && at <= previous) || at >= dir.directoryStart) return Status::Refused;
        previous = at;
    }

    plan->oldSize = dir.fileSize;
    plan->oldDirStart = dir.directoryStart;
    uint64_t cursor = hole;
    uint32_t keptCount = 0;
    uint64_t dirSize = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const DirRecord& r = records[i];
        if (r.deleted) continue;
        ++keptCount;
        std::vector<uint8_t> raw(static_cast<size_t>(r.length));
        if (!file.ReadAt(r.position, raw.data(), raw.size())) return Status::NotAVault;
        const uint64_t at = r.header.localOffset;
        if (at > hole) {
            LocalEntry local;
            if (CheckLocalRecord(file, dir, r.header, &local) != VaultStatus::Ok) return Status::Refused;
            uint64_t end = local.dataStart + r.header.compressedSize;
            if (local.record.header.flags & kFlagDescriptor) end += kDescriptorSize;
            const uint64_t limit = i + 1 < records.size() ? records[i + 1].header.localOffset
                                                          : dir.directoryStart;
            if (end > limit) return Status::Refused;
            const uint64_t extent = end - at;
            deljournal::Move* last = plan->moves.empty() ? nullptr : &plan->moves.back();
            if (last && last->src + last->len == at && last->dst + last->len == cursor) {
                last->len += extent;
            } else {
                plan->moves.push_back(deljournal::Move{at, cursor, extent});
            }
            // Only this record's offset changes: decipher, set it, encipher.
            std::vector<uint8_t> plain(raw.size());
            if (!DecipherRecord(raw.data(), plain.data(), plain.size())) return Status::NotAVault;
            PutU32(plain.data() + 42, static_cast<uint32_t>(cursor));
            moved->emplace_back(static_cast<uint32_t>(at), static_cast<uint32_t>(cursor));
            if (!EncipherRecord(plain.data(), raw.data(), raw.size())) return Status::NotAVault;
            cursor += extent;
        }
        plan->tail.insert(plan->tail.end(), raw.begin(), raw.end());
        dirSize += raw.size();
        if (plan->tail.size() > deljournal::kMaxTailBytes) return Status::Refused;
    }
    EndRecord end = dir.end;
    end.entriesOnDisk = end.entriesTotal = static_cast<uint16_t>(keptCount);
    EndTail(end, dirSize, cursor, plan);
    if (plan->newSize + kEndBlockSize > plan->oldSize || plan->oldSize < kEndBlockSize) return Status::Refused;

    const uint64_t room = deljournal::kMaxJournalBytes - deljournal::PlanBytes(*plan) - 4096;
    plan->slotCapacity = std::min({options.slotBytes, deljournal::kMaxSlotBytes, room / 2});
    *journalRoom = room;
    const bool ok = RangeCrc(file, plan->oldDirStart, plan->oldSize, &plan->oldTailCrc) &&
         RangeCrc(file, plan->oldSize - kEndBlockSize, plan->oldSize, &plan->oldEndCrc);
    *kept = keptCount;
    return ok ? Status::Done : Status::NotAVault;
}

}  // namespace

const char* StatusText(Status status) {
    switch (status) {
        case Status::Done: return "rewritten";
        case Status::NothingMatched: return "no entry matched";
        case Status::Declined: return "not rewritten";
        case Status::NotOpened: return "the vault cannot be opened";
        case Status::NotAVault: return "the vault's directory cannot be read";
        case Status::Refused: return "the vault's layout cannot be rewritten safely";
        case Status::JournalFailed: return "the delete journal cannot be written";
        case Status::WriteFailed: return "a write failed; the delete journal will finish the rewrite";
        case Status::NoSpace: return "the vault's disk has no room for the longer names";
    }
    return "?";
}

bool ReadStoredNames(const std::string& vaultPath, std::vector<std::string>* names) {
    std::vector<StoredName> stored;
    names->clear();
    if (!ReadStoredNames(vaultPath, &stored)) return false;
    for (StoredName& n : stored) names->push_back(std::move(n.bytes));
    return true;
}

void FinishFromJournal(const std::string& vaultPath, const Options& options, Outcome* out) {
    if (out->status == Status::WriteFailed &&
        RecoverDelete(vaultPath, options.journalPath, options) == RecoveryStatus::Finished)
        out->status = Status::Done;
}

bool ReadStoredNames(const std::string& vaultPath, std::vector<StoredName>* names) {
    names->clear();
    CFile file;
    if (!file.Open(vaultPath, CFile::Mode::Read)) return false;
    DirectoryInfo dir;
    std::vector<DirRecord> records;
    if (ReadDirectory(file, &dir, &records) != Status::Done) return false;
    for (DirRecord& r : records)
        names->push_back(StoredName{std::move(r.name), (r.header.flags & kNameUtf8Flag) != 0});
    return true;
}

Outcome CompactVault(const std::string& vaultPath, const Selector& select, const Options& options) {
    return CompactVault(vaultPath, NameSelector([&select](const std::string& name, bool) { return select(name); }),
                        options);
}

bool OpenForRewrite(const std::string& vaultPath, const Options& options, RecoveryStatus* recovered,
                    CFile* file, DirectoryInfo* dir, std::vector<DirRecord>* records, Outcome* out) {
    // A rewrite of this vault that was stopped must be finished before its
    // directory means anything.
    *recovered = options.journalPath.empty() ? RecoveryStatus::NoJournal
                                             : RecoverDeleteJournals(vaultPath, options.journalPath, options);
    if (*recovered == RecoveryStatus::Failed) {
        out->status = Status::WriteFailed;
        return false;
    }
    if (!file->Open(vaultPath, CFile::Mode::ReadWriteExisting)) {
        out->status = Status::NotOpened;
        return false;
    }
    out->status = ReadDirectory(*file, dir, records);
    if (out->status != Status::Done) return false;
    out->entriesBefore = out->entriesKept = static_cast<uint32_t>(records->size());
    return true;
}

Outcome CompactVault(const std::string& vaultPath, const NameSelector& select, const Options& options) {
    Outcome out;
    RecoveryStatus recovered;
    CFile file;
    DirectoryInfo dir;
    std::vector<DirRecord> records;
    if (!OpenForRewrite(vaultPath, options, &recovered, &file, &dir, &records, &out)) return out;
    for (DirRecord& r : records) {
        const bool utf8 = (r.header.flags & vault::kNameUtf8Flag) != 0;
        r.deleted = select(r.name, utf8);
        if (r.deleted) {
            out.deleted.push_back(r.name);
            out.deletedUtf8.push_back(utf8);
        }
    }
    if (options.approve) {
        std::vector<StoredName> names, selected;
        for (const DirRecord& r : records) {
            names.push_back(StoredName{r.name, (r.header.flags & kNameUtf8Flag) != 0});
            if (r.deleted) selected.push_back(names.back());
        }
        if (!options.approve(names, selected)) {
            out.status = Status::Declined;
            out.deleted.clear();
            out.deletedUtf8.clear();
            return out;
        }
    }
    if (out.deleted.empty()) {
        out.status = Status::NothingMatched;
        return out;
    }
    deljournal::Plan plan;
    uint32_t kept = 0;
    uint64_t room = 0;
    out.status = MakePlan(file, dir, records, options, &plan, &kept, &out.moved, &room);
    if (out.status != Status::Done) {
        out.deleted.clear();
        out.deletedUtf8.clear();
        out.moved.clear();
        return out;
    }
    out.entriesKept = kept;

    ExecutePlan(file, &plan, options, recovered, room, &out);
    if (out.status != Status::Done && out.status != Status::WriteFailed) {
        out.entriesKept = out.entriesBefore;
        out.deleted.clear();
        out.deletedUtf8.clear();
        out.moved.clear();
    }
    return out;
}

void ExecutePlan(CFile& file, deljournal::Plan* planIn, const Options& options, RecoveryStatus recovered,
                 uint64_t room, Outcome* out) {
    deljournal::Plan& plan = *planIn;
    out->status = Status::Done;
    deljournal::CJournal journal;
    const bool guarded = !options.journalPath.empty();
    uint64_t total = 0, nearest = UINT64_MAX, straightSteps = 0;
    for (const deljournal::Move& m : plan.moves) {
        const uint64_t d = deljournal::Distance(m);
        total += m.len;
        nearest = std::min(nearest, d);
        straightSteps += (m.len + d - 1) / d;
    }
    // A straight step costs two flushes; saving bytes in the journal costs
    // writing them twice. Straight steps that number at most two more than
    // the rewrite's directDistance-sized pieces beat both a whole copy in
    // the journal and steps through its slot, whatever the distances.
    Options steps = options;
    if (straightSteps <= 2 + total / std::max<uint64_t>(options.directDistance, 1)) steps.directDistance = 0;
    // A rename's image reaches from its first new local record to the new
    // directory, moved or not.
    const uint64_t imageBytes = plan.rename ? plan.newDirOffset - plan.firstWrite : total;
    // Kept whole in the journal when small (at most two slot steps), or when
    // some region moves too little for straight steps anyway. A larger one
    // goes in slot steps, which overlap the journal's writes with the
    // vault's.
    if (guarded && imageBytes <= std::min({2 * plan.slotCapacity, room, deljournal::kMaxImageBytes}) &&
        (total <= steps.directDistance || nearest < steps.directDistance || plan.moves.empty())) {
        // Small enough to keep in the journal whole: one write of the vault.
        plan.whole = true;
        plan.image.resize(static_cast<size_t>(imageBytes));
        bool ok = true;
        if (plan.rename) {
            // What stays where it is, then what moves there, then the new
            // local records.
            const uint64_t start = plan.firstWrite;
            const uint64_t kept = std::min(plan.newDirOffset, plan.oldDirStart);
            ok = file.ReadAt(start, plan.image.data(), static_cast<size_t>(kept - start));
            for (const deljournal::Move& m : plan.moves)
                ok = ok && file.ReadAt(m.src, plan.image.data() + (m.dst - start), static_cast<size_t>(m.len));
            for (const deljournal::Plan::Patch& x : plan.patches)
                std::copy(x.bytes.begin(), x.bytes.end(), plan.image.begin() + static_cast<ptrdiff_t>(x.at - start));
        } else {
            uint64_t at = 0;
            for (const deljournal::Move& m : plan.moves) {
                ok = ok && file.ReadAt(m.src, plan.image.data() + at, static_cast<size_t>(m.len));
                at += m.len;
            }
            plan.guardStart = plan.ImageStart() - std::min<uint64_t>(plan.ImageStart(), kGuardBytes);
            ok = ok && RangeCrc(file, plan.guardStart, plan.ImageStart(), &plan.guardCrc);
        }
        if (!ok) {
            out->status = Status::NotAVault;
            return;
        }
    }
    // Another vault's journal at the name is that vault's only way to finish
    // its rewrite: it moves aside before this one takes the name.
    if (guarded && recovered == RecoveryStatus::NotThisVault &&
        !FreeDeleteJournalPlace(options.journalPath, &out->parkedJournal)) {
        out->status = Status::JournalFailed;
        return;
    }
    if (guarded && !journal.Create(options.journalPath, plan)) {
        out->status = Status::JournalFailed;
        return;
    }
    // Longer names make the vault longer: the room is taken first, so that
    // a full disk stops the rename before anything has moved.
    if (plan.newSize > plan.oldSize && !Extend(file, plan.oldSize, plan.newSize)) {
        const bool back = file.Truncate(plan.oldSize) && file.Flush();
        file.Close();
        journal.Close();
        if (back && guarded) fileio::Remove(options.journalPath);
        out->status = back ? Status::NoSpace : Status::WriteFailed;
        return;
    }
    if (plan.whole) out->bytesMoved = total;
    if (plan.whole ? !WriteWhole(file, plan, options)
                   : (!RunMoves(file, guarded ? &journal : nullptr, plan, deljournal::Progress(), steps,
                                &out->bytesMoved) ||
                      !WriteTail(file, plan))) {
        out->status = Status::WriteFailed;
        return;
    }
    file.Close();
    journal.Close();
    if (guarded) fileio::Remove(options.journalPath);
}

}  // namespace compaction
