// The steps of a compaction that both the delete and its recovery run: the
// moves from a given progress on, and the new directory tail.
#pragma once

#include "document/DeleteJournal.h"
#include "document/VaultCompaction.h"

namespace compaction {

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

// A whole plan: writes its image and tail, cuts the file behind them and
// flushes.
bool WriteWhole(CFile& vaultFile, const deljournal::Plan& plan, const Options& options);

}  // namespace compaction
