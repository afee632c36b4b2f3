// SHA-256 throughput: ours on the automatic path (the SHA extensions where present) and on the
// portable path, beside OpenSSL's, over 1 KiB, 64 KiB and 64 MiB. Compare bytes_per_second of
// the same size.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "crypto/sha256.h"

namespace {

// The least time of the repetitions: on a shared machine the other statistics mostly measure
// the neighbours. (Its bytes_per_second is the least rate, not the rate of the least time: read
// the times.)
double minimum(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

const std::vector<orvelo::u8>& input(std::size_t size) {
    static std::vector<orvelo::u8> bytes;
    if (bytes.size() < size) {
        bytes.resize(size);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<orvelo::u8>(i * 131 + (i >> 11));
        }
    }
    return bytes;
}

void run_ours(benchmark::State& state, bool portable) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const std::span<const orvelo::u8> bytes(input(size).data(), size);
    orvelo::sha256_force_portable(portable);
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvelo::sha256(bytes));
    }
    orvelo::sha256_force_portable(false);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}

void BM_Sha256_Ours(benchmark::State& state) {
    run_ours(state, false);
}
void BM_Sha256_OursPortable(benchmark::State& state) {
    run_ours(state, true);
}

// OpenSSL through its fastest public interface: the algorithm fetched once, one context reused.
void BM_Sha256_OpenSsl(benchmark::State& state) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const std::vector<orvelo::u8>& bytes = input(size);
    EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (md == nullptr || ctx == nullptr) {
        state.SkipWithError("OpenSSL has no SHA-256");
        return;
    }
    unsigned char digest[32];
    unsigned int digest_size = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, bytes.data(), size);
        EVP_DigestFinal_ex(ctx, digest, &digest_size);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}

constexpr std::int64_t KiB = 1024;

BENCHMARK(BM_Sha256_Ours)
    ->ComputeStatistics("min", minimum)
    ->Arg(KiB)
    ->Arg(64 * KiB)
    ->Arg(64 * KiB * KiB);
BENCHMARK(BM_Sha256_OpenSsl)
    ->ComputeStatistics("min", minimum)
    ->Arg(KiB)
    ->Arg(64 * KiB)
    ->Arg(64 * KiB * KiB);
BENCHMARK(BM_Sha256_OursPortable)
    ->ComputeStatistics("min", minimum)
    ->Arg(KiB)
    ->Arg(64 * KiB)
    ->Arg(64 * KiB * KiB);

}  // namespace

BENCHMARK_MAIN();
