// The delete journal's file: encoding and checking of the plan, the two
// alternating progress records and the step slot.
#include "document/DeleteJournal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "vault/format/VaultRecords.h"

namespace deljournal {

namespace {

using vault::GetU32;
using vault::PutU32;

constexpr uint32_t kPlanMagic = 0x4A444248;   // "HBDJ"
constexpr uint32_t kStateMagic = 0x53444248;  // "HBDS"
// Version 1 flushed a step's slot together with its record and told a torn
// slot by a check value; version 2 flushes the slot before the record is
// written. Journals of both versions are read.
constexpr uint32_t kVersion = 2;
constexpr uint32_t kCheckedSlotVersion = 1;
// Version 3: a rename's plan (flags, the identifying head, new local records).
constexpr uint32_t kRenameVersion = 3;
constexpr uint32_t kFlagRename = 1;
constexpr uint32_t kFlagUpward = 2;
constexpr size_t kRenameBytes = 32;   // after the header, rename plans only
constexpr size_t kPatchHeadBytes = 12;
constexpr size_t kMaxPatches = 65536;
constexpr uint64_t kMaxPatchBytes = 24ull * 1024 * 1024;
constexpr size_t kHeaderBytes = 96;
constexpr size_t kMoveBytes = 24;
constexpr size_t kStateBytes = 64;    // one place; the record uses the first 32
constexpr size_t kStateRecord = 32;
constexpr size_t kMaxMoves = 65536;

uint64_t GetU64(const uint8_t* p) { return GetU32(p) | (uint64_t(GetU32(p + 4)) << 32); }
void PutU64(uint8_t* p, uint64_t v) {
    PutU32(p, static_cast<uint32_t>(v));
    PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint32_t Crc(const uint8_t* data, size_t length) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        const uInt n = static_cast<uInt>(length > 0x40000000 ? 0x40000000 : length);
        crc = crc32(crc, data, n);
        data += n;
        length -= n;
    }
    return static_cast<uint32_t>(crc);
}

// Everything of the plan but its image, which follows it in the file (the
// image has its own check value in the header: a CRC-32 of tens of MB
// would cost more than writing them).
std::vector<uint8_t> EncodePlan(const Plan& plan) {
    std::vector<uint8_t> out(static_cast<size_t>(PlanBytes(plan) - plan.image.size()), 0);
    uint8_t* p = out.data();
    PutU32(p, kPlanMagic);
    PutU32(p + 4, plan.rename ? kRenameVersion : kVersion);
    PutU64(p + 8, plan.oldSize);
    PutU64(p + 16, plan.oldDirStart);
    PutU32(p + 24, plan.oldTailCrc);
    PutU32(p + 28, plan.oldEndCrc);
    PutU64(p + 32, plan.newDirOffset);
    PutU64(p + 40, plan.newSize);
    PutU64(p + 48, plan.slotCapacity);
    PutU32(p + 56, static_cast<uint32_t>(plan.moves.size()));
    PutU32(p + 60, static_cast<uint32_t>(plan.tail.size()));
    PutU32(p + 64, plan.whole ? 1 : 0);
    PutU32(p + 68, plan.guardCrc);
    PutU64(p + 72, plan.guardStart);
    PutU64(p + 80, plan.image.size());
    PutU32(p + 88, SlotCrc(plan.image.data(), plan.image.size()));
    uint64_t patchBytes = 0;
    for (const Plan::Patch& x : plan.patches) patchBytes += x.bytes.size();
    if (plan.rename) {
        PutU32(p + 92, kFlagRename | (plan.upward ? kFlagUpward : 0));
        PutU64(p + 96, plan.firstWrite);
        PutU32(p + 104, plan.headOldCrc);
        PutU32(p + 108, plan.headNewCrc);
        PutU32(p + 112, static_cast<uint32_t>(plan.patches.size()));
        PutU32(p + 116, static_cast<uint32_t>(patchBytes));
        p += kRenameBytes;
    }
    p += kHeaderBytes;
    for (const Move& m : plan.moves) {
        PutU64(p, m.src);
        PutU64(p + 8, m.dst);
        PutU64(p + 16, m.len);
        p += kMoveBytes;
    }
    if (!plan.tail.empty()) std::memcpy(p, plan.tail.data(), plan.tail.size());
    p += plan.tail.size();
    for (const Plan::Patch& x : plan.patches) {
        PutU64(p, x.at);
        PutU32(p + 8, static_cast<uint32_t>(x.bytes.size()));
        std::memcpy(p + kPatchHeadBytes, x.bytes.data(), x.bytes.size());
        p += kPatchHeadBytes + x.bytes.size();
    }
    PutU32(p, Crc(out.data(), out.size() - 4));
    return out;
}

// The plan must describe moves down, inside the old data region, in order,
// and a tail that ends the new file.
// A rename's plan: moves all one way inside [firstWrite, the old
// directory), in the order they run; new local records inside the new data
// region; nothing written below firstWrite.
bool RenamePlanIsSound(const Plan& plan) {
    if (plan.newDirOffset + plan.tail.size() != plan.newSize || plan.oldDirStart > plan.oldSize) return false;
    if (plan.guardStart > plan.firstWrite || plan.firstWrite > plan.oldDirStart ||
        plan.firstWrite > plan.newDirOffset || plan.patches.empty() || plan.patches.size() > kMaxPatches)
        return false;
    uint64_t bound = plan.upward ? UINT64_MAX : 0;
    for (const Move& m : plan.moves) {
        if (m.len == 0 || m.src < plan.firstWrite || m.src + m.len > plan.oldDirStart ||
            m.dst + m.len > plan.newDirOffset)
            return false;
        if (plan.upward ? (m.dst <= m.src || m.dst + m.len > bound) : (m.dst >= m.src || m.dst < bound))
            return false;
        bound = plan.upward ? m.dst : m.dst + m.len;
    }
    uint64_t at = plan.firstWrite, bytes = 0;
    for (const Plan::Patch& x : plan.patches) {
        if (x.bytes.empty() || x.at < at || x.at + x.bytes.size() > plan.newDirOffset) return false;
        at = x.at + x.bytes.size();
        bytes += x.bytes.size();
    }
    if (bytes > kMaxPatchBytes || plan.patches.front().at != plan.firstWrite) return false;
    if (!plan.whole) return plan.image.empty();
    return plan.image.size() <= kMaxImageBytes && plan.image.size() == plan.newDirOffset - plan.firstWrite;
}

bool PlanIsSound(const Plan& plan) {
    if (plan.tail.size() < vault::kEndBlockSize || plan.tail.size() > kMaxTailBytes) return false;
    if (plan.slotCapacity > kMaxSlotBytes) return false;
    if (plan.rename) return RenamePlanIsSound(plan);
    if (plan.newDirOffset + plan.tail.size() != plan.newSize || plan.newSize > plan.oldSize) return false;
    if (plan.oldDirStart > plan.oldSize) return false;
    uint64_t lastDst = 0;
    for (const Move& m : plan.moves) {
        if (m.len == 0 || m.dst >= m.src || m.dst < lastDst || m.src + m.len > plan.oldDirStart)
            return false;
        lastDst = m.dst + m.len;
    }
    if (lastDst > plan.newDirOffset) return false;
    if (!plan.whole) return plan.image.empty();
    return plan.image.size() <= kMaxImageBytes && plan.guardStart <= plan.ImageStart() &&
           plan.image.size() == plan.newDirOffset - plan.ImageStart();
}

std::vector<uint8_t> EncodeState(const Progress& s) {
    std::vector<uint8_t> out(kStateBytes, 0);
    uint8_t* p = out.data();
    PutU32(p, kStateMagic);
    PutU32(p + 4, s.sequence);
    PutU32(p + 8, s.move);
    PutU32(p + 12, s.slotLength);
    PutU64(p + 16, s.done);
    PutU32(p + 24, s.slotCrc);
    PutU32(p + 28, Crc(p, 28));
    return out;
}

bool DecodeState(const uint8_t* p, Progress* s) {
    if (GetU32(p) != kStateMagic || GetU32(p + 28) != Crc(p, 28)) return false;
    s->sequence = GetU32(p + 4);
    s->move = GetU32(p + 8);
    s->slotLength = GetU32(p + 12);
    s->done = GetU64(p + 16);
    s->slotCrc = GetU32(p + 24);
    return true;
}

}  // namespace

