// Renaming entries in place: planning the new local and central records and
// the moves their new lengths call for; the run is the compaction's.
#include <zlib.h>

#include <algorithm>

#include "document/CompactionSteps.h"
#include "document/EntryRename.h"
#include "document/VaultCompaction.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace compaction {

namespace {

using namespace vault;

// The extra field without the zeros that pad its record to whole blocks:
// every whole block with a non-zero tag from its start.
std::vector<uint8_t> WithoutPadding(const std::vector<uint8_t>& extra) {
    size_t keep = 0;
    while (extra.size() - keep >= 4) {
        const uint16_t tag = GetU16(extra.data() + keep);
        const size_t size = GetU16(extra.data() + keep + 2);
        if (tag == 0 || 4 + size > extra.size() - keep) break;
        keep += 4 + size;
    }
    return std::vector<uint8_t>(extra.begin(), extra.begin() + static_cast<ptrdiff_t>(keep));
}

uint16_t WithNameFlag(uint16_t flags, bool utf8) {
    return static_cast<uint16_t>(utf8 ? flags | vault::kNameUtf8Flag : flags & ~vault::kNameUtf8Flag);
}

// Adds a region that moves from src to dst, joined to the last one when
// both go on from it.
void AddMove(std::vector<deljournal::Move>* moves, uint64_t src, uint64_t dst, uint64_t len) {
    if (len == 0 || src == dst) return;
    deljournal::Move* last = moves->empty() ? nullptr : &moves->back();
    if (last && last->src + last->len == src && last->dst + last->len == dst) {
        last->len += len;
        return;
    }
    moves->push_back(deljournal::Move{src, dst, len});
}

// Most bytes of moved regions kept in the journal (Options::patchedMove).
constexpr uint64_t kPatchedBytes = 8 * 1024 * 1024;

// Turns the plan's short moves into literal writes: their bytes are read
// now, before anything is written, and go to their places with the new
// local records once every remaining move is done (no move writes where
// they go). Adjacent writes are joined.
bool SmallMovesAsPatches(CFile& file, uint64_t longest, deljournal::Plan* plan) {
    uint64_t budget = kPatchedBytes;
    for (const deljournal::Plan::Patch& x : plan->patches) budget -= std::min<uint64_t>(budget, x.bytes.size());
    std::vector<deljournal::Move> keep;
    std::vector<deljournal::Plan::Patch> all = std::move(plan->patches);
    for (const deljournal::Move& m : plan->moves) {
        if (m.len > longest || m.len > budget) {
            keep.push_back(m);
            continue;
        }
        deljournal::Plan::Patch x;
        x.at = m.dst;
        x.bytes.resize(static_cast<size_t>(m.len));
        if (!file.ReadAt(m.src, x.bytes.data(), x.bytes.size())) return false;
        budget -= m.len;
        all.push_back(std::move(x));
    }
    std::sort(all.begin(), all.end(),
              [](const deljournal::Plan::Patch& a, const deljournal::Plan::Patch& b) { return a.at < b.at; });
    plan->patches.clear();
    for (deljournal::Plan::Patch& x : all) {
        deljournal::Plan::Patch* last = plan->patches.empty() ? nullptr : &plan->patches.back();
        if (last && last->at + last->bytes.size() == x.at)
            last->bytes.insert(last->bytes.end(), x.bytes.begin(), x.bytes.end());
        else
            plan->patches.push_back(std::move(x));
    }
    plan->moves = std::move(keep);
    return true;
}

struct Renaming {
    bool renamed = false;
    NewName to;
};

Status MakeRenamePlan(CFile& file, const DirectoryInfo& dir, const std::vector<DirRecord>& records,
                      const std::vector<Renaming>& names, const Options& options, deljournal::Plan* plan,
                      std::vector<std::pair<uint32_t, uint32_t>>* moved, uint64_t* journalRoom) {
    if (dir.prefixBytes != 0) return Status::Refused;
    uint64_t previous = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const uint64_t at = records[i].header.localOffset;
        if ((i > 0 && at <= previous) || at >= dir.directoryStart) return Status::Refused;
        previous = at;
    }
    size_t first = 0;
    while (first < records.size() && !names[first].renamed) ++first;
    if (first == records.size()) return Status::NothingMatched;

