// The built-in key tables: the shared public-key files and the table layout.
#include "crypto/trusted_keys.h"

#include <gtest/gtest.h>

#include "crypto/ecdsa.h"
#include "crypto/sha256.h"
#include "test_support.h"

namespace orvelo {
namespace {

Bytes64 shared_key(std::string_view file) {
    std::string hex = test::read_data("keys/" + std::string(file));
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) {
        hex.pop_back();
    }
    EXPECT_EQ(hex.size(), 128u) << file;
    return test::array_from_hex<64>(hex);
}

TEST(TrustedKeys, TablesHoldThePublishedKeysInOrder) {
    const Bytes64 release = shared_key("release-public.hex");
    const Bytes64 development = shared_key("development-public.hex");
    ASSERT_EQ(RELEASE_KEYS.size(), 1u);
    EXPECT_EQ(RELEASE_KEYS[0].name, "Orvelo release");
    EXPECT_EQ(RELEASE_KEYS[0].public_key, release);
    ASSERT_EQ(DEV_KEYS.size(), 2u);
    EXPECT_EQ(DEV_KEYS[0].name, "Orvelo release");
    EXPECT_EQ(DEV_KEYS[0].public_key, release);
    EXPECT_EQ(DEV_KEYS[1].name, "Orvelo development");
    EXPECT_EQ(DEV_KEYS[1].public_key, development);
    EXPECT_EQ(trusted_keys(false).data(), RELEASE_KEYS.data());
    EXPECT_EQ(trusted_keys(true).data(), DEV_KEYS.data());
}

TEST(TrustedKeys, KeyIdIsTheStartOfTheKeysDigest) {
    for (const TrustedKey& key : DEV_KEYS) {
        const Sha256Digest digest = sha256(key.public_key);
        EXPECT_TRUE(std::equal(digest.begin(), digest.begin() + 8, key_id(key).begin()));
    }
    EXPECT_NE(key_id(DEV_KEYS[0]), key_id(DEV_KEYS[1]));
}

}  // namespace
}  // namespace orvelo
