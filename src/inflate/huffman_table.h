// A canonical Huffman code of deflate, as the decoder reads it: a 10-bit lookup table for the
// short codes and the canonical order of all symbols for the longer ones.
#pragma once

#include <span>

#include "core/error_text.h"
#include "core/types.h"

namespace orvelo {

inline constexpr u32 FAST_BITS = 10;
inline constexpr u32 MAX_CODE_BITS = 15;
inline constexpr u32 MAX_SYMBOLS = 320;  // the largest alphabet decoded has 288 symbols

struct HuffmanTable {
    // Indexed by the next FAST_BITS bits of input as they lie in the bit buffer (first bit
    // lowest). symbol * 16 + length for the code of length 1 to 10 whose bits start the index;
    // 0 when no code of 10 bits or fewer does.
    u16 fast[1 << FAST_BITS];
    // Every symbol with a nonzero length, ordered by length and, within a length, by value.
    u16 symbols[MAX_SYMBOLS];
    // count[n]: number of codes of length n, n = 1 to 15; count[0] is 0.
    u16 count[16];
};
static_assert(sizeof(HuffmanTable) == 1360 * sizeof(u16));

// Builds `table` from one code length (0 to 15) per symbol, at most MAX_SYMBOLS of them. A set of
// lengths that describes more codes than fit fails; an incomplete set, even an empty one, is
// accepted, and its unassigned bit patterns fail only when the stream uses them.
[[nodiscard]] Status build_huffman_table(HuffmanTable& table, std::span<const u8> lengths);

// The same without the fast entries (left as they were): the counts and the canonical order,
// for a decoder that looks codes up in tables of its own.
[[nodiscard]] Status count_huffman_code(HuffmanTable& table, std::span<const u8> lengths);

}  // namespace orvelo
