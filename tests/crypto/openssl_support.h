// OpenSSL as the reference for the native tests: keys, signatures over a given digest, verdicts,
// digests. Owning wrappers free everything on every path.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "crypto/p256.h"

namespace orvelo::test {

struct BnFree {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Bn bn_from(const Bytes32& bytes);
Bn bn_from(const Limbs& limbs);
Bytes32 bytes_from(const BIGNUM* bn);  // must fit in 32 bytes

Pkey generate_p256_key();
// A private key in PEM form; nothing when it cannot be read.
Pkey private_key_from_pem(const std::string& pem);
Bytes64 public_key_bytes(EVP_PKEY* key);

struct Signature {
    Bytes32 r;
    Bytes32 s;
};
// An ECDSA signature of the 32-byte digest (OpenSSL's random nonce).
Signature sign_digest(EVP_PKEY* key, const Bytes32& digest);
// OpenSSL's verdict on (r, s) over the digest.
bool openssl_verify(EVP_PKEY* key, const Bytes32& digest, const Bytes32& r, const Bytes32& s);

Bytes32 openssl_sha256(std::span<const u8> bytes);

}  // namespace orvelo::test
