// Hand-made deflate streams, one per failure text and per edge case of the decoder.
#include "inflate/inflate.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "core/messages.h"
#include "deflate_writer.h"
#include "inflate_harness.h"

namespace orvelo {
namespace {

using test::DeflateWriter;
using test::NO_LIMIT;
using test::run_inflate;

// A complete code-length code: symbols 0 to 12 get 4 bits, 13 to 18 get 5 bits.
constexpr std::array<u8, 19> CL_LENGTHS = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5};

struct LengthItem {
    u32 symbol;  // code-length symbol 0 to 18
    u32 extra;   // its extra bits' value (16, 17, 18)
};

// A dynamic block header: HLIT, HDIST, all 19 code-length code lengths, then the items.
DeflateWriter& dynamic_header(DeflateWriter& w, bool final_block, u32 hlit, u32 hdist,
                              std::span<const LengthItem> items) {
    w.header(final_block, 2).bits(hlit, 5).bits(hdist, 5).bits(15, 4);
    constexpr u8 order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (u8 symbol : order) {
        w.bits(CL_LENGTHS[symbol], 3);
    }
    const std::vector<u32> codes = test::canonical_codes(CL_LENGTHS);
    for (const LengthItem& item : items) {
        w.code(codes[item.symbol], CL_LENGTHS[item.symbol]);
        if (item.symbol == 16) {
            w.bits(item.extra, 2);
        } else if (item.symbol == 17) {
            w.bits(item.extra, 3);
        } else if (item.symbol == 18) {
            w.bits(item.extra, 7);
        }
    }
    return w;
}

// Items that describe `lengths` one by one, with runs of zeros as symbol 18 or 17.
std::vector<LengthItem> items_for(std::span<const u8> lengths) {
    std::vector<LengthItem> items;
    for (std::size_t i = 0; i < lengths.size();) {
        std::size_t zeros = 0;
        while (i + zeros < lengths.size() && lengths[i + zeros] == 0 && zeros < 138) {
            ++zeros;
        }
        if (zeros >= 11) {
            items.push_back({18, static_cast<u32>(zeros - 11)});
            i += zeros;
        } else if (zeros >= 3) {
            items.push_back({17, static_cast<u32>(zeros - 3)});
            i += zeros;
        } else {
            items.push_back({lengths[i], 0});
            ++i;
        }
    }
    return items;
}

// A dynamic block's literal/length code (257 + hlit lengths) and distance code.
struct DynamicCode {
    std::vector<u8> lit_lengths;
    std::vector<u8> dist_lengths;
    std::vector<u32> lit_codes;
    std::vector<u32> dist_codes;

    DynamicCode(std::vector<u8> lit, std::vector<u8> dist)
        : lit_lengths(std::move(lit)),
          dist_lengths(std::move(dist)),
          lit_codes(test::canonical_codes(lit_lengths)),
          dist_codes(test::canonical_codes(dist_lengths)) {}

    DeflateWriter& header(DeflateWriter& w, bool final_block) const {
        std::vector<u8> all = lit_lengths;
        all.insert(all.end(), dist_lengths.begin(), dist_lengths.end());
        return dynamic_header(w, final_block, static_cast<u32>(lit_lengths.size() - 257),
                              static_cast<u32>(dist_lengths.size() - 1), items_for(all));
    }
    DeflateWriter& lit(DeflateWriter& w, u32 symbol) const {
        return w.code(lit_codes[symbol], lit_lengths[symbol]);
    }
    DeflateWriter& dist(DeflateWriter& w, u32 symbol) const {
        return w.code(dist_codes[symbol], dist_lengths[symbol]);
    }
};

std::vector<u8> lengths_with(std::size_t size, std::initializer_list<std::pair<u32, u8>> set) {
    std::vector<u8> lengths(size, 0);
    for (auto [symbol, length] : set) {
        lengths[symbol] = length;
    }
    return lengths;
}

// Literal 'a' (1 bit), end of block and length symbol 257 (2 bits each).
const DynamicCode& literal_a_code_without_distances() {
    static const DynamicCode code(lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}}), {0});
    return code;
}

std::vector<u8> zero_padding(DeflateWriter w) {
    w.align().bits(0, 32);
    return w.bytes();
}

struct Case {
    std::string name;
    std::vector<u8> stream;
    u64 limit;
    std::string_view error;  // empty: success with `output`
    std::string output;
};