    plan->rename = true;
    plan->oldSize = dir.fileSize;
    plan->oldDirStart = dir.directoryStart;
    plan->firstWrite = records[first].header.localOffset;
    int64_t shift = 0;
    int direction = 0;
    uint64_t dirSize = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const DirRecord& r = records[i];
        std::vector<uint8_t> raw(static_cast<size_t>(r.length));
        if (!file.ReadAt(r.position, raw.data(), raw.size())) return Status::NotAVault;
        const uint64_t at = r.header.localOffset;
        const uint64_t limit = i + 1 < records.size() ? records[i + 1].header.localOffset : dir.directoryStart;
        const uint64_t newAt = static_cast<uint64_t>(static_cast<int64_t>(at) + shift);
        if (newAt > UINT32_MAX) return Status::Refused;
        if (i >= first && names[i].renamed) {
            LocalEntry local;
            if (CheckLocalRecord(file, dir, r.header, &local) != VaultStatus::Ok) return Status::Refused;
            const uint64_t oldLength = local.record.header.RecordLength();
            uint64_t end = local.dataStart + r.header.compressedSize;
            if (local.record.header.flags & kFlagDescriptor) end += kDescriptorSize;
            if (end > limit) return Status::Refused;
            LocalRecord fresh = local.record;
            fresh.name = names[i].to.bytes;
            fresh.extra = WithoutPadding(local.record.extra);
            fresh.header.flags = WithNameFlag(local.record.header.flags, names[i].to.utf8);
            deljournal::Plan::Patch patch;
            patch.at = newAt;
            if (fresh.name.empty() || fresh.name.size() > kMaxNameLength ||
                EncodeLocalRecord(fresh, &patch.bytes) != VaultStatus::Ok)
                return Status::Refused;
            const int64_t change = static_cast<int64_t>(patch.bytes.size()) - static_cast<int64_t>(oldLength);
            // Every name of one rename grows or shrinks alike; a mix of
            // both could not be moved in one direction.
            const int sign = change > 0 ? 1 : change < 0 ? -1 : 0;
            if (sign != 0 && direction != 0 && sign != direction) return Status::Refused;
            if (sign != 0) direction = sign;
            AddMove(&plan->moves, at + oldLength, newAt + patch.bytes.size(), limit - at - oldLength);
            plan->patches.push_back(std::move(patch));
            shift += change;

            std::vector<uint8_t> plain(raw.size());
            CentralRecord central;
            if (!DecipherRecord(raw.data(), plain.data(), plain.size()) ||
                DecodeCentralRecord(plain.data(), plain.size(), &central) != VaultStatus::Ok)
                return Status::NotAVault;
            central.name = names[i].to.bytes;
            central.extra = WithoutPadding(central.extra);
            central.header.flags = WithNameFlag(central.header.flags, names[i].to.utf8);
            central.header.localOffset = static_cast<uint32_t>(newAt);
            if (EncodeCentralRecord(central, &raw) != VaultStatus::Ok) return Status::Refused;
            if (newAt != at) moved->emplace_back(static_cast<uint32_t>(at), static_cast<uint32_t>(newAt));
        } else if (newAt != at) {
            // Moves whole; only its central record's offset changes.
            AddMove(&plan->moves, at, newAt, limit - at);
            std::vector<uint8_t> plain(raw.size());
            if (!DecipherRecord(raw.data(), plain.data(), plain.size())) return Status::NotAVault;
            PutU32(plain.data() + 42, static_cast<uint32_t>(newAt));
            if (!EncipherRecord(plain.data(), raw.data(), raw.size())) return Status::NotAVault;
            moved->emplace_back(static_cast<uint32_t>(at), static_cast<uint32_t>(newAt));
        }
        plan->tail.insert(plan->tail.end(), raw.begin(), raw.end());
        dirSize += raw.size();
        if (plan->tail.size() > deljournal::kMaxTailBytes) return Status::Refused;
    }
    if (!SmallMovesAsPatches(file, options.patchedMove, plan)) return Status::NotAVault;
    plan->upward = direction > 0;
    // Going up, the last region moves first.
    if (plan->upward) std::reverse(plan->moves.begin(), plan->moves.end());
    const uint64_t newDir = static_cast<uint64_t>(static_cast<int64_t>(dir.directoryStart) + shift);
    EndTail(dir.end, dirSize, newDir, plan);
    if (plan->newSize > UINT32_MAX || dirSize > UINT32_MAX) return Status::Refused;

    const uint64_t planBytes = deljournal::PlanBytes(*plan);
    if (planBytes + 4096 + 2 * 4096 > deljournal::kMaxJournalBytes) return Status::Refused;
    const uint64_t room = deljournal::kMaxJournalBytes - planBytes - 4096;
    plan->slotCapacity = std::min({options.slotBytes, deljournal::kMaxSlotBytes, room / 2});
    *journalRoom = room;
    // What identifies the vault to the recovery: the bytes below the first
    // write and the first renamed local record's leading block, old or new.
    plan->guardStart = plan->firstWrite - std::min<uint64_t>(plan->firstWrite, kGuardBytes);
    const std::vector<uint8_t>& head = plan->patches.front().bytes;
    plan->headNewCrc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), head.data(), kLocalProbeSize));
    const bool ok = RangeCrc(file, plan->guardStart, plan->firstWrite, &plan->guardCrc) &&
                    RangeCrc(file, plan->firstWrite, plan->firstWrite + kLocalProbeSize, &plan->headOldCrc) &&
                    RangeCrc(file, plan->oldDirStart, plan->oldSize, &plan->oldTailCrc) &&
                    RangeCrc(file, plan->oldSize - kEndBlockSize, plan->oldSize, &plan->oldEndCrc);
    return ok ? Status::Done : Status::NotAVault;
}

}  // namespace

