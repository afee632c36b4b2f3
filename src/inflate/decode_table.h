// The block decoder's lookup tables: a canonical Huffman code (as HuffmanTable holds it) turned
// into one lookup per symbol for codes of any length, each entry carrying what the symbol means
// (a literal byte, the end of the block, or a length or distance base with its extra-bit count).
//
// A main table indexed by the next ROOT bits of input resolves every code of up to ROOT bits;
// a longer code's first ROOT bits lead to a second-level table indexed by the bits after them,
// as many as the longest code under that prefix needs. Unassigned patterns, and symbols that
// the stream may not use (literal/length symbols 286 and 287), have no entry: the decoder takes
// its canonical bit-by-bit search for them, which finds the same failure as before.
#pragma once

#include "core/types.h"
#include "inflate/huffman_table.h"

namespace orvelo {

inline constexpr u32 LITLEN_ROOT_BITS = 11;
inline constexpr u32 DISTANCE_ROOT_BITS = 8;

// Entry layout (32 bits):
//   bits 0-4   code length in bits, 1 to 15; 0 when the entry resolves nothing (see above)
//   bit  5     SUBTABLE: the code is longer than ROOT bits; bits 8-11 hold the second-level
//              table's index bits and bits 16-31 its offset in `entries`; code length is 0
//   bit  6     LITERAL: bits 16-23 hold the byte. In the literal/length main table, when the
//              bits after the code start another literal's code that fits in the same ROOT
//              bits, bits 8-11 hold that code's length (else 0) and bits 24-31 its byte
//   bit  7     END_OF_BLOCK
//   otherwise  a length or a distance: bits 8-11 hold its extra-bit count, bits 16-31 its base
inline constexpr u32 ENTRY_LENGTH_MASK = 31;
inline constexpr u32 ENTRY_SUBTABLE = 1u << 5;
inline constexpr u32 ENTRY_LITERAL = 1u << 6;
inline constexpr u32 ENTRY_END_OF_BLOCK = 1u << 7;

// Capacities: the main table plus room for every second-level table a code can need. Each
// second-level table except the last one used is filled completely by its codes, so one of 2^k
// entries holds at least k + 1 codes: 288 symbols with k <= 4 need fewer than 1024 entries, 30
// with k <= 7 fewer than 768. Were a code to need more, its long codes would stay on the search.
inline constexpr u32 LITLEN_ENTRIES = (1u << LITLEN_ROOT_BITS) + 1024;
inline constexpr u32 DISTANCE_ENTRIES = (1u << DISTANCE_ROOT_BITS) + 768;

struct LitLenTable {
    u32 entries[LITLEN_ENTRIES];
};

struct DistanceTable {
    u32 entries[DISTANCE_ENTRIES];
};

// Builds from a table that build_huffman_table accepted (its counts and canonical order).
void build_litlen_table(LitLenTable& table, const HuffmanTable& code);
void build_distance_table(DistanceTable& table, const HuffmanTable& code);

// The entry for the code at the start of `bits`: a main entry, or the second-level entry it
// leads to. Bits above the buffered ones may be anything that the stream has there or 0; an
// entry is only used when its code length is at most the buffered count.
template <u32 ROOT_BITS>
[[nodiscard]] inline u32 lookup_entry(const u32* entries, u64 bits) {
    const u32 entry = entries[bits & ((1u << ROOT_BITS) - 1)];
    if (entry & ENTRY_SUBTABLE) [[unlikely]] {
        const u32 index_bits = (entry >> 8) & 15;
        return entries[(entry >> 16) +
                       (static_cast<u32>(bits >> ROOT_BITS) & ((1u << index_bits) - 1))];
    }
    return entry;
}

}  // namespace orvelo
