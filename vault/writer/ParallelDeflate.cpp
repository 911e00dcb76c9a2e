// Block-parallel raw DEFLATE: blocks with their dictionaries go to a thread
// pool, and the calling thread writes the finished blocks out in order.
#include "vault/writer/ParallelDeflate.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include <zlib.h>

#include "vault/VaultApi.h"
#include "vault/threads/ThreadPool.h"

namespace vault {

namespace {

constexpr size_t kWindow = 32 * 1024;
constexpr size_t kSmallestBlock = 4096;
std::atomic<size_t> g_blockSize{kDeflateBlockSize};
// How long the calling thread waits for a block before it calls the
// waiting hook (the user interface's message pump) again.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

struct Block {
    std::vector<uint8_t> input;  // dictionary, then the block's own data
    size_t dictionary = 0;
    bool last = false;
    std::vector<uint8_t> output;
    uint32_t crc = 0;
    bool done = false;    // guarded by the shared lock
    bool failed = false;

    size_t Length() const { return input.size() - dictionary; }
};

// What the workers share: their compressors (one per worker at most, kept
// for the next block) and the lock that tells the caller a block is done.
class Shared {
public:
    Shared(int level, int memLevel) : m_level(level), m_memLevel(memLevel) {}
    ~Shared() {
        for (z_stream* z : m_streams) {
            deflateEnd(z);
            delete z;
        }
    }

    void Compress(Block& b) {
        bool ok = false;
        z_stream* z = Take();
        if (z) {
            try {
                ok = Deflate(*z, b);
            } catch (const std::exception&) {  // bad_alloc
                ok = false;
            }
            Give(z, ok);
        }
        {
            std::lock_guard<std::mutex> hold(m_lock);
            b.failed = !ok;
            b.done = true;
        }
        m_done.notify_all();
    }

    // Waits until b is done, calling waiting between slices.
    void WaitFor(const Block& b, const std::function<void()>& waiting) {
        std::unique_lock<std::mutex> hold(m_lock);
        while (!b.done) {
            if (m_done.wait_for(hold, kWaitSlice, [&b] { return b.done; })) break;
            if (waiting) {
                hold.unlock();
                waiting();
                hold.lock();
            }
        }
    }

private:
    z_stream* Take() {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (!m_streams.empty()) {
                z_stream* z = m_streams.back();
                m_streams.pop_back();
                if (deflateReset(z) == Z_OK) return z;
                deflateEnd(z);
                delete z;
                return nullptr;
            }
        }
        std::unique_ptr<z_stream> z(new (std::nothrow) z_stream());
        if (!z) return nullptr;
        if (deflateInit2(z.get(), m_level, Z_DEFLATED, -MAX_WBITS, m_memLevel,
                         Z_DEFAULT_STRATEGY) != Z_OK) {
            return nullptr;
        }
        return z.release();
    }

    void Give(z_stream* z, bool ok) {
        if (ok) {
            std::lock_guard<std::mutex> hold(m_lock);
            try {
                m_streams.push_back(z);
                return;
            } catch (const std::exception&) {
            }
        }
        deflateEnd(z);
        delete z;
    }

    static bool Deflate(z_stream& z, Block& b) {
        const size_t len = b.Length();
        const uint8_t* data = b.input.data() + b.dictionary;
        b.crc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(len)));
        if (b.dictionary &&
            deflateSetDictionary(&z, b.input.data(), static_cast<uInt>(b.dictionary)) != Z_OK) {
            return false;
        }
        b.output.resize(deflateBound(&z, static_cast<uLong>(len)) + 16);
        z.next_in = const_cast<uint8_t*>(data);
        z.avail_in = static_cast<uInt>(len);
        const int flush = b.last ? Z_FINISH : Z_SYNC_FLUSH;
        size_t used = 0;
        for (;;) {
            if (used == b.output.size()) b.output.resize(b.output.size() * 2);
            z.next_out = b.output.data() + used;
            z.avail_out = static_cast<uInt>(b.output.size() - used);
            const int rc = deflate(&z, flush);
            used = b.output.size() - z.avail_out;
            if (rc == Z_STREAM_ERROR) return false;
            if (b.last ? rc == Z_STREAM_END : (z.avail_out != 0 && z.avail_in == 0)) break;
            if (rc == Z_BUF_ERROR && z.avail_out != 0) return false;  // no progress possible
        }
        b.output.resize(used);
        return true;
    }

    const int m_level;
    const int m_memLevel;
    std::mutex m_lock;
    std::condition_variable m_done;
    std::vector<z_stream*> m_streams;
};

