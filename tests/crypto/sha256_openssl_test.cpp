// SHA-256 on both block functions against OpenSSL, on random messages of every length up to a
// few blocks and on long ones.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/sha256.h"
#include "openssl_support.h"

namespace orvelo {
namespace {

TEST(Sha256OpenSsl, DigestsMatchOnBothPaths) {
    std::mt19937 generator(41);
    std::vector<u8> bytes(3 * 1024 * 1024 + 17);
    for (u8& byte : bytes) {
        byte = static_cast<u8>(generator());
    }
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 300; ++length) {
        lengths.push_back(length);
    }
    for (const std::size_t length : {16383, 16384, 16385, 65536, 1 << 20, 3 << 20}) {
        lengths.push_back(length);
    }
    lengths.push_back(bytes.size());
    for (const bool portable : {true, false}) {
        sha256_force_portable(portable);
        for (const std::size_t length : lengths) {
            const std::span<const u8> message(bytes.data() + length % 7, length - length % 7);
            ASSERT_EQ(sha256(message), test::openssl_sha256(message))
                << length << (portable ? " portable" : " automatic");
        }
    }
    sha256_force_portable(false);
}

}  // namespace
}  // namespace orvelo