std::vector<Case> failure_cases() {
    std::vector<Case> cases;
    auto add = [&](std::string name, std::vector<u8> stream, std::string_view error,
                   u64 limit = NO_LIMIT) {
        cases.push_back({std::move(name), std::move(stream), limit, error, ""});
    };
    add("EmptyInput", {}, msg::INFLATE_ENDS_EARLY);
    add("HeaderCutShort", {0x05}, msg::INFLATE_ENDS_EARLY);  // a dynamic block, its counts cut
    {
        std::vector<u8> s = DeflateWriter().stored(true, "hello").bytes();
        s.resize(s.size() - 2);
        add("StoredBlockCutShort", s, msg::INFLATE_ENDS_EARLY);
    }
    add("StoredLengthsCutShort", {0x01, 0x05, 0x00, 0xFA}, msg::INFLATE_ENDS_EARLY);
    add("NoFinalBlock", DeflateWriter().stored(false, "abc").bytes(), msg::INFLATE_ENDS_EARLY);
    add("FixedBlockWithoutEnd", DeflateWriter().header(true, 1).fixed_literals("abc").bytes(),
        msg::INFLATE_ENDS_EARLY);
    add("BlockType3", DeflateWriter().header(true, 3).bytes(), msg::INFLATE_INVALID_BLOCK_TYPE);
    add("BlockType3AfterABlock", DeflateWriter().stored(false, "x").header(true, 3).bytes(),
        msg::INFLATE_INVALID_BLOCK_TYPE);
    add("StoredComplementWrong",
        DeflateWriter().header(true, 0).align().bits(1, 16).bits(1, 16).bits('x', 8).bytes(),
        msg::INFLATE_STORED_LENGTH_MISMATCH);
    add("Hlit30", DeflateWriter().header(true, 2).bits(30, 5).bits(0, 5).bits(0, 4).bytes(),
        msg::INFLATE_BAD_COUNTS);
    add("Hdist30", DeflateWriter().header(true, 2).bits(0, 5).bits(30, 5).bits(0, 4).bytes(),
        msg::INFLATE_BAD_COUNTS);
    {
        DeflateWriter w;
        w.header(true, 2).bits(0, 5).bits(0, 5).bits(15, 4);
        for (int i = 0; i < 19; ++i) {
            w.bits(1, 3);  // nineteen codes of one bit
        }
        add("CodeLengthCodeOversubscribed", zero_padding(w), msg::INFLATE_OVERSUBSCRIBED);
    }
    {
        const DynamicCode code(lengths_with(257, {{0, 1}, {1, 1}, {256, 1}}), {1});
        DeflateWriter w;
        add("LiteralCodeOversubscribed", zero_padding(code.header(w, true)),
            msg::INFLATE_OVERSUBSCRIBED);
    }
    {
        const DynamicCode code(lengths_with(257, {{0, 1}, {256, 1}}), {1, 1, 1});
        DeflateWriter w;
        add("DistanceCodeOversubscribed", zero_padding(code.header(w, true)),
            msg::INFLATE_OVERSUBSCRIBED);
    }
    {
        const DynamicCode code(lengths_with(257, {{0, 1}, {1, 1}}), {1});
        DeflateWriter w;
        add("NoEndOfBlockCode", zero_padding(code.header(w, true)), msg::INFLATE_NO_END_OF_BLOCK);
    }
    {
        DeflateWriter w;
        const LengthItem items[] = {{16, 0}};
        add("RepeatAsFirstLength", zero_padding(dynamic_header(w, true, 0, 0, items)),
            msg::INFLATE_REPEAT_WITHOUT_LENGTH);
    }
    {
        // 257 + 1 lengths; two runs of 138 zeros are 276.
        DeflateWriter w;
        const LengthItem items[] = {{18, 127}, {18, 127}};
        add("ZeroRunPastTheLengths", zero_padding(dynamic_header(w, true, 0, 0, items)),
            msg::INFLATE_CODE_LENGTHS_OVERFLOW);
    }
    {
        // 256 single lengths of 8 and a repeat of 3 that ends one past 257 + 1.
        DeflateWriter w;
        std::vector<LengthItem> items(257, LengthItem{8, 0});
        items.push_back({16, 0});
        add("RepeatPastTheLengths", zero_padding(dynamic_header(w, true, 0, 0, items)),
            msg::INFLATE_CODE_LENGTHS_OVERFLOW);
    }
    for (u32 symbol : {286u, 287u}) {
        add("FixedLengthSymbol" + std::to_string(symbol),
            zero_padding(DeflateWriter().header(true, 1).fixed_literals("ab").fixed_symbol(symbol)),
            msg::INFLATE_INVALID_LENGTH_CODE);
    }
    for (u32 code : {30u, 31u}) {
        add("FixedDistanceCode" + std::to_string(code),
            zero_padding(
                DeflateWriter().header(true, 1).fixed_literals("ab").fixed_symbol(257).code(code,
                                                                                            5)),
            msg::INFLATE_INVALID_CODE);
    }
    {
        const DynamicCode& code = literal_a_code_without_distances();
        DeflateWriter w;
        code.header(w, true);
        code.lit(w, 'a');
        code.lit(w, 257);
        add("LengthWithNoDistanceCode", zero_padding(w), msg::INFLATE_INVALID_CODE);
    }
    {
        // Only 'a' has a code ("0"); the pattern "1..." belongs to no code.
        const DynamicCode code(lengths_with(257, {{'a', 1}, {256, 2}}), {0});
        DeflateWriter w;
        code.header(w, true);
        code.lit(w, 'a');
        w.bits(0x7FFF, 15);
        add("UnassignedLiteralPattern", zero_padding(w), msg::INFLATE_INVALID_CODE);
    }
    add("DistanceBeforeTheStart",
        zero_padding(DeflateWriter().header(true, 1).fixed_literals("ab").fixed_match(3, 3)),
        msg::INFLATE_DISTANCE_TOO_FAR);
    add("DistanceAtTheVeryStart", zero_padding(DeflateWriter().header(true, 1).fixed_match(3, 1)),
        msg::INFLATE_DISTANCE_TOO_FAR);
    add("LiteralPastTheLimit",
        DeflateWriter().header(true, 1).fixed_literals("abcdef").fixed_symbol(256).bytes(),
        msg::INFLATE_LARGER_THAN_STATED, 5);
    add("MatchCrossingTheLimit",
        DeflateWriter()
            .header(true, 1)
            .fixed_literals("abc")
            .fixed_match(3, 3)
            .fixed_symbol(256)
            .bytes(),
        msg::INFLATE_LARGER_THAN_STATED, 5);
    add("StoredBytesPastTheLimit", DeflateWriter().stored(true, "abcdef").bytes(),
        msg::INFLATE_LARGER_THAN_STATED, 5);
    add("NothingAllowed", DeflateWriter().stored(true, "a").bytes(),
        msg::INFLATE_LARGER_THAN_STATED, 0);
    return cases;
}

