// Moving kept entries down and writing the new directory tail, guarded by
// the delete journal.
//
// A region that moves down (or up) by a distance d never overwrites the
// source of a step of at most d bytes, so such a step can always be done again from the
// vault itself: it is flushed and then recorded. A step longer than d does
// overwrite its own source; its final bytes are saved in the journal's slot
// (flushed, then pointed at by a progress record) before the vault is
// written, so that it too can be done again after a stop. The record of a
// slot step also says that the step before it is done, so a run of such
// steps costs two journal flushes and one vault flush per step. While one
// slot step is written to the vault and flushed, a second thread reads the
// next step's bytes and saves them in the other slot place; only its record
// waits for the vault.
#include "document/CompactionSteps.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace compaction {

namespace {

// Copies length bytes from one offset of the vault to another, a chunk at
// a time: front first when going down, back first when going up. Each chunk
// is read whole before it is written, and a chunk never writes over the
// source of a chunk still to come, so chunks of any size are safe.
bool CopyRange(CFile& file, uint64_t from, uint64_t to, uint64_t length, const Options& options,
               std::vector<uint8_t>* buffer) {
    const size_t chunk = std::max<size_t>(options.chunkBytes, 1);
    if (buffer->size() < chunk) buffer->resize(chunk);
    const bool up = to > from;
    for (uint64_t x = 0; x < length;) {
        if (options.pump) options.pump();
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, length - x));
        const uint64_t at = up ? length - x - n : x;
        if (!file.ReadAt(from + at, buffer->data(), n) || !file.Seek(to + at) ||
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

// Runs one job at a time beside the caller. Without a thread (test hooks
// installed, or no thread to be had) Start runs the job at once.
class CSideJob {
public:
    explicit CSideJob(bool threaded) {
        if (!threaded) return;
        try {
            m_thread = std::thread([this] { Loop(); });
        } catch (...) {
        }
    }
    ~CSideJob() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }
    CSideJob(const CSideJob&) = delete;
    CSideJob& operator=(const CSideJob&) = delete;

    void Start(std::function<bool()> job) {
        if (!m_thread.joinable()) {
            m_result = job();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_job = std::move(job);
            m_busy = true;
        }
        m_wake.notify_all();
    }
    // The started job's result, once it has finished.
    bool Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return !m_busy; });
        return m_result;
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || (m_busy && m_job); });
            if (m_busy && m_job) {
                std::function<bool()> job = std::move(m_job);
                m_job = nullptr;
                lock.unlock();
                bool ok = false;
                try {
                    ok = job();
                } catch (...) {
                }
                lock.lock();
                m_result = ok;
                m_busy = false;
                m_wake.notify_all();
                continue;
            }
            return;
        }
    }

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::function<bool()> m_job;
    bool m_busy = false;
    bool m_quit = false;
    bool m_result = false;
};

}  // namespace