std::string DeleteJournalPathFor(const std::string& addJournalPath) {
    size_t cut = addJournalPath.size();
    while (cut > 0 && !fileio::IsSeparator(addJournalPath[cut - 1]) && addJournalPath[cut - 1] != ':')
        --cut;
    return addJournalPath.substr(0, cut) + kDeleteJournalName;
}

uint64_t PlanBytes(const Plan& plan) {
    uint64_t renameBytes = 0;
    if (plan.rename) {
        renameBytes = kRenameBytes;
        for (const Plan::Patch& x : plan.patches) renameBytes += kPatchHeadBytes + x.bytes.size();
    }
    return kHeaderBytes + renameBytes + plan.moves.size() * kMoveBytes + plan.tail.size() + plan.image.size() + 4;
}

bool CJournal::Create(const std::string& path, const Plan& plan) {
    m_file.Close();
    if (plan.moves.size() > kMaxMoves || !PlanIsSound(plan)) return false;
    // The image is only ever read back from the file.
    m_plan = plan;
    m_plan.image = std::vector<uint8_t>();
    m_version = kVersion;
    m_progress = Progress();
    m_progress.sequence = 1;
    const std::vector<uint8_t> encoded = EncodePlan(plan);
    m_stateOffset = PlanBytes(plan);
    const std::vector<uint8_t> state = EncodeState(m_progress);
    // Written under a side name and renamed when complete: the rename is
    // durable, so once the vault is touched the journal is there to stay.
    const std::string fresh = path + ".new";
    fileio::Remove(fresh);
    CFile file;
    bool ok = file.Open(fresh, CFile::Mode::CreateNew) && file.Write(encoded.data(), encoded.size()) &&
              (plan.image.empty() || file.Write(plan.image.data(), plan.image.size())) &&
              file.Write(state.data(), state.size()) && file.Flush();
    file.Close();
    if (ok) ok = fileio::Rename(fresh, path) && m_file.Open(path, CFile::Mode::ReadWriteExisting);
    if (!ok) {
        m_file.Close();
        fileio::Remove(fresh);
        fileio::Remove(path);
    }
    return ok;
}

