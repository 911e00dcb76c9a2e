// The add pipeline's prefetcher: a window of files read and compressed
// ahead on worker threads, taken by the writer in the order of adding.
#include "vault/writer/EntryPrefetch.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include <zlib.h>

#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultRecords.h"
#include "vault/reader/VaultHandleImpl.h"
#include "vault/threads/ThreadPool.h"
#include "vault/writer/VaultWriter.h"

namespace vault {

namespace {

// As the writer compresses: raw DEFLATE, level 8, memory level 8.
constexpr int kLevel = 8;
constexpr int kMemLevel = 8;
constexpr size_t kReadPiece = 64 * 1024;
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

// Reads the whole file (at most kPrefetchLargest bytes) and compresses it
// with the given method; false when anything is off.
bool ReadAndPack(CFile& file, uint16_t method, PreparedFile* out) {
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(out->info.size));
    for (;;) {
        const size_t at = raw.size();
        raw.resize(at + kReadPiece);
        size_t got = 0;
        if (!file.Read(raw.data() + at, kReadPiece, &got)) return false;
        raw.resize(at + got);
        if (raw.size() > kPrefetchLargest) return false;  // grew: the writer reads it
        if (got < kReadPiece) break;
    }
    out->bytesRead = raw.size();
    out->crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), raw.data(), static_cast<uInt>(raw.size())));
    if (method != kMethodDeflate) {
        out->data.swap(raw);
        return true;
    }
    z_stream z{};
    if (deflateInit2(&z, kLevel, Z_DEFLATED, -MAX_WBITS, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    bool ok = false;
    try {
        out->data.resize(deflateBound(&z, static_cast<uLong>(raw.size())) + 16);
        z.next_in = raw.data();
        z.avail_in = static_cast<uInt>(raw.size());
        z.next_out = out->data.data();
        z.avail_out = static_cast<uInt>(out->data.size());
        ok = deflate(&z, Z_FINISH) == Z_STREAM_END;
        out->data.resize(out->data.size() - z.avail_out);
    } catch (const std::exception&) {  // bad_alloc
        ok = false;
    }
    deflateEnd(&z);
    return ok;
}

}  // namespace

struct EntryPrefetcher::Item {
    std::string path;
    uint16_t method = 0;
    bool started = false;
    bool done = false;            // guarded by m_lock
    std::atomic<bool> dropped{false};
    std::unique_ptr<PreparedFile> result;
};

EntryPrefetcher::EntryPrefetcher(unsigned threads) {
    if (threads < 2) return;
    m_pool.reset(new ThreadPool(threads));
    if (m_pool->Size() < 2) m_pool.reset();
    m_maxAhead = 4 * static_cast<size_t>(threads);
}

EntryPrefetcher::~EntryPrefetcher() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        for (auto& item : m_items) item->dropped = true;
    }
    m_pool.reset();  // the files being prepared are finished, the rest skipped
}

void EntryPrefetcher::Expect(const std::string& path, const std::string& entryName) {
    if (!m_pool) return;
    auto item = std::make_shared<Item>();
    item->path = path;
    item->method = ChooseMethod(NormalizeEntryName(entryName, false), false);
    std::lock_guard<std::mutex> hold(m_lock);
    m_items.push_back(std::move(item));
    ++m_listed[path];
    Schedule();
}

void EntryPrefetcher::Schedule() {
    while (m_started < m_items.size() && m_started < m_maxAhead) {
        std::shared_ptr<Item> item = m_items[m_started++];
        item->started = true;
        m_pool->Submit([this, item] { Prepare(*item); });
    }
}

void EntryPrefetcher::Prepare(Item& item) {
    std::unique_ptr<PreparedFile> prepared;
    if (!item.dropped) {
        prepared.reset(new PreparedFile);
        prepared->method = item.method;
        CFile file;
        bool ok = file.Open(item.path, CFile::Mode::Read) && file.GetInfo(&prepared->info) &&
                  prepared->info.isDiskFile && !(prepared->info.attributes & kAttrDirectory) &&
                  prepared->info.size <= kPrefetchLargest;
        if (ok) {
            const bool program = IsProgramFile(file, prepared->info.size);
            prepared->external = BuildExternalAttributes(prepared->info.attributes, false, program);
            ok = file.Seek(0) && ReadAndPack(file, item.method, prepared.get());
        }
        if (!ok) prepared.reset();
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        item.result = std::move(prepared);
        item.done = true;
    }
    m_done.notify_all();
}

std::unique_ptr<PreparedFile> EntryPrefetcher::Take(const std::string& path, uint16_t method,
                                                    const std::function<void()>& waiting) {
    if (!m_pool) return nullptr;
    std::unique_lock<std::mutex> hold(m_lock);
    auto listed = m_listed.find(path);
    if (listed == m_listed.end() || listed->second == 0) return nullptr;
    // Files listed before this one were not added after all.
    std::shared_ptr<Item> item;
    while (!m_items.empty()) {
        std::shared_ptr<Item> front = std::move(m_items.front());
        m_items.pop_front();
        if (front->started) --m_started;
        auto it = m_listed.find(front->path);
        if (it != m_listed.end() && --it->second == 0) m_listed.erase(it);
        if (front->path == path) {
            item = std::move(front);
            break;
        }
        front->dropped = true;
    }
    Schedule();
    if (!item || !item->started) return nullptr;
    while (!item->done) {
        if (m_done.wait_for(hold, kWaitSlice, [&item] { return item->done; })) break;
        if (waiting) {
            hold.unlock();
            waiting();
            hold.lock();
        }
    }
    std::unique_ptr<PreparedFile> result = std::move(item->result);
    if (result && result->method != method) result.reset();
    return result;
}

void AttachPrefetcher(VaultHandle* handle, EntryPrefetcher* prefetcher) {
    if (handle && handle->kind == kHandleKindWriter && handle->writer) {
        handle->writer->SetPrefetcher(prefetcher);
    }
}

}  // namespace vault
