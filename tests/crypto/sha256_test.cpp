// SHA-256 on both block functions: streaming in pieces, long runs, hexadecimal text. The digests
// themselves are checked against the NIST vectors (sha256_vectors_test.cpp) and OpenSSL.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/sha256_blocks.h"

namespace orvelo {
namespace {

std::vector<u8> random_bytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<u8> bytes(count);
    for (u8& byte : bytes) {
        byte = static_cast<u8>(generator());
    }
    return bytes;
}

Sha256Digest digest_in_pieces(std::span<const u8> bytes, std::span<const std::size_t> sizes) {
    Sha256 context;
    std::size_t next = 0;
    for (std::size_t i = 0; next < bytes.size(); ++i) {
        const std::size_t size = std::min(sizes[i % sizes.size()], bytes.size() - next);
        sha256_update(context, bytes.subspan(next, size));
        next += size;
    }
    return sha256_finish(context);
}

enum class Path { Portable, Automatic };

void PrintTo(Path path, std::ostream* out) {
    *out << (path == Path::Portable ? "portable" : "automatic");
}

class Sha256PathTest : public ::testing::TestWithParam<Path> {
  protected:
    void SetUp() override { sha256_force_portable(GetParam() == Path::Portable); }
    void TearDown() override { sha256_force_portable(false); }
};

TEST_P(Sha256PathTest, PiecesOfAnySizeGiveTheOneShotDigest) {
    const std::vector<u8> bytes = random_bytes(20000, 1);
    const Sha256Digest whole = sha256(bytes);
    const std::vector<std::vector<std::size_t>> piece_patterns = {
        {1}, {63}, {64}, {65}, {0, 1, 0, 63, 64, 65, 127, 128, 129, 4096}, {3, 200, 1, 17}};
    for (const std::vector<std::size_t>& sizes : piece_patterns) {
        EXPECT_EQ(digest_in_pieces(bytes, sizes), whole) << "first piece size " << sizes[0];
    }
}

TEST_P(Sha256PathTest, EveryLengthAroundTheBlockAndPaddingBoundariesStreamsAlike) {
    // 55 and 56 bytes in the last block need one and two padding blocks.
    const std::vector<u8> bytes = random_bytes(300, 2);
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        const std::span<const u8> message(bytes.data(), length);
        const std::size_t byte_at_a_time[] = {1};
        EXPECT_EQ(digest_in_pieces(message, byte_at_a_time), sha256(message)) << length;
    }
}

TEST_P(Sha256PathTest, UpdateWithNoBytesChangesNothing) {
    const std::vector<u8> bytes = random_bytes(100, 3);
    Sha256 context;
    sha256_update(context, std::span(bytes).first(30));
    sha256_update(context, {});
    sha256_update(context, std::span(bytes).subspan(30));
    sha256_update(context, {});
    EXPECT_EQ(context.total, 100u);
    EXPECT_EQ(context.buffered, 100u % 64);
    EXPECT_EQ(sha256_finish(context), sha256(bytes));
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256PathTest,
                         ::testing::Values(Path::Portable, Path::Automatic), [](const auto& info) {
                             return info.param == Path::Portable ? "Portable" : "Automatic";
                         });

TEST(Sha256Paths, ForcingThePortablePathSwitchesAwayFromTheExtensions) {
    sha256_force_portable(true);
    EXPECT_FALSE(sha256_uses_sha_extensions());
    sha256_force_portable(false);
#if defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __asm__("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(7), "c"(0));
    const bool has_sha = (ebx >> 29) & 1;
    EXPECT_EQ(sha256_uses_sha_extensions(), has_sha);
#endif
}

TEST(Sha256Paths, BothBlockFunctionsAgreeOnLongRunsAndAnyState) {
    if (!sha256_uses_sha_extensions()) {
        GTEST_SKIP() << "this processor has no SHA extensions";
    }
    // 1000 blocks: several runs of 256 blocks and a partial one.
    const std::vector<u8> blocks = random_bytes(64 * 1000, 4);
    std::mt19937 generator(5);
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{255},
                                    std::size_t{256}, std::size_t{257}, std::size_t{1000}}) {
        std::array<u32, 8> portable;
        for (u32& word : portable) {
            word = static_cast<u32>(generator());
        }
        std::array<u32, 8> accelerated = portable;
        sha256_blocks_portable(portable, blocks.data(), count);
        sha256_blocks_sha_extensions(accelerated, blocks.data(), count);
        EXPECT_EQ(portable, accelerated) << count << " blocks";
    }
}

TEST(HexLower, TwoLowerCaseDigitsPerByteHighNibbleFirst) {
    const std::vector<u8> bytes = {0x00, 0x09, 0x0a, 0x0f, 0x10, 0x5a, 0xa5, 0xf0, 0xff};
    EXPECT_EQ(hex_lower(bytes), "00090a0f105aa5f0ff");
    EXPECT_EQ(hex_lower({}), "");
    const Sha256Digest digest = sha256({});
    const std::string text = hex_lower(digest);
    EXPECT_EQ(text.size(), 64u);
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
}

}  // namespace
}  // namespace orvelo