bool CJournal::Load(const std::string& path, bool* uncommitted) {
    *uncommitted = false;
    m_file.Close();
    if (!m_file.Open(path, CFile::Mode::ReadWriteExisting)) {
        *uncommitted = fileio::Exists(path);
        return false;
    }
    *uncommitted = true;
    uint64_t size = 0;
    uint8_t head[kHeaderBytes + kRenameBytes];
    if (!m_file.Size(&size) || size > kMaxJournalBytes || size < kHeaderBytes ||
        !m_file.ReadAt(0, head, kHeaderBytes) || GetU32(head) != kPlanMagic ||
        (GetU32(head + 4) != kVersion && GetU32(head + 4) != kCheckedSlotVersion &&
         GetU32(head + 4) != kRenameVersion))
        return false;
    m_version = GetU32(head + 4);
    const bool rename = m_version == kRenameVersion;
    if (rename && (size < sizeof head || !m_file.ReadAt(kHeaderBytes, head + kHeaderBytes, kRenameBytes) ||
                   !(GetU32(head + 92) & kFlagRename)))
        return false;
    const uint32_t moveCount = GetU32(head + 56);
    const uint32_t tailSize = GetU32(head + 60);
    const uint64_t imageSize = GetU64(head + 80);
    const uint32_t patchCount = rename ? GetU32(head + 112) : 0;
    const uint64_t patchBytes = rename ? GetU32(head + 116) : 0;
    if (moveCount > kMaxMoves || tailSize > kMaxTailBytes || imageSize > kMaxImageBytes ||
        patchCount > kMaxPatches || patchBytes > kMaxPatchBytes)
        return false;
    const uint64_t renameBytes = rename ? kRenameBytes + uint64_t(patchCount) * kPatchHeadBytes + patchBytes : 0;
    const uint64_t headBytes = kHeaderBytes + renameBytes + uint64_t(moveCount) * kMoveBytes + tailSize + 4;
    const uint64_t planBytes = headBytes + imageSize;
    if (planBytes + kStateBytes > size) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(headBytes));
    if (!m_file.ReadAt(0, bytes.data(), bytes.size()) ||
        GetU32(bytes.data() + headBytes - 4) != Crc(bytes.data(), bytes.size() - 4))
        return false;
    Plan plan;
    plan.oldSize = GetU64(head + 8);
    plan.oldDirStart = GetU64(head + 16);
    plan.oldTailCrc = GetU32(head + 24);
    plan.oldEndCrc = GetU32(head + 28);
    plan.newDirOffset = GetU64(head + 32);
    plan.newSize = GetU64(head + 40);
    plan.slotCapacity = GetU64(head + 48);
    if (rename) {
        plan.rename = true;
        plan.upward = (GetU32(head + 92) & kFlagUpward) != 0;
        plan.firstWrite = GetU64(head + 96);
        plan.headOldCrc = GetU32(head + 104);
        plan.headNewCrc = GetU32(head + 108);
    }
    const uint8_t* p = bytes.data() + kHeaderBytes + (rename ? kRenameBytes : 0);
    for (uint32_t i = 0; i < moveCount; ++i, p += kMoveBytes)
        plan.moves.push_back(Move{GetU64(p), GetU64(p + 8), GetU64(p + 16)});
    plan.tail.assign(p, p + tailSize);
    p += tailSize;
    const uint8_t* const patchesEnd = p + (renameBytes ? renameBytes - kRenameBytes : 0);
    for (uint32_t i = 0; i < patchCount; ++i) {
        if (patchesEnd - p < static_cast<ptrdiff_t>(kPatchHeadBytes)) return false;
        Plan::Patch x;
        x.at = GetU64(p);
        const uint32_t n = GetU32(p + 8);
        p += kPatchHeadBytes;
        if (static_cast<uint64_t>(patchesEnd - p) < n) return false;
        x.bytes.assign(p, p + n);
        p += n;
        plan.patches.push_back(std::move(x));
    }
    if (p != patchesEnd) return false;
    plan.image.resize(static_cast<size_t>(imageSize));
    if ((imageSize && !m_file.ReadAt(headBytes, plan.image.data(), plan.image.size())) ||
        SlotCrc(plan.image.data(), plan.image.size()) != GetU32(head + 88))
        return false;
    plan.whole = GetU32(head + 64) == 1;
    plan.guardCrc = GetU32(head + 68);
    plan.guardStart = GetU64(head + 72);
    if (!PlanIsSound(plan)) return false;

    // The later of the two progress records that is whole and, when it
    // points at a slot, whose slot is whole too. A step's slot reaches the
    // disk before its record is written (in version 1 they were flushed
    // together and the check value tells), so a record whose slot is not
    // whole belongs to a step that never began; the record before it (its
    // slot lies in the other place) still holds.
    uint8_t states[2 * kStateBytes] = {};
    const size_t have = static_cast<size_t>(std::min<uint64_t>(sizeof states, size - planBytes));
    if (!m_file.ReadAt(planBytes, states, have)) return false;
    m_plan = std::move(plan);
    m_stateOffset = planBytes;
    Progress found[2];
    size_t count = 0;
    for (size_t i = 0; i < 2; ++i) {
        Progress s;
        if ((i + 1) * kStateBytes <= have && DecodeState(states + i * kStateBytes, &s) && Usable(s))
            found[count++] = s;
    }
    if (count == 2 && found[1].sequence > found[0].sequence) std::swap(found[0], found[1]);
    for (size_t i = 0; i < count; ++i) {
        m_progress = found[i];
        std::vector<uint8_t> slot;
        const bool slotWhole = m_version == kCheckedSlotVersion
                                   ? ReadSlot(&slot)
                                   : SlotOffset(found[i].sequence) + found[i].slotLength <= size;
        if (found[i].slotLength == 0 || slotWhole) {
            *uncommitted = false;
            return true;
        }
    }
    m_progress = Progress();
    return false;
}

