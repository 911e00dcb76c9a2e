// Deleting from a ~200 MB vault of 50 entries: the in-place compaction with
// the delete journal against the same compaction without it, for the first
// entry (everything moves; a small first entry goes through the journal's
// slot, a large one in long straight steps) and for an entry in the last
// tenth of the file. HB_BENCH_JOURNAL_DIR puts the journal in another folder
// (in use it lies in the computer's temporary folder, the vault on a USB
// disk); /dev/shm stands in for a disk that is much faster than the vault's.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "document/DeleteJournal.h"
#include "document/VaultCompaction.h"
#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"

namespace {

constexpr int kEntries = 50;

std::string Folder() {
    static const std::string folder = [] {
        std::string f = fileio::TempFolder() + "hb_bench_delete";
        fileio::MakeDirectoryChain(f);
        return f + fileio::Separator();
    }();
    return folder;
}

// Entry sizes: the first as asked, the others a mix from 256 KB to 12 MB,
// about 200 MB in all. Names end in ".zip" so the writer stores them as they
// are (the compaction never looks at the data).
// The journal's folder: HB_BENCH_JOURNAL_DIR when set (the program keeps it
// in the computer's temporary folder, usually another disk than the vault's),
// else the vault's.
std::string JournalFolder() {
    const char* dir = std::getenv("HB_BENCH_JOURNAL_DIR");
    if (!dir || !*dir) return Folder();
    std::string f = dir;
    if (!fileio::IsSeparator(f.back())) f += fileio::Separator();
    return f;
}

std::vector<size_t> Sizes(size_t first) {
    std::vector<size_t> sizes = {first};
    for (int i = 1; i < kEntries; ++i) sizes.push_back(size_t(128 + (i * 7919) % 6000) * 1024 + (i % 7 == 0 ? 8u << 20 : 0));
    return sizes;
}

std::string EntryName(int i) { return "dir/entry" + std::to_string(i) + ".zip"; }

const std::string& BaseVault(size_t first) {
    static std::map<size_t, std::string> made;
    auto it = made.find(first);
    if (it != made.end()) return it->second;
    const std::string path = Folder() + "base" + std::to_string(first) + ".vfo";
    fileio::Remove(path);
    VaultHandle* w = OpenVaultWriter(path.c_str(), 0, kVaultSourcePath, (Folder() + "add.tmp").c_str());
    uint32_t x = 12345;
    int i = 0;
    for (size_t size : Sizes(first)) {
        std::vector<uint8_t> data(size);
        for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        AddVaultEntry(w, EntryName(i++).c_str(), data.data(), static_cast<uint32_t>(size), kVaultSourceMemory,
                      nullptr, nullptr, nullptr, nullptr);
    }
    CloseVaultHandle(w);
    fileio::Remove(Folder() + "add.tmp");
    return made[first] = path;
}

void Copy(const std::string& from, const std::string& to) {
    CFile in, out;
    in.Open(from, CFile::Mode::Read);
    out.Open(to, CFile::Mode::CreateWrite);
    std::vector<uint8_t> buf(4 << 20);
    size_t got = 0;
    while (in.Read(buf.data(), buf.size(), &got) && got > 0) out.Write(buf.data(), got);
    out.Flush();
}

// args: first entry's size in KB, guarded (1) or not (0), entry to delete;
// then, when not 0, the longest slot step in MB and the straight-step
// distance in KB.
void Delete(benchmark::State& state) {
    const size_t first = size_t(state.range(0)) * 1024;
    const bool guarded = state.range(1) != 0;
    const int victim = static_cast<int>(state.range(2));
    const std::string base = BaseVault(first);
    const std::string work = Folder() + "work.vfo";
    compaction::Options options;
    if (guarded) options.journalPath = JournalFolder() + deljournal::kDeleteJournalName;
    if (state.range(3) > 0) options.slotBytes = uint64_t(state.range(3)) << 20;
    if (state.range(4) > 0) options.directDistance = uint64_t(state.range(4)) << 10;
    uint64_t moved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Copy(base, work);
        state.ResumeTiming();
        const auto out = compaction::CompactVault(
            work, [victim](const std::string& n) { return n == EntryName(victim); }, options);
        if (out.status != compaction::Status::Done) state.SkipWithError("delete failed");
        moved = out.bytesMoved;
    }
    state.counters["MB_moved"] = double(moved) / (1 << 20);
    fileio::Remove(work);
}

}  // namespace

// First entry of 64 KB to 1 MB (moves through the slot, or straight with a
// given straight-step distance) and of 16 MB (straight); entry 46.
BENCHMARK(Delete)
    ->ArgNames({"firstKB", "guarded", "entry", "slotMB", "straightKB"})
    ->Args({64, 0, 0, 0, 0})
    ->Args({64, 1, 0, 0, 0})
    ->Args({64, 1, 0, 1, 0})
    ->Args({64, 1, 0, 4, 0})
    ->Args({64, 1, 0, 16, 0})
    ->Args({256, 0, 0, 0, 0})
    ->Args({256, 1, 0, 0, 0})
    ->Args({256, 1, 0, 0, 256})
    ->Args({1024, 0, 0, 0, 0})
    ->Args({1024, 1, 0, 0, 0})
    ->Args({1024, 1, 0, 0, 2048})
    ->Args({16384, 0, 0, 0, 0})
    ->Args({16384, 1, 0, 0, 0})
    ->Args({64, 0, 46, 0, 0})
    ->Args({64, 1, 46, 0, 0})
    ->Args({64, 1, 46, 0, 65536})  // kept whole in the journal
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
