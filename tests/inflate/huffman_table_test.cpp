// Building a canonical Huffman table from code lengths.
#include "inflate/huffman_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/messages.h"

namespace orvelo {
namespace {

// Lengths A=2, B=1, C=3, D=3 give the codes B=0, A=10, C=110, D=111 (RFC 1951's example).
TEST(HuffmanTable, HoldsTheCanonicalCodeReversedInTheFastTable) {
    HuffmanTable table;
    const std::vector<u8> lengths = {2, 1, 3, 3};
    ASSERT_TRUE(build_huffman_table(table, lengths));
    EXPECT_EQ(table.count[0], 0);
    EXPECT_EQ(table.count[1], 1);
    EXPECT_EQ(table.count[2], 1);
    EXPECT_EQ(table.count[3], 2);
    EXPECT_EQ(table.symbols[0], 1);
    EXPECT_EQ(table.symbols[1], 0);
    EXPECT_EQ(table.symbols[2], 2);
    EXPECT_EQ(table.symbols[3], 3);
    for (u32 index = 0; index < 1024; ++index) {
        // The code's first bit is the index's lowest bit.
        u16 expected = 1 * 16 + 1;  // B: "0"
        if ((index & 3) == 0b01) {
            expected = 0 * 16 + 2;  // A: "1", "0"
        } else if ((index & 7) == 0b011) {
            expected = 2 * 16 + 3;  // C: "1", "1", "0"
        } else if ((index & 7) == 0b111) {
            expected = 3 * 16 + 3;  // D
        }
        ASSERT_EQ(table.fast[index], expected) << "index " << index;
    }
}

TEST(HuffmanTable, GivesCodesLongerThanTenBitsNoFastEntry) {
    // Symbol k has k + 1 bits (k = 0..13), symbols 14 and 15 have 15 bits: a complete code.
    std::vector<u8> lengths;
    for (u8 k = 0; k < 14; ++k) {
        lengths.push_back(static_cast<u8>(k + 1));
    }
    lengths.push_back(15);
    lengths.push_back(15);
    HuffmanTable table;
    ASSERT_TRUE(build_huffman_table(table, lengths));
    // Ten one-bits start only codes of 11 bits or more.
    EXPECT_EQ(table.fast[1023], 0);
    // Nine one-bits then a zero: symbol 9's ten-bit code.
    EXPECT_EQ(table.fast[0x1FF], 9 * 16 + 10);
    EXPECT_EQ(table.count[15], 2);
    EXPECT_EQ(table.symbols[15], 15);
}

TEST(HuffmanTable, RefusesAnOversubscribedCodeAndAcceptsAnIncompleteOne) {
    struct Case {
        std::vector<u8> lengths;
        bool accepted;
    };
    const Case cases[] = {
        {{1, 1, 1}, false},
        {{2, 2, 2, 2, 2}, false},
        {std::vector<u8>(257, 8), false},  // one code of 8 bits too many
        {{1, 1}, true},
        {{1}, true},                      // one code: "1" is unassigned
        {{0, 0, 0}, true},                // no codes at all
        {std::vector<u8>(30, 5), true},   // the fixed distance code: 30 of 32 patterns
        {std::vector<u8>(256, 8), true},  // complete
    };
    for (const Case& c : cases) {
        HuffmanTable table;
        Status built = build_huffman_table(table, c.lengths);
        EXPECT_EQ(built.has_value(), c.accepted) << c.lengths.size() << " lengths";
        if (!c.accepted) {
            EXPECT_EQ(built.error().text, msg::INFLATE_OVERSUBSCRIBED);
        }
    }
    HuffmanTable table;
    ASSERT_TRUE(build_huffman_table(table, std::vector<u8>{1}));
    EXPECT_EQ(table.fast[0], 0 * 16 + 1);
    EXPECT_EQ(table.fast[1], 0);
}

}  // namespace
}  // namespace orvelo