std::vector<Case> success_cases() {
    std::vector<Case> cases;
    auto add = [&](std::string name, std::vector<u8> stream, std::string output,
                   u64 limit = NO_LIMIT) {
        cases.push_back({std::move(name), std::move(stream), limit, "", std::move(output)});
    };
    add("EmptyFinalStoredBlock", {0x01, 0x00, 0x00, 0xFF, 0xFF}, "");
    add("EmptyFixedBlock", {0x03, 0x00}, "");
    add(
        "BytesAfterTheFinalBlockIgnored",
        [] {
            std::vector<u8> s = DeflateWriter().stored(true, "hi").bytes();
            s.insert(s.end(), {0xFF, 0xFF, 0x07, 0x00});
            return s;
        }(),
        "hi");
    add("StoredThenFixed",
        DeflateWriter()
            .stored(false, "abc")
            .header(true, 1)
            .fixed_literals("de")
            .fixed_symbol(256)
            .bytes(),
        "abcde");
    add("EveryFixedLiteralLength",  // 8-bit and 9-bit literal codes
        DeflateWriter()
            .header(true, 1)
            .fixed_symbol(0)
            .fixed_symbol(143)
            .fixed_symbol(144)
            .fixed_symbol(255)
            .fixed_symbol(256)
            .bytes(),
        std::string("\x00\x8f\x90\xff", 4));
    add("DistanceEqualToOutputSoFar",
        DeflateWriter()
            .header(true, 1)
            .fixed_literals("ab")
            .fixed_match(3, 2)
            .fixed_symbol(256)
            .bytes(),
        "ababa");
    add("DistanceOneLength258",
        DeflateWriter()
            .header(true, 1)
            .fixed_literals("x")
            .fixed_match(258, 1)
            .fixed_symbol(256)
            .bytes(),
        std::string(259, 'x'));
    add("OverlappingPatterns",
        DeflateWriter()
            .header(true, 1)
            .fixed_literals("abc")
            .fixed_match(20, 3)
            .fixed_literals("0123456")
            .fixed_match(30, 7)
            .fixed_symbol(256)
            .bytes(),
        std::string("abcabcabcabcabcabcabcab") + "0123456012345601234560123456012345601");
    add("OutputExactlyTheLimit",
        DeflateWriter()
            .header(true, 1)
            .fixed_literals("abc")
            .fixed_match(3, 3)
            .fixed_symbol(256)
            .bytes(),
        "abcabc", 6);
    add("StoredExactlyTheLimit", DeflateWriter().stored(true, "abcde").bytes(), "abcde", 5);
    add("StoredAfterBitsInTheBuffer",  // the stored bytes start inside the bit buffer
        DeflateWriter()
            .header(false, 1)
            .fixed_literals("ab")
            .fixed_symbol(256)
            .stored(true, "hello, stored world")
            .bytes(),
        "abhello, stored world");
    {
        const DynamicCode& code = literal_a_code_without_distances();
        DeflateWriter w;
        code.header(w, true);
        code.lit(w, 'a');
        code.lit(w, 'a');
        code.lit(w, 256);
        add("DynamicBlockWithoutDistanceCodes", w.bytes(), "aa");
    }
    {
        // lengths[256] = lengths[257] = 2, then "repeat the last length 3 times" fills the three
        // distance lengths: distance symbols 0 to 2 get 2-bit codes.
        DeflateWriter w;
        std::vector<LengthItem> items = {{18, 97 - 11}, {1, 0}, {18, 127}, {18, 20 - 11},
                                         {2, 0},        {2, 0}, {16, 0}};
        dynamic_header(w, true, 1, 2, items);
        const DynamicCode code(lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}}), {2, 2, 2});
        code.lit(w, 'a');
        code.lit(w, 'a');
        code.lit(w, 'a');
        code.lit(w, 257);  // length 3
        code.dist(w, 2);   // distance 3
        code.lit(w, 256);
        add("RepeatCarriesIntoDistanceLengths", w.bytes(), "aaaaaa");
    }
    {
        // Literals with codes of 1 to 15 bits: symbol k (k = 0..13) gets k + 1 bits, then two
        // symbols of 15 bits make the code complete; 256 is one of them.
        std::vector<u8> lit(257, 0);
        for (u32 k = 0; k < 14; ++k) {
            lit['a' + k] = static_cast<u8>(k + 1);
        }
        lit['z'] = 15;
        lit[256] = 15;
        const DynamicCode code(lit, {1});
        DeflateWriter w;
        code.header(w, true);
        std::string expected;
        for (u32 k = 0; k < 14; ++k) {
            code.lit(w, 'a' + k);
            expected += static_cast<char>('a' + k);
        }
        code.lit(w, 'z');
        code.lit(w, 256);
        add("CodesOfEveryLength", w.bytes(), expected + "z");
    }
    {
        // Length and distance codes on both sides of the lookup tables' widths: the
        // literal/length table resolves codes of up to 11 bits at once and the distance table
        // codes of up to 10, longer ones go through the canonical search (an earlier decoder's
        // second-level tables started at 8 distance bits). Literal/length: 'a' to 'j' get 1 to
        // 10 bits, length symbols 265 (11 or 12) 11 bits and 266 (13 or 14) 12 bits, 'k' 13, 'l'
        // 14, and 256 and 269 (19 to 22) 15 bits. Distance symbol k gets k + 1 bits (k = 0..13):
        // symbol 7 (13 to 16) 8 bits, 8 (17 to 24) 9 bits, 9 (25 to 32) 10 bits, 10 (33 to 48) 11
        // bits; symbols 14 (129 to 192) and 15 get 15 bits.
        std::vector<u8> lit(270, 0);
        for (u32 k = 0; k < 10; ++k) {
            lit['a' + k] = static_cast<u8>(k + 1);
        }
        lit[265] = 11;
        lit[266] = 12;
        lit['k'] = 13;
        lit['l'] = 14;
        lit[256] = 15;
        lit[269] = 15;
        std::vector<u8> dist(16, 0);
        for (u32 k = 0; k < 14; ++k) {
            dist[k] = static_cast<u8>(k + 1);
        }
        dist[14] = 15;
        dist[15] = 15;
        const DynamicCode code(lit, dist);
        DeflateWriter w;
        code.header(w, true);
        std::string expected;
        for (char c : std::string_view("abcdefghijkl")) {
            code.lit(w, static_cast<u8>(c));
            expected += c;
        }
        // Matches as (length, distance): each symbol's code, then its extra bits.
        auto match = [&](u32 length, u32 distance) {
            const DeflateWriter::LengthCode l = DeflateWriter::length_code(length);
            code.lit(w, l.symbol);
            w.bits(l.extra, l.extra_bits);
            const DeflateWriter::LengthCode d = DeflateWriter::distance_code(distance);
            code.dist(w, d.symbol);
            w.bits(d.extra, d.extra_bits);
            for (u32 i = 0; i < length; ++i) {
                expected += expected[expected.size() - distance];
            }
        };
        match(12, 12);  // 11-bit length code, 7-bit distance code
        match(13, 16);  // 12-bit length code, 8-bit distance code
        match(13, 20);  // 12-bit length code, 9-bit distance code
        for (int i = 0; i < 6; ++i) {
            match(22, 9);  // 15-bit length code
        }
        match(14, 22);   // 12-bit length code with its extra bit, 9-bit distance code
        match(21, 190);  // 15-bit length code, 15-bit distance code with 6 extra bits
        match(11, 129);  // 11-bit length code, 15-bit distance code
        match(12, 30);   // 11-bit length code, 10-bit distance code with 3 extra bits
        match(14, 41);   // 12-bit length code, 11-bit distance code with 4 extra bits
        code.lit(w, 'k');
        code.lit(w, 256);
        add("LengthAndDistanceCodesAcrossTheTableLevels", w.bytes(), expected + "k");
    }
    return cases;
}

