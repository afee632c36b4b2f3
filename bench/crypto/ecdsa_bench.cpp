// One ECDSA P-256 verification: ours beside OpenSSL's, on the same key, digest and signature.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "crypto/ecdsa.h"

namespace {

// The least time of the repetitions: on a shared machine the other statistics mostly measure
// the neighbours.
double minimum(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

struct Fixture {
    EVP_PKEY* key = nullptr;
    orvelo::Bytes64 public_key = {};
    orvelo::Bytes32 digest = {};
    orvelo::Bytes32 r = {};
    orvelo::Bytes32 s = {};
    std::vector<unsigned char> der;
};

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "OpenSSL failed: %s\n", what);
    std::abort();
}

const Fixture& fixture() {
    static const Fixture made = [] {
        Fixture f;
        f.key = EVP_EC_gen("P-256");
        if (f.key == nullptr)
            die("EVP_EC_gen");
        for (std::size_t i = 0; i < f.digest.size(); ++i) {
            f.digest[i] = static_cast<orvelo::u8>(0xa5 ^ (i * 37));
        }
        BIGNUM* x = nullptr;
        BIGNUM* y = nullptr;
        if (EVP_PKEY_get_bn_param(f.key, OSSL_PKEY_PARAM_EC_PUB_X, &x) != 1 ||
            EVP_PKEY_get_bn_param(f.key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) != 1 ||
            BN_bn2binpad(x, f.public_key.data(), 32) != 32 ||
            BN_bn2binpad(y, f.public_key.data() + 32, 32) != 32) {
            die("public key");
        }
        BN_free(x);
        BN_free(y);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(f.key, nullptr);
        std::size_t size = 0;
        if (ctx == nullptr || EVP_PKEY_sign_init(ctx) != 1 ||
            EVP_PKEY_sign(ctx, nullptr, &size, f.digest.data(), 32) != 1) {
            die("sign size");
        }
        f.der.resize(size);
        if (EVP_PKEY_sign(ctx, f.der.data(), &size, f.digest.data(), 32) != 1)
            die("sign");
        f.der.resize(size);
        EVP_PKEY_CTX_free(ctx);
        const unsigned char* next = f.der.data();
        ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &next, static_cast<long>(size));
        if (sig == nullptr || BN_bn2binpad(ECDSA_SIG_get0_r(sig), f.r.data(), 32) != 32 ||
            BN_bn2binpad(ECDSA_SIG_get0_s(sig), f.s.data(), 32) != 32) {
            die("signature");
        }
        ECDSA_SIG_free(sig);
        return f;
    }();
    return made;
}

void BM_EcdsaVerify_Ours(benchmark::State& state) {
    const Fixture& f = fixture();
    if (!orvelo::ecdsa_verify(f.digest, f.r, f.s, f.public_key)) {
        state.SkipWithError("our verification refused OpenSSL's signature");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvelo::ecdsa_verify(f.digest, f.r, f.s, f.public_key));
    }
}

// OpenSSL with the key already parsed, as ours has it; a context per call, as a caller would.
void BM_EcdsaVerify_OpenSsl(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(f.key, nullptr);
        EVP_PKEY_verify_init(ctx);
        const int verdict = EVP_PKEY_verify(ctx, f.der.data(), f.der.size(), f.digest.data(), 32);
        EVP_PKEY_CTX_free(ctx);
        if (verdict != 1) {
            state.SkipWithError("OpenSSL refused its own signature");
            return;
        }
    }
}

BENCHMARK(BM_EcdsaVerify_Ours)->ComputeStatistics("min", minimum)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EcdsaVerify_OpenSsl)->ComputeStatistics("min", minimum)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
