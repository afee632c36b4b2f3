// SHA-256 against the NIST CAVP byte-oriented vectors (ShortMsg, LongMsg, Monte), on both block
// functions.
#include <gtest/gtest.h>

#include "crypto/sha256.h"
#include "test_support.h"

namespace orvelo {
namespace {

using test::from_hex;
using test::parse_rsp;
using test::read_text;

enum class Path { Portable, Automatic };

void PrintTo(Path path, std::ostream* out) {
    *out << (path == Path::Portable ? "portable" : "automatic");
}

class Sha256VectorsTest : public ::testing::TestWithParam<Path> {
  protected:
    void SetUp() override { sha256_force_portable(GetParam() == Path::Portable); }
    void TearDown() override { sha256_force_portable(false); }
};

// Every message record, hashed whole and in pieces of 1, 63, 64 and 65 bytes. Returns the
// message lengths seen, in bytes.
std::vector<std::size_t> check_messages(const std::string& file) {
    const std::string text = test::read_data("vectors/sha256/" + file);
    EXPECT_FALSE(text.empty()) << file;
    std::vector<std::size_t> lengths;
    for (const test::RspRecord& record : parse_rsp(text)) {
        if (!record.contains("Len")) {
            continue;
        }
        const std::size_t bits = std::stoul(record.at("Len"));
        std::vector<u8> message = from_hex(record.at("Msg"));
        message.resize(bits / 8);  // "Msg = 00" stands for the empty message
        const std::string expected = record.at("MD");
        EXPECT_EQ(hex_lower(sha256(message)), expected) << file << " Len " << bits;
        for (const std::size_t piece : {1, 63, 64, 65}) {
            Sha256 context;
            for (std::size_t next = 0; next < message.size(); next += piece) {
                sha256_update(context, std::span(message).subspan(
                                           next, std::min(piece, message.size() - next)));
            }
            EXPECT_EQ(hex_lower(sha256_finish(context)), expected)
                << file << " Len " << bits << " in pieces of " << piece;
        }
        lengths.push_back(message.size());
    }
    return lengths;
}

TEST_P(Sha256VectorsTest, ShortMessages) {
    const std::vector<std::size_t> lengths = check_messages("SHA256ShortMsg.rsp");
    EXPECT_EQ(lengths.size(), 65u);
    // Both padding lengths and the block boundary are among them.
    for (const std::size_t length : {0, 55, 56, 63, 64}) {
        EXPECT_NE(std::find(lengths.begin(), lengths.end(), length), lengths.end()) << length;
    }
}

TEST_P(Sha256VectorsTest, LongMessages) {
    EXPECT_EQ(check_messages("SHA256LongMsg.rsp").size(), 64u);
}

// The Monte Carlo test: from the seed, each checkpoint is the last of 1000 chained digests,
// each over the three before it.
TEST_P(Sha256VectorsTest, MonteCarlo) {
    const std::vector<test::RspRecord> records =
        parse_rsp(test::read_data("vectors/sha256/SHA256Monte.rsp"));
    ASSERT_FALSE(records.empty());
    ASSERT_TRUE(records[0].contains("Seed"));
    std::vector<u8> seed = from_hex(records[0].at("Seed"));
    std::size_t checkpoints = 0;
    for (const test::RspRecord& record : records) {
        if (!record.contains("MD")) {
            continue;
        }
        std::vector<u8> md0 = seed, md1 = seed, md2 = seed;
        for (int i = 3; i < 1003; ++i) {
            std::vector<u8> message = md0;
            message.insert(message.end(), md1.begin(), md1.end());
            message.insert(message.end(), md2.begin(), md2.end());
            const Sha256Digest digest = sha256(message);
            md0 = std::move(md1);
            md1 = std::move(md2);
            md2.assign(digest.begin(), digest.end());
        }
        EXPECT_EQ(hex_lower(md2), record.at("MD")) << "COUNT " << record.at("COUNT");
        seed = md2;
        ++checkpoints;
    }
    EXPECT_EQ(checkpoints, 100u);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256VectorsTest,
                         ::testing::Values(Path::Portable, Path::Automatic), [](const auto& info) {
                             return info.param == Path::Portable ? "Portable" : "Automatic";
                         });

}  // namespace
}  // namespace orvelo
