// The extract workers: a pool of threads, a reader for each, and the rule
// that keeps two entries for one name apart.
#include "cli/ExtractWorkers.h"

#include "vault/fileio/FileIo.h"

namespace hbcli {

ExtractWorkers::ExtractWorkers(const std::string& vaultPath, VaultHandle* mainReader,
                               unsigned threads, Work work)
    : m_vaultPath(vaultPath), m_mainReader(mainReader), m_work(std::move(work)) {
    // A test that watches every write sees them in one order.
    if (threads > 1 && !fileio::TestHooksInstalled()) m_pool.reset(new vault::ThreadPool(threads));
    if (m_pool && m_pool->Size() < 2) m_pool.reset();
}

ExtractWorkers::~ExtractWorkers() { Finish(); }

void ExtractWorkers::Finish() { m_pool.reset(); }

void ExtractWorkers::Settle(const std::string& path) {
    if (!m_pool || !m_targets.count(UpperAscii(path))) return;
    m_pool->Wait();
    m_targets.clear();
}

void ExtractWorkers::Extract(const Entry& e, const std::string& target, bool replace) {
    if (!m_pool) {
        m_work(m_mainReader, e, target, replace);
        return;
    }
    m_targets.insert(UpperAscii(target));
    const Entry* entry = &e;
    m_pool->Submit([this, entry, target, replace] {
        VaultHandle* reader = TakeReader();
        m_work(reader, *entry, target, replace);
        if (reader) GiveReader(reader);
    });
}

VaultHandle* ExtractWorkers::TakeReader() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_idle.empty()) {
        VaultHandle* r = m_idle.back();
        m_idle.pop_back();
        return r;
    }
    // A reader of its own: a reader follows one entry at a time.
    HandlePtr r(OpenVaultReader(m_vaultPath.c_str(), 0, kVaultSourcePath, ""));
    if (!r) return nullptr;
    m_readers.push_back(std::move(r));
    return m_readers.back().get();
}

void ExtractWorkers::GiveReader(VaultHandle* reader) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_idle.push_back(reader);
}

}  // namespace hbcli