bool RunMoves(CFile& vaultFile, deljournal::CJournal* journal, const deljournal::Plan& plan,
              const deljournal::Progress& progress, const Options& options, uint64_t* bytesMoved) {
    using deljournal::Move;
    std::vector<uint8_t> buffer;
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
        const uint64_t left = mv.len - done, distance = deljournal::Distance(mv);
        return left > 0 && distance < left && distance < options.directDistance && slot > 0;
    };

    // The side job reads a step's bytes through a handle of its own, so that
    // it never moves the position of the one the vault is written through.
    // Where the vault cannot be opened twice (Windows shares no handle of a
    // file open for writing), the caller reads them and the side job only
    // saves them.
    bool anySlot = false;
    for (uint32_t m = progress.move; journal && m < count && !anySlot; ++m)
        anySlot = throughSlot(plan.moves[m], m == progress.move ? progress.done + progress.slotLength : 0);
    const bool overlap = anySlot && !fileio::TestHooksInstalled();
    CFile reader;
    const bool sideReads = overlap && reader.Open(vaultFile.Path(), CFile::Mode::Read);
    std::vector<uint8_t> steps[2];
    CSideJob side(overlap);

    // A move goes front first when down, back first when up: `done` bytes
    // of it are done from that end, and a step of `length` bytes after them
    // starts `at` bytes into the move.
    const bool up = plan.upward;
    auto stepAt = [up](const Move& mv, uint64_t done, uint64_t length) { return up ? mv.len - done - length : done; };
    for (uint32_t m = progress.move; m < count; ++m) {
        const Move& mv = plan.moves[m];
        uint64_t done = m == progress.move ? progress.done : 0;
        if (journal && m == progress.move && progress.slotLength > 0) {
            // A step saved in the slot was under way: put its bytes in place.
            std::vector<uint8_t> saved;
            if (!journal->ReadSlot(&saved) ||
                !WriteAt(vaultFile, mv.dst + stepAt(mv, done, saved.size()), saved.data(), saved.size(), options) ||
                !vaultFile.Flush())
                return false;
            done += saved.size();
            moved(saved.size());
            if (!throughSlot(mv, done) && !record(m, done)) return false;
        }
        const uint64_t distance = deljournal::Distance(mv);
        // The slot step whose bytes are saved but not yet recorded: its
        // length and buffer (0: none).
        size_t saved = 0;
        int current = 0;
        auto readStep = [&mv, &stepAt](CFile& from, uint64_t at, size_t length, std::vector<uint8_t>* bytes) {
            if (bytes->size() < length) bytes->resize(length);
            return from.ReadAt(mv.src + stepAt(mv, at, length), bytes->data(), length);
        };
        while (done < mv.len) {
            const uint64_t left = mv.len - done;
            if (!journal) {
                const uint64_t at = stepAt(mv, done, left);
                if (!CopyRange(vaultFile, mv.src + at, mv.dst + at, left, options, &buffer)) return false;
                moved(left);
                done = mv.len;
            } else if (!throughSlot(mv, done)) {
                const uint64_t step = std::min(left, distance);
                const uint64_t at = stepAt(mv, done, step);
                if (!CopyRange(vaultFile, mv.src + at, mv.dst + at, step, options, &buffer) ||
                    !vaultFile.Flush())
                    return false;
                done += step;
                moved(step);
                if (!record(m, done)) return false;
            } else {
                // The record of a slot step also says the step before it is
                // done; anything else records the last one on its own.
                const size_t step = static_cast<size_t>(std::min(left, slot));
                if (saved == 0 && (!readStep(vaultFile, done, step, &steps[current]) ||
                                   !journal->SaveSlot(steps[current].data(), step)))
                    return false;
                if (!journal->CommitSlot(m, done)) return false;
                // The next step's bytes lie beyond this step's writes (above
                // them going down, below going up): they are read and saved
                // while this one goes to the vault.
                const uint64_t next = done + step;
                const size_t nextStep = throughSlot(mv, next) ? static_cast<size_t>(std::min(mv.len - next, slot)) : 0;
                std::vector<uint8_t>* nextBytes = &steps[1 - current];
                if (nextStep > 0) {
                    if (!sideReads && !readStep(vaultFile, next, nextStep, nextBytes)) return false;
                    side.Start([&, next, nextStep, nextBytes] {
                        return (!sideReads || readStep(reader, next, nextStep, nextBytes)) &&
                               journal->SaveSlot(nextBytes->data(), nextStep);
                    });
                }
                const bool written = WriteAt(vaultFile, mv.dst + stepAt(mv, done, step), steps[current].data(), step,
                                             options) &&
                                     vaultFile.Flush();
                const bool savedNext = nextStep == 0 || side.Wait();
                if (!written || !savedNext) return false;
                done = next;
                moved(step);
                saved = nextStep;
                current = 1 - current;
                if (nextStep == 0 && !record(m, done)) return false;
            }
        }
    }
    return true;
}

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

bool Extend(CFile& file, uint64_t from, uint64_t to) {
    std::vector<uint8_t> zeros(static_cast<size_t>(std::min<uint64_t>(to - from, 1 << 20)), 0);
    for (uint64_t x = from; x < to;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), to - x));
        if (!file.Seek(x) || !file.Write(zeros.data(), n)) return false;
        x += n;
    }
    return file.Flush();
}

bool WriteWhole(CFile& vaultFile, const deljournal::Plan& plan, const Options& options) {
    return WriteAt(vaultFile, plan.ImageStart(), plan.image.data(), plan.image.size(), options) &&
           WriteTail(vaultFile, plan);
}

bool WriteTail(CFile& vaultFile, const deljournal::Plan& plan) {
    // A rename's new local records lie where no move writes; a whole plan's
    // image holds them already.
    if (!plan.whole)
        for (const deljournal::Plan::Patch& x : plan.patches)
            if (!vaultFile.Seek(x.at) || !vaultFile.Write(x.bytes.data(), x.bytes.size())) return false;
    return vaultFile.Seek(plan.newDirOffset) && vaultFile.Write(plan.tail.data(), plan.tail.size()) &&
           vaultFile.Truncate(plan.newSize) && vaultFile.Flush();
}

void EndTail(vault::EndRecord end, uint64_t dirSize, uint64_t dirOffset, deljournal::Plan* plan) {
    end.directorySize = static_cast<uint32_t>(dirSize);
    end.directoryOffset = static_cast<uint32_t>(dirOffset);
    end.commentLength = 0;
    const auto block = vault::EncodeEndRecord(end);
    plan->tail.insert(plan->tail.end(), block.begin(), block.end());
    plan->newDirOffset = dirOffset;
    plan->newSize = dirOffset + plan->tail.size();
}

}  // namespace compaction
