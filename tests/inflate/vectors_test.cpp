// The published deflate vectors kept in tests/data: valid streams give their known output, and
// malformed ones the outcome their manifest records for zlib's raw inflate, translated into this
// decoder's texts, except where this decoder deliberately answers otherwise (listed below).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/messages.h"
#include "crypto/sha256.h"
#include "inflate_harness.h"

namespace orvelo {
namespace {

const std::filesystem::path VECTORS =
    std::filesystem::path(ORVELO_TEST_DATA_DIR) / "vectors/inflate";

std::vector<u8> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string hex(std::span<const u8> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (u8 byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string sha256_hex(std::span<const u8> bytes) {
    const auto digest = sha256(bytes);
    return hex(std::span<const u8>(digest.data(), digest.size()));
}

// Rows of a tab-separated manifest, each as column name -> value.
std::vector<std::map<std::string, std::string>> read_manifest(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::map<std::string, std::string>> rows;
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) {
            fields.push_back(field);
        }
        if (names.empty()) {
            names = fields;
            continue;
        }
        std::map<std::string, std::string>& row = rows.emplace_back();
        for (std::size_t i = 0; i < names.size(); ++i) {
            row[names[i]] = i < fields.size() ? fields[i] : "";
        }
    }
    return rows;
}

// The deflate stream inside a vector file: a zlib-wrapped one loses its 2-byte header (its
// 4-byte trailer is data after the final block).
std::vector<u8> deflate_body(std::vector<u8> file, const std::string& wrapper) {
    if (wrapper == "zlib") {
        file.erase(file.begin(), file.begin() + 2);
    }
    return file;
}

TEST(InflateVectors, ValidStreamsGiveTheirKnownOutput) {
    const auto rows = read_manifest(VECTORS / "valid/manifest.tsv");
    ASSERT_GE(rows.size(), 50u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.at("stream"));
        const std::vector<u8> file = read_file(VECTORS / "valid" / row.at("stream"));
        ASSERT_EQ(sha256_hex(file), row.at("stream_sha256"));
        const test::Outcome outcome = test::run_inflate(deflate_body(file, row.at("wrapper")));

        std::vector<u8> expected;
        if (row.at("expected_output").starts_with("(")) {
            expected.assign(std::stoul(row.at("output_size")), 0);  // "(N zero bytes; no file)"
        } else {
            expected = read_file(VECTORS / "valid" / row.at("expected_output"));
        }
        ASSERT_EQ(sha256_hex(expected), row.at("output_sha256"));

        if (row.at("final_block_present") == "yes") {
            EXPECT_EQ(outcome.error(), "");
            EXPECT_EQ(outcome.output, expected);
        } else {
            // The data is complete but no block is marked final: the stream never ends. What
            // left the window before the data ran out is the start of the known output.
            EXPECT_EQ(outcome.error(), msg::INFLATE_ENDS_EARLY);
            ASSERT_LE(outcome.output.size(), expected.size());
            EXPECT_TRUE(std::equal(outcome.output.begin(), outcome.output.end(), expected.begin()));
        }
    }
}

// zlib's messages and the texts of this decoder that stand for the same fault. zlib gives one
// message to faults this decoder tells apart.
const std::map<std::string, std::set<std::string_view>> ZLIB_TO_OURS = {
    {"invalid stored block lengths", {msg::INFLATE_STORED_LENGTH_MISMATCH}},
    {"invalid block type", {msg::INFLATE_INVALID_BLOCK_TYPE}},
    {"too many length or distance symbols", {msg::INFLATE_BAD_COUNTS}},
    {"invalid code lengths set", {msg::INFLATE_OVERSUBSCRIBED}},
    {"invalid literal/lengths set", {msg::INFLATE_OVERSUBSCRIBED}},
    {"invalid distances set", {msg::INFLATE_OVERSUBSCRIBED}},
    {"invalid bit length repeat",
     {msg::INFLATE_REPEAT_WITHOUT_LENGTH, msg::INFLATE_CODE_LENGTHS_OVERFLOW}},
    {"invalid code -- missing end-of-block", {msg::INFLATE_NO_END_OF_BLOCK}},
    {"invalid literal/length code", {msg::INFLATE_INVALID_LENGTH_CODE, msg::INFLATE_INVALID_CODE}},
    {"invalid distance code", {msg::INFLATE_INVALID_CODE}},
    {"invalid distance too far back", {msg::INFLATE_DISTANCE_TOO_FAR}},
};

struct Override {
    std::string_view expected;  // a failure text, or "" for success
    const char* why;
};

// Where this decoder answers otherwise than zlib, by design. It accepts an incomplete Huffman
// code (one that leaves bit patterns unassigned) and fails only if the stream uses such a
// pattern, where zlib refuses the code itself; it calls a pattern invalid only after 15 bits;
// and it refuses a leading repeat before reading the repeat's count. Each entry was worked out by
// hand from the stream's bits.
const std::map<std::string, Override> OVERRIDES = {
    {"wuffs/distance-code-31.deflate",
     {msg::INFLATE_ENDS_EARLY, "distance code 31 is followed by one bit, not the 15 it takes"}},
    {"zig-flate-fuzz/invalid-tree01.input",
     {msg::INFLATE_ENDS_EARLY, "incomplete code-length code (lengths 4, 1, 3), then no data"}},
    {"zig-flate-fuzz/invalid-tree02.input",
     {"", "only end-of-block has a literal/length code (3 bits); the block ends at once"}},
    {"zig-flate-fuzz/invalid-tree03.input",
     {"", "end-of-block alone (1 bit) and one 8-bit distance code; the block ends at once"}},
    {"zig-flate-fuzz/out-of-codes.input",
     {msg::INFLATE_INVALID_CODE,
      "the code-length code has no codes at all (zlib reads a length "
      "of 0 per bit from it and runs out of data)"}},
    {"zig-flate-fuzz/puff13.input",
     {msg::INFLATE_ENDS_EARLY, "four 7-bit code-length codes (incomplete), then no data"}},
    {"zig-flate-fuzz/puff14.input",
     {msg::INFLATE_REPEAT_WITHOUT_LENGTH, "symbol 16 first; zlib wants its 2 extra bits first"}},
    {"zig-flate-fuzz/puff15.input",
     {msg::INFLATE_ENDS_EARLY, "a single 2-bit distance code (incomplete), then the data ends"}},
    {"zig-flate-fuzz/puff24.input",
     {msg::INFLATE_INVALID_CODE,
      "incomplete literal/length code; the second symbol of the "
      "dynamic block uses an unassigned pattern"}},
    {"zlib/infcover-try-05-invalid-code-lengths-set.deflate",
     {msg::INFLATE_ENDS_EARLY, "the same bytes as zig-flate-fuzz/puff13.input"}},
    {"zlib/infcover-try-10-invalid-distances-set.deflate",
     {msg::INFLATE_ENDS_EARLY, "the same bytes as zig-flate-fuzz/puff15.input"}},
    {"zlib/puff-47-rc-neg4-code-length-code-lengths-incomplete.deflate",
     {msg::INFLATE_ENDS_EARLY, "the same bytes as zig-flate-fuzz/puff13.input"}},
    {"zlib/puff-48-rc-neg5-repeat-with-no-first-length.deflate",
     {msg::INFLATE_REPEAT_WITHOUT_LENGTH, "the same bytes as zig-flate-fuzz/puff14.input"}},
    {"zlib/puff-49-rc-neg8-invalid-distance-code-lengths.deflate",
     {msg::INFLATE_ENDS_EARLY, "the same bytes as zig-flate-fuzz/puff15.input"}},
};

TEST(InflateVectors, MalformedStreamsGiveTheOutcomeTheirManifestRecords) {
    const auto rows = read_manifest(VECTORS / "malformed/manifest.tsv");
    ASSERT_GE(rows.size(), 90u);
    for (const auto& row : rows) {
        const std::string& name = row.at("file");
        SCOPED_TRACE(name);
        const std::vector<u8> file = read_file(VECTORS / "malformed" / name);
        ASSERT_EQ(sha256_hex(file), row.at("sha256"));
        const test::Outcome outcome = test::run_inflate(deflate_body(file, row.at("wrapper")));
        const std::string& zlib = row.at("python_zlib_1.2.13_wbits-15");

        if (const auto found = OVERRIDES.find(name); found != OVERRIDES.end()) {
            EXPECT_EQ(outcome.error(), found->second.expected)
                << found->second.why << "; zlib: " << zlib;
            continue;
        }
        if (zlib.starts_with("ok")) {
            ASSERT_EQ(outcome.error(), "") << "zlib: " << zlib;
            EXPECT_EQ(zlib.substr(0, zlib.find(' ', 3)),
                      "ok out=" + std::to_string(outcome.output.size()));
            EXPECT_EQ(sha256_hex(outcome.output), row.at("output_sha256_if_ok"));
        } else if (zlib.starts_with("incomplete")) {
            EXPECT_EQ(outcome.error(), msg::INFLATE_ENDS_EARLY) << "zlib: " << zlib;
        } else {
            ASSERT_TRUE(zlib.starts_with("error: ")) << zlib;
            const auto texts = ZLIB_TO_OURS.find(zlib.substr(7));
            ASSERT_NE(texts, ZLIB_TO_OURS.end()) << zlib;
            EXPECT_TRUE(texts->second.contains(outcome.error()))
                << "zlib: " << zlib << ", ours: " << outcome.error();
        }
    }
}

}  // namespace
}  // namespace orvelo
