// Reading and compressing the next small files ahead while the writer stores
// the current one: the work of an add pipeline.
//
// The caller lists the files it is about to add, in the order it will add
// them (Expect), and attaches the prefetcher to its writer. Worker threads
// open, read and compress the listed files a few entries ahead; when the
// writer is asked to add one of them from its path it takes the prepared
// data (Take) instead of reading the file itself, and writes it as it would
// have written its own. Everything that goes into the vault, and the order
// of the writes, stays with the writer on the calling thread.
//
// Only files up to kPrefetchLargest are prepared (larger ones are read by
// the writer, which compresses them in parallel blocks itself), and at most
// four entries per worker are held ahead. A file that
// cannot be opened or read ahead, or that changed kind, is simply not
// prepared: the writer then reads it itself and reports what it finds,
// exactly as without a prefetcher.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "vault/fileio/FileIo.h"

struct VaultHandle;

namespace vault {

class ThreadPool;

constexpr uint64_t kPrefetchLargest = 1024 * 1024;

// One file, read and compressed ahead.
struct PreparedFile {
    FileInfo info;             // as the writer would have read it
    uint32_t external = 0;     // external attributes
    uint16_t method = 0;       // the method the data was prepared for
    std::vector<uint8_t> data; // compressed (or stored) bytes
    uint32_t crc = 0;
    uint64_t bytesRead = 0;
};

class EntryPrefetcher {
public:
    // threads: workers (at least 1). With fewer than 2 the prefetcher does
    // nothing and Take always answers null.
    explicit EntryPrefetcher(unsigned threads);
    // Drops what is still queued and waits for the files being prepared.
    ~EntryPrefetcher();
    EntryPrefetcher(const EntryPrefetcher&) = delete;
    EntryPrefetcher& operator=(const EntryPrefetcher&) = delete;

    bool Active() const { return m_pool != nullptr; }

    // The next file to be added: its path and its entry name (the name
    // decides the method, as in the writer). Files listed and never taken
    // are dropped when a later one is taken.
    void Expect(const std::string& path, const std::string& entryName);

    // The prepared data of path for the given method, or null. Files listed
    // before path are dropped. While it waits for a worker, `waiting` is
    // called now and then (the message pump).
    std::unique_ptr<PreparedFile> Take(const std::string& path, uint16_t method,
                                       const std::function<void()>& waiting);

private:
    struct Item;
    void Schedule();  // with m_lock held
    void Prepare(Item& item);

    std::mutex m_lock;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<Item>> m_items;   // in the order of adding
    std::unordered_map<std::string, size_t> m_listed;  // path -> items queued
    size_t m_started = 0;   // items handed to workers, from the front
    size_t m_maxAhead = 0;
    std::unique_ptr<ThreadPool> m_pool;  // last: gone before the items
};

// Lets the writer of handle take prepared files from prefetcher (null
// detaches it). The prefetcher must outlive the writer or be detached.
void AttachPrefetcher(VaultHandle* handle, EntryPrefetcher* prefetcher);

}  // namespace vault
