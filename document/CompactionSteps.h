// The steps of a compaction that both the delete and its recovery run: the
// moves from a given progress on, and the new directory tail; and what the
// delete and the rename share in planning and running a rewrite.
#pragma once

#include "document/DeleteJournal.h"
#include "document/VaultCompaction.h"
#include "vault/format/VaultScan.h"

namespace compaction {

// One central record as a rewrite plans with it.
struct DirRecord {
    uint64_t position = 0;   // of the central record
    uint64_t length = 0;     // 46 + n + m + k
    vault::CentralHeader header;
    std::string name;
    bool deleted = false;
};

// Reads every central record of the directory. NotAVault when the end record
// is missing or a record cannot be read.
Status ReadDirectory(CFile& file, vault::DirectoryInfo* dir, std::vector<DirRecord>* records);

// Ends the plan's tail (the new directory) with its end record, which gives
// the directory's size and offset and no comment; sets the plan's new
// directory offset and new file size.
void EndTail(vault::EndRecord end, uint64_t dirSize, uint64_t dirOffset, deljournal::Plan* plan);

// The start of every rewrite: a stopped rewrite of this vault is finished
// first (recovered says how that went), then the vault is opened for writing
// and its directory read. False, with out->status set, when any of that
// fails; out->entriesBefore and entriesKept are the directory's count.
bool OpenForRewrite(const std::string& vaultPath, const Options& options, RecoveryStatus* recovered,
                    CFile* file, vault::DirectoryInfo* dir, std::vector<DirRecord>* records, Outcome* out);

// Bytes just below a small rewrite's first write that identify the vault to
// its recovery.
constexpr uint64_t kGuardBytes = 64 * 1024;

// Carries out a plan (moves and tail already worked out, its slot capacity
// set) on the open vault: chooses between keeping it whole in the journal,
// straight steps and slot steps, parks another vault's journal found at the
// journal's name (recovered says whether one was there), writes the journal
// and the vault. room: journal bytes left beside the plan. Sets out->status
// (and bytesMoved, parkedJournal); on a status other than Done or
// WriteFailed the vault is untouched.
void ExecutePlan(CFile& file, deljournal::Plan* plan, const Options& options, RecoveryStatus recovered,
                 uint64_t room, Outcome* out);

// Carries out the plan's moves from progress on. With a journal, each step
// is flushed in the vault before the journal records it; a step that would
// overwrite its own source is first saved in the journal's slot. Without a
// journal the moves go straight through. bytesMoved, when given, adds up
// the bytes written. False when a read or write fails.
bool RunMoves(CFile& vaultFile, deljournal::CJournal* journal, const deljournal::Plan& plan,
              const deljournal::Progress& progress, const Options& options, uint64_t* bytesMoved);

// CRC-32 of the file's bytes [from, to); false when they cannot be read.
bool RangeCrc(CFile& file, uint64_t from, uint64_t to, uint32_t* crc);

// Writes the new directory tail at its offset, cuts the file behind it and
// flushes.
bool WriteTail(CFile& vaultFile, const deljournal::Plan& plan);

// Writes zeros over [from, to) of the file and flushes: the room a rename
// to longer names needs, taken before anything moves.
bool Extend(CFile& file, uint64_t from, uint64_t to);

// A whole plan: writes its image and tail, cuts the file behind them and
// flushes.
bool WriteWhole(CFile& vaultFile, const deljournal::Plan& plan, const Options& options);

}  // namespace compaction