bool CJournal::Usable(const Progress& s) const {
    const Plan& plan = m_plan;
    if (s.move > plan.moves.size() || s.slotLength > plan.slotCapacity) return false;
    if (s.move == plan.moves.size()) return s.done == 0 && s.slotLength == 0;
    return s.done + s.slotLength <= plan.moves[s.move].len;
}

uint64_t CJournal::SlotOffset(uint32_t sequence) const {
    return m_stateOffset + 2 * kStateBytes + (sequence % 2) * m_plan.slotCapacity;
}

bool CJournal::SaveStep(uint32_t move, uint64_t done, const uint8_t* data, size_t length) {
    return SaveSlot(data, length) && CommitSlot(move, done);
}

bool CJournal::SaveSlot(const uint8_t* data, size_t length) {
    m_savedLength = 0;
    if (length == 0 || length > m_plan.slotCapacity) return false;
    if (!m_file.Seek(SlotOffset(m_progress.sequence + 1)) || !m_file.Write(data, length) || !m_file.Flush())
        return false;
    m_savedLength = length;
    // A first-version journal's records keep the check value its readers
    // go by.
    m_savedCrc = m_version == kCheckedSlotVersion ? SlotCrc(data, length) : 0;
    return true;
}

bool CJournal::CommitSlot(uint32_t move, uint64_t done) {
    if (m_savedLength == 0) return false;
    Progress next;
    next.sequence = m_progress.sequence + 1;
    next.move = move;
    next.done = done;
    next.slotLength = static_cast<uint32_t>(m_savedLength);
    next.slotCrc = m_savedCrc;
    m_savedLength = 0;
    return Usable(next) && Put(next);
}