// Fills b with up to blockSize bytes after the dictionary taken from prev.
uint32_t FillBlock(const DeflateIo& io, const Block* prev, size_t blockSize, Block* b) {
    size_t dictionary = 0;
    if (prev) {
        // The 32 KiB before this block: the end of the previous block's data,
        // reaching into its dictionary when that block was short.
        dictionary = std::min(kWindow, prev->input.size());
    }
    b->input.resize(dictionary + blockSize);
    if (dictionary) {
        std::memcpy(b->input.data(), prev->input.data() + prev->input.size() - dictionary,
                    dictionary);
    }
    b->dictionary = dictionary;
    size_t got = 0;
    const uint32_t rc = io.read(b->input.data() + dictionary, blockSize, &got);
    b->input.resize(dictionary + std::min(got, blockSize));
    return rc;
}

uint32_t Run(unsigned threads, int level, int memLevel, const DeflateIo& io, uint32_t* crcOut,
             uint64_t* bytesRead, size_t blockSize) {
    Shared shared(level, memLevel);
    std::deque<std::unique_ptr<Block>> inFlight;  // submitted, oldest first
    uint32_t result = kVaultOk;
    uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    uint64_t total = 0;
    {
        // Declared after everything the tasks touch, so that it is gone
        // (every task finished, every worker joined) before they are.
        ThreadPool pool(std::max(1u, threads));
        const size_t maxInFlight = 2 * std::max(1u, pool.Size());

        // Writes out the oldest block once it is done.
        auto drainOne = [&]() -> uint32_t {
            Block& b = *inFlight.front();
            shared.WaitFor(b, io.waiting);
            uint32_t rc = kVaultOk;
            if (b.failed) rc = kVaultWriteError;
            else if (!b.output.empty()) rc = io.write(b.output.data(), b.output.size());
            if (rc == kVaultOk) {
                crc = static_cast<uint32_t>(crc32_combine(crc, b.crc, static_cast<z_off_t>(b.Length())));
                total += b.Length();
            }
            inFlight.pop_front();
            return rc;
        };

        std::unique_ptr<Block> current(new Block);
        result = FillBlock(io, nullptr, blockSize, current.get());
        while (result == kVaultOk) {
            // Read one block ahead: only an empty read tells that the block
            // in hand is the last.
            std::unique_ptr<Block> next;
            if (current->Length() == blockSize) {
                next.reset(new Block);
                result = FillBlock(io, current.get(), blockSize, next.get());
                if (result != kVaultOk) break;
                if (next->Length() == 0) next.reset();
            }
            current->last = !next;
            Block* job = current.get();
            inFlight.push_back(std::move(current));
            pool.Submit([&shared, job] { shared.Compress(*job); });
            while (result == kVaultOk && inFlight.size() >= maxInFlight) result = drainOne();
            if (!next) break;
            current = std::move(next);
        }
        while (result == kVaultOk && !inFlight.empty()) result = drainOne();
        // On a failure the blocks still in flight are left to finish; the
        // pool waits for them here and nothing more is written.
    }
    if (result != kVaultOk) return result;
    *crcOut = crc;
    *bytesRead = total;
    return kVaultOk;
}

}  // namespace

size_t DeflateBlockSize() { return g_blockSize; }

void SetDeflateBlockSizeForTest(size_t blockSize) {
    g_blockSize = blockSize ? std::max(blockSize, kSmallestBlock) : kDeflateBlockSize;
}

uint32_t DeflateInBlocks(unsigned threads, int level, int memLevel, const DeflateIo& io,
                         uint32_t* crc, uint64_t* bytesRead, size_t blockSize) {
    *crc = 0;
    *bytesRead = 0;
    if (blockSize < kSmallestBlock) return kVaultBadArguments;
    try {
        return Run(threads, level, memLevel, io, crc, bytesRead, blockSize);
    } catch (const std::exception&) {  // bad_alloc on the calling thread
        return kVaultWriteError;
    }
}

}  // namespace vault
