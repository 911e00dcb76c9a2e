// hollowbox-vault extract on several threads: file entries are unpacked and
// written by workers, each with a reader of its own on the vault.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/ToolCommon.h"
#include "vault/threads/ThreadPool.h"

namespace hbcli {

class ExtractWorkers {
public:
    // Unpacks one entry to target through the given reader.
    using Work = std::function<void(VaultHandle* reader, const Entry& e, const std::string& target,
                                    bool replace)>;

    // threads 1 (or a reader that cannot be opened again) does every entry
    // at once on the calling thread with mainReader, as before.
    ExtractWorkers(const std::string& vaultPath, VaultHandle* mainReader, unsigned threads, Work work);
    // Waits for every entry handed over.
    ~ExtractWorkers();
    ExtractWorkers(const ExtractWorkers&) = delete;
    ExtractWorkers& operator=(const ExtractWorkers&) = delete;

    // Waits for every entry handed over when one of them writes path: the
    // caller settles an entry's target and each folder above it before it
    // looks at them, so that two entries for one name run one after the
    // other, as on one thread.
    void Settle(const std::string& path);

    // Hands over one file entry. Folders are made by the caller beforehand.
    void Extract(const Entry& e, const std::string& target, bool replace);

    // Waits for every entry handed over and ends the workers.
    void Finish();

private:
    VaultHandle* TakeReader();
    void GiveReader(VaultHandle* reader);

    std::string m_vaultPath;
    VaultHandle* m_mainReader;
    Work m_work;
    std::mutex m_lock;
    std::vector<HandlePtr> m_readers;     // every reader the workers opened
    std::vector<VaultHandle*> m_idle;     // of those, the ones not in use
    std::set<std::string> m_targets;      // handed over since the last wait, upper case
    std::unique_ptr<vault::ThreadPool> m_pool;  // last: gone before the readers
};

}  // namespace hbcli
