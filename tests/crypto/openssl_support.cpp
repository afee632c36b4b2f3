#include "openssl_support.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace orvelo::test {
namespace {

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "OpenSSL failed: %s\n", what);
    std::abort();
}

struct CtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

struct SigFree {
    void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
};
using EcdsaSig = std::unique_ptr<ECDSA_SIG, SigFree>;

}  // namespace

Bn bn_from(const Bytes32& bytes) {
    Bn bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
    if (!bn)
        die("BN_bin2bn");
    return bn;
}

Bn bn_from(const Limbs& limbs) {
    return bn_from(limbs_to_bytes(limbs));
}

Bytes32 bytes_from(const BIGNUM* bn) {
    Bytes32 bytes;
    if (BN_bn2binpad(bn, bytes.data(), 32) != 32)
        die("BN_bn2binpad");
    return bytes;
}

Pkey generate_p256_key() {
    Pkey key(EVP_EC_gen("P-256"));
    if (!key)
        die("EVP_EC_gen");
    return key;
}

Pkey private_key_from_pem(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr)
        die("BIO_new_mem_buf");
    Pkey key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    return key;
}

Bytes64 public_key_bytes(EVP_PKEY* key) {
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) != 1 ||
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) != 1) {
        die("EVP_PKEY_get_bn_param");
    }
    const Bn x_owned(x), y_owned(y);
    const Bytes32 x_bytes = bytes_from(x), y_bytes = bytes_from(y);
    Bytes64 out;
    std::copy(x_bytes.begin(), x_bytes.end(), out.begin());
    std::copy(y_bytes.begin(), y_bytes.end(), out.begin() + 32);
    return out;
}

Signature sign_digest(EVP_PKEY* key, const Bytes32& digest) {
    const PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1)
        die("EVP_PKEY_sign_init");
    std::size_t size = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size()) != 1) {
        die("EVP_PKEY_sign size");
    }
    std::vector<u8> der(size);
    if (EVP_PKEY_sign(ctx.get(), der.data(), &size, digest.data(), digest.size()) != 1) {
        die("EVP_PKEY_sign");
    }
    const u8* next = der.data();
    const EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &next, static_cast<long>(size)));
    if (!sig)
        die("d2i_ECDSA_SIG");
    return {bytes_from(ECDSA_SIG_get0_r(sig.get())), bytes_from(ECDSA_SIG_get0_s(sig.get()))};
}

bool openssl_verify(EVP_PKEY* key, const Bytes32& digest, const Bytes32& r, const Bytes32& s) {
    EcdsaSig sig(ECDSA_SIG_new());
    Bn r_bn = bn_from(r), s_bn = bn_from(s);
    if (!sig || ECDSA_SIG_set0(sig.get(), r_bn.get(), s_bn.get()) != 1)
        die("ECDSA_SIG_set0");
    r_bn.release();
    s_bn.release();
    unsigned char* der = nullptr;
    const int der_size = i2d_ECDSA_SIG(sig.get(), &der);
    if (der_size <= 0)
        die("i2d_ECDSA_SIG");
    const PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1)
        die("EVP_PKEY_verify_init");
    const int verdict = EVP_PKEY_verify(ctx.get(), der, static_cast<std::size_t>(der_size),
                                        digest.data(), digest.size());
    OPENSSL_free(der);
    return verdict == 1;
}

Bytes32 openssl_sha256(std::span<const u8> bytes) {
    Bytes32 digest;
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1) {
        die("EVP_Digest");
    }
    return digest;
}

}  // namespace orvelo::test
