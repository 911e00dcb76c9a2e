// The delete journal: what an in-place compaction of the vault is about to
// do and how far it got, kept in the temporary folder beside the add journal
// so that a stopped or power-cut delete can be finished by RecoverVault.
//
// File layout (all integers little-endian):
//   plan     header, the moves, the new directory tail, CRC-32 of all of it
//   states   two 64-byte progress records written in turn; the valid one
//            with the higher sequence number counts
//   slots    two places for the bytes of the step in progress, when that
//            step overwrites its own source (a move by a distance smaller
//            than the step); progress records use them in turn, and a
//            slot is flushed before the record that points at it is written
// The plan and the first progress record are flushed before the vault is
// written; a journal without them never touched its vault.
//
// A rename uses the same journal (version 3): its plan adds the new local
// records, written together with the new directory tail once every move is
// done, and its moves may go up (longer names) instead of down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vault/fileio/FileIo.h"

namespace deljournal {

// The delete journal's file name; it lies in the add journal's folder.
constexpr const char kDeleteJournalName[] = "qv0327711.del";

// Largest journal ever written, whatever the vault's size.
constexpr uint64_t kMaxJournalBytes = 64ull * 1024 * 1024;
// The new directory tail may take this much of it; a larger directory is
// refused (a vault written by this system stays far below).
constexpr uint64_t kMaxTailBytes = 24ull * 1024 * 1024;
// Largest slot (there are two): what is left of the journal beside the
// plan's limit.
constexpr uint64_t kMaxSlotBytes = 16ull * 1024 * 1024;
// Largest rewrite kept in the journal whole.
constexpr uint64_t kMaxImageBytes = 2 * kMaxSlotBytes;

// One region of kept entries that moves: len bytes from src to dst (down,
// or up in a plan whose `upward` is set).
struct Move {
    uint64_t src = 0;
    uint64_t dst = 0;
    uint64_t len = 0;
};

struct Plan {
    // The vault before: its size, where its directory starts, and the CRC-32
    // of everything from there to its end (directory and end record block).
    uint64_t oldSize = 0;
    uint64_t oldDirStart = 0;
    uint32_t oldTailCrc = 0;
    // CRC-32 of the old file's last 32 bytes (its end record block), which
    // the new tail never reaches: a deleted entry frees at least 96 bytes.
    uint32_t oldEndCrc = 0;
    // The vault after: the new directory starts at newDirOffset and the file
    // ends at newSize = newDirOffset + tail.size().
    uint64_t newDirOffset = 0;
    uint64_t newSize = 0;
    uint64_t slotCapacity = 0;   // bytes reserved for the step slot
    std::vector<Move> moves;     // in file order
    std::vector<uint8_t> tail;   // enciphered central records + end block
    // A small rewrite keeps every byte it writes in the journal: image holds
    // the final bytes of [ImageStart(), newDirOffset), so the rewrite is one
    // write of image and tail that can always be done again. The bytes of
    // [guardStart, ImageStart()), which it never writes, identify the vault.
    bool whole = false;
    std::vector<uint8_t> image;
    uint64_t guardStart = 0;
    uint32_t guardCrc = 0;

    // A rename's plan. Its moves all go one way: down (shorter names, in file
    // order) or up (longer names, last region first, each from its top).
    // Nothing below firstWrite is ever written, and the 32 bytes at
    // firstWrite (the start of the first renamed entry's local record) stay
    // as they were until the new local records go in: [guardStart,
    // firstWrite) and those 32 bytes, old or new, identify the vault at
    // every point of the rewrite.
    bool rename = false;
    bool upward = false;
    uint64_t firstWrite = 0;
    uint32_t headOldCrc = 0;
    uint32_t headNewCrc = 0;
    struct Patch {
        uint64_t at = 0;
        std::vector<uint8_t> bytes;
    };
    // New local records (enciphered), in file order; written with the tail.
    std::vector<Patch> patches;

    uint64_t ImageStart() const {
        if (rename) return firstWrite;
        return moves.empty() ? newDirOffset : moves.front().dst;
    }
};

// Progress: moves before `move` are complete, and so are the first `done`
// bytes of that one. move == moves.size(): every move is complete and only
// the new tail is left to write. slotLength > 0: the slot holds the final
// bytes of [dst + done, dst + done + slotLength) of that move, which may be
// half-written in the vault.
struct Progress {
    uint32_t sequence = 0;
    uint32_t move = 0;
    uint64_t done = 0;
    uint32_t slotLength = 0;
    uint32_t slotCrc = 0;   // version 1 journals only
};

// Full path of the delete journal beside the add journal addJournalPath.
std::string DeleteJournalPathFor(const std::string& addJournalPath);

// Check value of a step's bytes, as a version 1 progress record keeps it and
// as the plan keeps its image's.
uint32_t SlotCrc(const uint8_t* data, size_t length);

// The plan's encoded size (without states and slot).
uint64_t PlanBytes(const Plan& plan);

// Distance a move goes (down or up).
inline uint64_t Distance(const Move& m) { return m.src > m.dst ? m.src - m.dst : m.dst - m.src; }

// An open journal being written by a compaction (or by its recovery).
class CJournal {
public:
    // Creates the journal (replacing any old one), writes the plan and the
    // first progress record and flushes. False when any of it fails; the
    // file is then removed again.
    bool Create(const std::string& path, const Plan& plan);
    // Opens an existing journal and reads plan and latest progress. False
    // when the file is missing, or its plan or progress is not complete
    // (then *uncommitted is set when the file exists at all).
    bool Load(const std::string& path, bool* uncommitted);

    // The plan; after Create it lacks the image, which stays with the caller.
    const Plan& GetPlan() const { return m_plan; }
    const Progress& GetProgress() const { return m_progress; }

    // Starts a step whose final bytes are `data`, to go at [dst + done,
    // dst + done + length) of move `move`: they go into the slot place of
    // the next progress record (the two records use two slot places in
    // turn) and are flushed, then that record is written and flushed.
    bool SaveStep(uint32_t move, uint64_t done, const uint8_t* data, size_t length);
    // SaveStep in two halves: the bytes go into the next record's slot place
    // and are flushed; CommitSlot then writes that record (flushed). Between
    // the two the journal still names the step before, whose slot lies in
    // the other place, so the halves may be apart while the vault is written.
    bool SaveSlot(const uint8_t* data, size_t length);
    bool CommitSlot(uint32_t move, uint64_t done);
    // The current record's slot bytes; false when they do not check.
    bool ReadSlot(std::vector<uint8_t>* out);
    // Writes the next progress record (no slot) into the other state
    // place, flushed.
    bool Record(uint32_t move, uint64_t done);

    void Close() { m_file.Close(); }

private:
    bool Usable(const Progress& s) const;
    uint64_t SlotOffset(uint32_t sequence) const;
    bool Put(const Progress& next);

    CFile m_file;
    Plan m_plan;
    Progress m_progress;
    uint64_t m_stateOffset = 0;
    uint32_t m_version = 0;
    size_t m_savedLength = 0;  // bytes put in the next slot place by SaveSlot
    uint32_t m_savedCrc = 0;   // and their check value (first-version journals)
};

}  // namespace deljournal
