// Benchmarks of the vault document model over a vault of 10,000 entries
// (100 folders of 99 files each, plus the folder entries).
// Goals: loading the list and building the root rows (what a login does)
// under 1 s; switching to a folder (enter, rows, sort by name) under 100 ms.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "document/VaultModel.h"
#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 99;

std::string FolderName(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "Folder%03d", i);
    return buf;
}

// The vault, written once per run through the writer and removed at exit.
class BenchVault {
public:
    BenchVault() {
        m_path = fileio::TempFolder() + "hb_bench_model_" + std::to_string(fileio::TickCount()) +
                 ".vfo";
        fileio::Remove(m_path);
        VaultHandle* w = OpenVaultWriter(m_path.c_str(), 0, kVaultSourcePath, nullptr);
        if (!w) return;
        std::vector<unsigned char> data(200);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>('a' + i % 23);
        bool ok = true;
        for (int f = 0; f < kFolders && ok; ++f) {
            const std::string folder = FolderName(f);
            ok = AddVaultEntry(w, (folder + "/").c_str(), nullptr, 0, kVaultSourceFolder, nullptr,
                               nullptr, nullptr, nullptr) == kVaultOk;
            for (int i = 0; i < kFilesPerFolder && ok; ++i) {
                const std::string name = folder + "/file" + std::to_string(i) + ".txt";
                ok = AddVaultEntry(w, name.c_str(), data.data(), static_cast<uint32_t>(data.size()),
                                   kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr) ==
                     kVaultOk;
            }
        }
        m_ok = CloseVaultHandle(w) == kVaultOk && ok;
    }
    ~BenchVault() { fileio::Remove(m_path); }
    const std::string& Path() const { return m_path; }
    bool Ok() const { return m_ok; }

private:
    std::string m_path;
    bool m_ok = false;
};

const BenchVault& Vault() {
    static BenchVault vault;
    return vault;
}

// Login: read the whole directory, build and sort the root rows.
void BM_LoadVaultListAndRootRows(benchmark::State& state) {
    if (!Vault().Ok()) {
        state.SkipWithError("vault not written");
        return;
    }
    CVaultModel model;
    model.SetVaultPath(Vault().Path());
    const SortOrder order;
    for (auto _ : state) {
        if (!model.LoadVaultList()) {
            state.SkipWithError("vault not read");
            return;
        }
        std::vector<Row> rows = model.BuildRows();
        SortRows(&rows, order);
        benchmark::DoNotOptimize(rows.data());
        if (rows.size() != kFolders) state.SkipWithError("wrong row count");
    }
    state.counters["entries"] = static_cast<double>(model.EntryCount());
}
BENCHMARK(BM_LoadVaultListAndRootRows)->Unit(benchmark::kMillisecond);

// A double-click on a folder: enter it, build its rows, sort them by name.
void BM_FolderSwitch(benchmark::State& state) {
    if (!Vault().Ok()) {
        state.SkipWithError("vault not written");
        return;
    }
    CVaultModel model;
    model.SetVaultPath(Vault().Path());
    if (!model.LoadVaultList()) {
        state.SkipWithError("vault not read");
        return;
    }
    const SortOrder order;
    int next = 0;
    for (auto _ : state) {
        model.ClearCurrentFolder();
        model.EnterFolder(FolderName(next));
        next = (next + 37) % kFolders;
        std::vector<Row> rows = model.BuildRows();
        SortRows(&rows, order);
        benchmark::DoNotOptimize(rows.data());
        if (rows.size() != kFilesPerFolder) state.SkipWithError("wrong row count");
    }
}
BENCHMARK(BM_FolderSwitch)->Unit(benchmark::kMillisecond);

}  // namespace