Outcome RenameEntries(const std::string& vaultPath, const Renamer& rename, const Options& options) {
    Outcome out;
    RecoveryStatus recovered;
    CFile file;
    DirectoryInfo dir;
    std::vector<DirRecord> records;
    if (!OpenForRewrite(vaultPath, options, &recovered, &file, &dir, &records, &out)) return out;
    std::vector<Renaming> names(records.size());
    std::vector<vault::StoredName> all, picked;
    for (size_t i = 0; i < records.size(); ++i) {
        Renaming& n = names[i];
        const bool utf8 = (records[i].header.flags & vault::kNameUtf8Flag) != 0;
        all.push_back(vault::StoredName{records[i].name, utf8});
        n.renamed = rename(records[i].name, utf8, &n.to) && (n.to.bytes != records[i].name || n.to.utf8 != utf8);
        if (n.renamed) picked.push_back(all.back());
    }
    if (options.approve) {
        if (!options.approve(all, picked)) {
            out.status = Status::Declined;
            return out;
        }
    }
    if (picked.empty()) {
        out.status = Status::NothingMatched;
        return out;
    }
    deljournal::Plan plan;
    uint64_t room = 0;
    Options run = options;
    run.slotBytes = options.renameSlotBytes;
    out.status = MakeRenamePlan(file, dir, records, names, run, &plan, &out.moved, &room);
    if (out.status == Status::Done) ExecutePlan(file, &plan, run, recovered, room, &out);
    if (out.status != Status::Done && out.status != Status::WriteFailed) {
        out.moved.clear();
        return out;
    }
    for (size_t i = 0; i < records.size(); ++i)
        if (names[i].renamed)
            out.renamed.emplace_back(
                vault::DecodeEntryName(records[i].name, (records[i].header.flags & vault::kNameUtf8Flag) != 0),
                vault::DecodeEntryName(names[i].to.bytes, names[i].to.utf8));
    return out;
}

}  // namespace compaction
