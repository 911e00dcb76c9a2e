// Benchmarks of the cipher engine.
// Goals: one full EncipherBuffer call on a 64-byte record under 2 us;
// bulk EncipherBuffer at 100 MB/s or more on one core.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#include "vault/cipher/CipherBuffer.h"

namespace {

constexpr size_t kBulkSize = size_t(1) << 20;   // 1 MiB

std::vector<unsigned char> Pattern(size_t n)
{
    std::vector<unsigned char> b(n);
    unsigned x = 12345;
    for (auto& c : b) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<unsigned char>(x >> 24);
    }
    return b;
}

// One vault header record: the whole call (MD5 of the phrase, key schedule,
// two CBC blocks).
void BM_EncipherBuffer_Record64(benchmark::State& state)
{
    const std::vector<unsigned char> in = Pattern(64);
    std::vector<unsigned char> out(64);
    for (auto _ : state) {
        int r = EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in.data(), out.data(), 64,
                               kVaultBlockSize, kModeCBC);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 64);
}
BENCHMARK(BM_EncipherBuffer_Record64);

void BM_DecipherBuffer_Record64(benchmark::State& state)
{
    const std::vector<unsigned char> plain = Pattern(64);
    std::vector<unsigned char> in(64), out(64);
    EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, plain.data(), in.data(), 64, kVaultBlockSize, kModeCBC);
    for (auto _ : state) {
        int r = DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in.data(), out.data(), 64,
                               kVaultBlockSize, kModeCBC);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 64);
}
BENCHMARK(BM_DecipherBuffer_Record64);

// Bulk: one call over 1 MiB.
void BM_EncipherBuffer_1MiB(benchmark::State& state)
{
    const int n = int(kBulkSize);
    const std::vector<unsigned char> in = Pattern(kBulkSize);
    std::vector<unsigned char> out(kBulkSize);
    for (auto _ : state) {
        int r = EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in.data(), out.data(), n,
                               kVaultBlockSize, kModeCBC);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_EncipherBuffer_1MiB);

void BM_DecipherBuffer_1MiB(benchmark::State& state)
{
    const int n = int(kBulkSize);
    const std::vector<unsigned char> plain = Pattern(kBulkSize);
    std::vector<unsigned char> in(kBulkSize), out(kBulkSize);
    EncipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, plain.data(), in.data(), n, kVaultBlockSize, kModeCBC);
    for (auto _ : state) {
        int r = DecipherBuffer(kVaultKeyPhrase, kKeyMethodDigest, in.data(), out.data(), n,
                               kVaultBlockSize, kModeCBC);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_DecipherBuffer_1MiB);

}  // namespace