bool CJournal::ReadSlot(std::vector<uint8_t>* out) {
    out->resize(m_progress.slotLength);
    return out->empty() || (m_file.ReadAt(SlotOffset(m_progress.sequence), out->data(), out->size()) &&
                            (m_version != kCheckedSlotVersion ||
                             SlotCrc(out->data(), out->size()) == m_progress.slotCrc));
}

bool CJournal::Record(uint32_t move, uint64_t done) {
    Progress next;
    next.sequence = m_progress.sequence + 1;
    next.move = move;
    next.done = done;
    return Put(next);
}

bool CJournal::Put(const Progress& next) {
    const std::vector<uint8_t> state = EncodeState(next);
    const uint64_t place = m_stateOffset + ((next.sequence + 1) % 2) * kStateBytes;
    if (!m_file.Seek(place) || !m_file.Write(state.data(), state.size()) || !m_file.Flush()) return false;
    m_progress = next;
    return true;
}

uint32_t SlotCrc(const uint8_t* data, size_t length) {
    // A multiplicative hash over 8-byte words: the slot is tens of MB per
    // step and a CRC-32 of it would cost more than moving it.
    uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        h = (h ^ w) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    for (; i < length; ++i) h = (h ^ data[i]) * 0x100000001B3ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace deljournal