std::string printable_name(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class InflateFailure : public testing::TestWithParam<Case> {};

TEST_P(InflateFailure, GivesItsText) {
    const Case& c = GetParam();
    for (std::size_t piece : {test::WHOLE_CHUNKS, std::size_t{1}, std::size_t{3}}) {
        const test::Outcome outcome = run_inflate(c.stream, c.limit, piece);
        EXPECT_EQ(outcome.error(), c.error) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(HandMadeStreams, InflateFailure, testing::ValuesIn(failure_cases()),
                         printable_name);

class InflateSuccess : public testing::TestWithParam<Case> {};

TEST_P(InflateSuccess, GivesItsOutput) {
    const Case& c = GetParam();
    for (std::size_t piece : {test::WHOLE_CHUNKS, std::size_t{1}, std::size_t{3}}) {
        const test::Outcome outcome = run_inflate(c.stream, c.limit, piece);
        ASSERT_EQ(outcome.error(), "") << "pieces of " << piece;
        EXPECT_EQ(std::string(outcome.output.begin(), outcome.output.end()), c.output);
        // One call at the end, and no more for an output this small.
        EXPECT_EQ(outcome.sink_calls, std::vector<std::size_t>{c.output.size()});
    }
}

INSTANTIATE_TEST_SUITE_P(HandMadeStreams, InflateSuccess, testing::ValuesIn(success_cases()),
                         printable_name);

// 196605 stored bytes leave the window in calls of 65536, then 32768 as often as the window
// fills again, then the rest.
TEST(InflateWindow, HandsOutputOnInTheWindowsPieces) {
    std::vector<u8> data(3 * 65535);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<u8>(i * 7 + i / 251);
    }
    DeflateWriter w;
    for (int block = 0; block < 3; ++block) {
        w.stored(
            block == 2,
            std::string_view(reinterpret_cast<const char*>(data.data()) + block * 65535, 65535));
    }
    const test::Outcome outcome = run_inflate(w.bytes());
    ASSERT_EQ(outcome.error(), "");
    EXPECT_EQ(outcome.output, data);
    EXPECT_EQ(outcome.sink_calls, (std::vector<std::size_t>{65536, 32768, 32768, 32768, 32765}));
}

// After 40000 stored bytes, matches reaching back 32768 bytes, across many window flushes.
TEST(InflateWindow, ResolvesTheFarthestDistanceAfterManyFlushes) {
    std::vector<u8> expected(40000);
    u32 state = 12345;
    for (u8& byte : expected) {
        state = state * 1103515245 + 12345;
        byte = static_cast<u8>(state >> 16);
    }
    DeflateWriter w;
    w.stored(false,
             std::string_view(reinterpret_cast<const char*>(expected.data()), expected.size()));
    w.header(true, 1);
    for (int i = 0; i < 1200; ++i) {
        const u32 length = 3 + static_cast<u32>(i % 256);
        w.fixed_match(length, 32768);
        for (u32 k = 0; k < length; ++k) {
            expected.push_back(expected[expected.size() - 32768]);
        }
    }
    w.fixed_symbol(256);
    const test::Outcome outcome = run_inflate(w.bytes());
    ASSERT_EQ(outcome.error(), "");
    EXPECT_EQ(outcome.output, expected);
    ASSERT_GE(outcome.sink_calls.size(), 5u);
    // A match that would not fit flushes the window before it is full.
    EXPECT_LE(outcome.sink_calls.front(), 65536u);
    EXPECT_GT(outcome.sink_calls.front(), 65536u - 258);
    for (std::size_t i = 1; i < outcome.sink_calls.size(); ++i) {
        EXPECT_LE(outcome.sink_calls[i], 32768u);
    }
}

// A match that would cross the limit fails before any of its bytes is produced: the bytes before
// it, already handed on, are all the sink ever sees.
TEST(InflateLimit, AMatchCrossingTheLimitWritesNothingOfItself) {
    std::vector<u8> data(65536 + 10, 'q');
    DeflateWriter w;
    w.stored(false, std::string_view(reinterpret_cast<const char*>(data.data()), 65535));
    w.header(true, 1).fixed_literals("q").fixed_literals("0123456789").fixed_match(5, 10);
    w.fixed_symbol(256);
    const test::Outcome over = run_inflate(w.bytes(), 65536 + 14);
    EXPECT_EQ(over.error(), msg::INFLATE_LARGER_THAN_STATED);
    EXPECT_EQ(over.sink_calls, std::vector<std::size_t>{65536});
    const test::Outcome exact = run_inflate(w.bytes(), 65536 + 15);
    EXPECT_EQ(exact.error(), "");
    EXPECT_EQ(exact.output.size(), 65536u + 15);
}

TEST(InflateSource, IsOfferedWholeChunksAndNotCalledAfterItsEnd) {
    const std::vector<u8> stream = DeflateWriter().stored(false, "abc").bytes();
    test::PieceSource source(stream, 2);
    test::RecordingSink sink;
    EXPECT_EQ(inflate(source, sink, NO_LIMIT).error().text, msg::INFLATE_ENDS_EARLY);
    // 8 bytes in pieces of 2, then the answer 0.
    EXPECT_EQ(source.offered, std::vector<std::size_t>(5, 16384));
    EXPECT_FALSE(source.called_after_end);
}

TEST(InflateSource, AFailurePassesThroughUnchanged) {
    const std::vector<u8> stream =
        DeflateWriter().stored(false, "abcdefgh").stored(true, "ijkl").bytes();
    for (std::size_t failing_call : {1u, 2u, 5u}) {
        test::PieceSource source(stream, 4);
        source.failure = std::pair{failing_call, ErrorText{"The network went away."}};
        test::RecordingSink sink;
        Status status = inflate(source, sink, NO_LIMIT);
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().text, "The network went away.") << "call " << failing_call;
    }
}

TEST(InflateSink, AFailurePassesThroughUnchanged) {
    const std::vector<u8> stream(DeflateWriter()
                                     .header(true, 1)
                                     .fixed_literals("a")
                                     .fixed_match(258, 1)
                                     .fixed_symbol(256)
                                     .bytes());
    for (std::size_t failing_call : {1u}) {
        test::PieceSource source(stream, test::WHOLE_CHUNKS);
        test::RecordingSink sink;
        sink.failure = std::pair{failing_call, ErrorText{"The disk is full."}};
        Status status = inflate(source, sink, NO_LIMIT);
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().text, "The disk is full.");
    }
    // A failure on a later call, after the window has filled.
    std::vector<u8> big(70000, 'z');
    const std::vector<u8> stored =
        DeflateWriter()
            .stored(false, std::string_view(reinterpret_cast<const char*>(big.data()), 65535))
            .stored(true, std::string_view(reinterpret_cast<const char*>(big.data()), 4465))
            .bytes();
    test::PieceSource source(stored, test::WHOLE_CHUNKS);
    test::RecordingSink sink;
    sink.failure = std::pair{std::size_t{2}, ErrorText{"The disk is full."}};
    Status status = inflate(source, sink, NO_LIMIT);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().text, "The disk is full.");
    EXPECT_EQ(sink.calls, (std::vector<std::size_t>{65536, 4464}));
}

}  // namespace
}  // namespace orvelo
