// Moving kept entries down and writing the new directory tail, guarded by
// the delete journal.
//
// A region that moves down by a distance d never overwrites the source of a
// step of at most d bytes, so such a step can always be done again from the
// vault itself: it is flushed and then recorded. A step longer than d does
// overwrite its own source; its final bytes are saved in the journal's slot
// (flushed, then pointed at by a progress record) before the vault is
// written, so that it too can be done again after a stop. The record of a
// slot step also says that the step before it is done, so a run of such
// steps costs two journal flushes and one vault flush per step.
#include "document/CompactionSteps.h"

#include <algorithm>
#include <vector>

namespace compaction {

namespace {

// Copies length bytes from one offset of the vault to a lower one, a chunk
// at a time. Each chunk is read whole before it is written, and a chunk
// never writes beyond the start of the next chunk's source, so chunks of any
// size are safe for a move down.
bool CopyDown(CFile& file, uint64_t from, uint64_t to, uint64_t length, const Options& options,
              std::vector<uint8_t>* buffer) {
    const size_t chunk = std::max<size_t>(options.chunkBytes, 1);
    if (buffer->size() < chunk) buffer->resize(chunk);
    for (uint64_t x = 0; x < length;) {
        if (options.pump) options.pump();
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, length - x));
        if (!file.ReadAt(from + x, buffer->data(), n) || !file.Seek(to + x) ||
            !file.Write(buffer->data(), n))
            return false;
        x += n;
    }
    return true;
}

bool WriteAt(CFile& file, uint64_t pos, const uint8_t* data, size_t length, const Options& options) {
    const size_t chunk = std::max<size_t>(options.chunkBytes, 1);
    for (size_t x = 0; x < length;) {
        if (options.pump) options.pump();
        const size_t n = std::min(chunk, length - x);
        if (!file.Seek(pos + x) || !file.Write(data + x, n)) return false;
        x += n;
    }
    return true;
}

}  // namespace

bool RunMoves(CFile& vaultFile, deljournal::CJournal* journal, const deljournal::Plan& plan,
              const deljournal::Progress& progress, const Options& options, uint64_t* bytesMoved) {
    using deljournal::Move;
    std::vector<uint8_t> buffer, bytes;
    const uint32_t count = static_cast<uint32_t>(plan.moves.size());
    const uint64_t slot = std::min<uint64_t>(std::min(options.slotBytes, plan.slotCapacity),
                                             deljournal::kMaxSlotBytes);
    auto moved = [bytesMoved](uint64_t n) {
        if (bytesMoved) *bytesMoved += n;
    };
    // Records that move m is done up to `done` (as the next move once it is
    // complete).
    auto record = [&](uint32_t m, uint64_t done) {
        if (done == plan.moves[m].len) return journal->Record(m + 1, 0);
        return journal->Record(m, done);
    };
    // A step longer than the distance overwrites its own source: it goes
    // through the slot.
    auto throughSlot = [&](const Move& mv, uint64_t done) {
        const uint64_t left = mv.len - done, distance = mv.src - mv.dst;
        return left > 0 && distance < left && distance < options.directDistance && slot > 0;
    };

    for (uint32_t m = progress.move; m < count; ++m) {
        const Move& mv = plan.moves[m];
        uint64_t done = m == progress.move ? progress.done : 0;
        if (journal && m == progress.move && progress.slotLength > 0) {
            // A step saved in the slot was under way: put its bytes in place.
            std::vector<uint8_t> saved;
            if (!journal->ReadSlot(&saved) || !WriteAt(vaultFile, mv.dst + done, saved.data(), saved.size(), options) ||
                !vaultFile.Flush())
                return false;
            done += saved.size();
            moved(saved.size());
            if (!throughSlot(mv, done) && !record(m, done)) return false;
        }
        const uint64_t distance = mv.src - mv.dst;
        while (done < mv.len) {
            const uint64_t left = mv.len - done;
            if (!journal) {
                if (!CopyDown(vaultFile, mv.src + done, mv.dst + done, left, options, &buffer)) return false;
                moved(left);
                done = mv.len;
            } else if (!throughSlot(mv, done)) {
                const uint64_t step = std::min(left, distance);
                if (!CopyDown(vaultFile, mv.src + done, mv.dst + done, step, options, &buffer) ||
                    !vaultFile.Flush())
                    return false;
                done += step;
                moved(step);
                if (!record(m, done)) return false;
            } else {
                // The slot is flushed before its record is written; the
                // record of the next slot step says this one is done,
                // anything else records it on its own.
                const size_t step = static_cast<size_t>(std::min(left, slot));
                if (bytes.size() < step) bytes.resize(step);
                if (!vaultFile.ReadAt(mv.src + done, bytes.data(), step) ||
                    !journal->SaveStep(m, done, bytes.data(), step) ||
                    !WriteAt(vaultFile, mv.dst + done, bytes.data(), step, options) || !vaultFile.Flush())
                    return false;
                done += step;
                moved(step);
                if (!throughSlot(mv, done) && !record(m, done)) return false;
            }
        }
    }
    return true;
}

bool WriteWhole(CFile& vaultFile, const deljournal::Plan& plan, const Options& options) {
    return WriteAt(vaultFile, plan.ImageStart(), plan.image.data(), plan.image.size(), options) &&
           WriteTail(vaultFile, plan);
}

bool WriteTail(CFile& vaultFile, const deljournal::Plan& plan) {
    return vaultFile.Seek(plan.newDirOffset) && vaultFile.Write(plan.tail.data(), plan.tail.size()) &&
           vaultFile.Truncate(plan.newSize) && vaultFile.Flush();
}

}  // namespace compaction
