// ecdsa_verify against OpenSSL's verdicts on random keys and digests, with the signatures
// intact and corrupted in the ways that matter.
#include <gtest/gtest.h>

#include <random>

#include "crypto/ecdsa.h"
#include "openssl_support.h"

namespace orvelo {
namespace {

using test::openssl_verify;
using test::Pkey;

Bytes32 random_32(std::mt19937_64& generator) {
    Bytes32 bytes;
    for (u8& byte : bytes) {
        byte = static_cast<u8>(generator());
    }
    return bytes;
}

TEST(EcdsaOpenSsl, VerdictsMatchOnRandomKeysAndCorruptedSignatures) {
    std::mt19937_64 generator(31);
    const Bytes32 n = limbs_to_bytes(P256_N);
    std::size_t valid_count = 0, invalid_count = 0;
    for (int round = 0; round < 12; ++round) {
        const Pkey key = test::generate_p256_key();
        const Pkey other_key = test::generate_p256_key();
        const Bytes64 public_key = test::public_key_bytes(key.get());
        Bytes32 digest = random_32(generator);
        if (round == 0) {
            digest = n;  // e ≥ n is reduced
        } else if (round == 1) {
            digest.fill(0xff);
        } else if (round == 2) {
            digest.fill(0);
        }
        const test::Signature signature = test::sign_digest(key.get(), digest);

        struct Variant {
            const char* name;
            Bytes32 e, r, s;
        };
        std::vector<Variant> variants = {{"intact", digest, signature.r, signature.s}};
        Bytes32 flipped = digest;
        flipped[generator() % 32] ^= static_cast<u8>(1u << (generator() % 8));
        variants.push_back({"digest bit flipped", flipped, signature.r, signature.s});
        Bytes32 r = signature.r;
        r[generator() % 32] ^= static_cast<u8>(1u << (generator() % 8));
        variants.push_back({"r bit flipped", digest, r, signature.s});
        Bytes32 s = signature.s;
        s[generator() % 32] ^= static_cast<u8>(1u << (generator() % 8));
        variants.push_back({"s bit flipped", digest, signature.r, s});
        variants.push_back({"r and s swapped", digest, signature.s, signature.r});
        // n − s: the other valid signature with the same r.
        const Bytes32 s_negated = limbs_to_bytes(
            mod_sub(Limbs{0, 0, 0, 0}, limbs_from_bytes(signature.s.data()), ORDER_N));
        variants.push_back({"s negated", digest, signature.r, s_negated});
        variants.push_back({"r = 0", digest, Bytes32{}, signature.s});
        variants.push_back({"s = n", digest, signature.r, n});
        variants.push_back(
            {"random", random_32(generator), random_32(generator), random_32(generator)});
        for (const Variant& v : variants) {
            const bool expected = openssl_verify(key.get(), v.e, v.r, v.s);
            EXPECT_EQ(ecdsa_verify(v.e, v.r, v.s, public_key), expected)
                << v.name << " in round " << round;
            (expected ? valid_count : invalid_count)++;
        }
        // The same signature under another key.
        EXPECT_FALSE(ecdsa_verify(digest, signature.r, signature.s,
                                  test::public_key_bytes(other_key.get())));
        EXPECT_FALSE(openssl_verify(other_key.get(), digest, signature.r, signature.s));
    }
    // Intact and negated-s signatures verify; the rest do not.
    EXPECT_EQ(valid_count, 24u);
    EXPECT_GT(invalid_count, 0u);
}

TEST(EcdsaOpenSsl, PublicKeysOffTheCurveOrOutOfRangeAreInvalid) {
    const Pkey key = test::generate_p256_key();
    const Bytes64 public_key = test::public_key_bytes(key.get());
    const Bytes32 digest = {1, 2, 3};
    const test::Signature signature = test::sign_digest(key.get(), digest);
    ASSERT_TRUE(ecdsa_verify(digest, signature.r, signature.s, public_key));

    std::vector<Bytes64> bad_keys;
    Bytes64 y_changed = public_key;
    y_changed[63] ^= 1;
    bad_keys.push_back(y_changed);
    // X + p or Y + p (when it fits) names the same residue but is out of range.
    for (const int half : {0, 32}) {
        Limbs value = limbs_from_bytes(public_key.data() + half);
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 sum = u128(value[j]) + P256_P[j] + carry;
            value[j] = static_cast<u64>(sum);
            carry = static_cast<u64>(sum >> 64);
        }
        if (carry == 0) {
            Bytes64 shifted = public_key;
            const Bytes32 bytes = limbs_to_bytes(value);
            std::copy(bytes.begin(), bytes.end(), shifted.begin() + half);
            bad_keys.push_back(shifted);
        }
    }
    bad_keys.push_back(Bytes64{});  // (0, 0), where infinity would be if it had coordinates
    Bytes64 all_ones;
    all_ones.fill(0xff);
    bad_keys.push_back(all_ones);
    for (const Bytes64& bad : bad_keys) {
        EXPECT_FALSE(ecdsa_verify(digest, signature.r, signature.s, bad));
    }
}

}  // namespace
}  // namespace orvelo
