// The block decoder's lookup tables: a canonical Huffman code (the counts and canonical order of
// a HuffmanTable) turned into one lookup per symbol, each entry carrying what the symbol means: a
// literal byte, the end of the block, or a length or distance base with its extra-bit count.
//
// A table is indexed by the next ROOT bits of input as they lie in the bit buffer (first bit
// lowest) and resolves every code of up to ROOT bits. Codes longer than that, bit patterns no
// code has, and the literal/length symbols 286 and 287 (which a stream may not use) get an
// entry marked EXCEPTIONAL with code length 0: the decoder takes its canonical search for them,
// which finds the same symbol or the same failure the search always found.
#pragma once

#include "core/types.h"
#include "inflate/huffman_table.h"

namespace orvelo {

// RFC 1951: lengths of symbols 257 to 285 and distances of symbols 0 to 29, base value and extra
// bits.
inline constexpr u16 LENGTH_BASE[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr u8 LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr u16 DISTANCE_BASE[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr u8 DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

inline constexpr u32 LITLEN_TABLE_BITS = 11;
inline constexpr u32 DISTANCE_TABLE_BITS = 10;

// Entry layout, 32 bits, both tables:
//   bits 0-4    bits the symbol takes in all: code length plus extra bits (a literal: none)
//   bits 8-11   code length, 1 to 15; 0 in an EXCEPTIONAL entry
//   bits 16-30  literal byte, or length or distance base
// Literal/length entries also use:
//   bit 31      LITLEN_LITERAL: a literal byte
//   bit 30      LITLEN_EXCEPTIONAL: the search decides (see above)
//   bit 29      LITLEN_END_OF_BLOCK, with a code length and no extra bits
// Distance entries, whose base needs bit 30:
//   bit 31      DISTANCE_EXCEPTIONAL
inline constexpr u32 ENTRY_TOTAL_BITS_MASK = 31;
inline constexpr u32 LITLEN_LITERAL = 1u << 31;
inline constexpr u32 LITLEN_EXCEPTIONAL = 1u << 30;
inline constexpr u32 LITLEN_END_OF_BLOCK = 1u << 29;
inline constexpr u32 DISTANCE_EXCEPTIONAL = 1u << 31;

[[nodiscard]] constexpr u32 entry_code_length(u32 entry) {
    return (entry >> 8) & 15;
}
[[nodiscard]] constexpr u32 literal_of(u32 entry) {
    return (entry >> 16) & 0xFF;
}
[[nodiscard]] constexpr u32 length_base_of(u32 entry) {
    return (entry >> 16) & 0x1FF;
}
[[nodiscard]] constexpr u32 distance_base_of(u32 entry) {
    return (entry >> 16) & 0x7FFF;
}

struct LitLenTable {
    u32 entries[1u << LITLEN_TABLE_BITS];
};

struct DistanceTable {
    u32 entries[1u << DISTANCE_TABLE_BITS];
};

// Builds from a code whose counts and canonical order `code` holds (its fast entries are not
// read). `code` must have been accepted by build_huffman_table or count_huffman_code.
void build_litlen_table(LitLenTable& table, const HuffmanTable& code);
void build_distance_table(DistanceTable& table, const HuffmanTable& code);

}  // namespace orvelo
