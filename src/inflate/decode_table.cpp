#include "inflate/decode_table.h"

#include <algorithm>

namespace orvelo {
namespace {

constexpr u32 make_entry(u32 value, u32 code_length, u32 extra_bits) {
    return value << 16 | code_length << 8 | (code_length + extra_bits);
}

u32 litlen_entry(u32 symbol, u32 code_length) {
    if (symbol < 256) {
        return LITLEN_LITERAL | make_entry(symbol, code_length, 0);
    }
    if (symbol == 256) {
        return LITLEN_EXCEPTIONAL | LITLEN_END_OF_BLOCK | make_entry(0, code_length, 0);
    }
    if (symbol <= 285) {
        return make_entry(LENGTH_BASE[symbol - 257], code_length, LENGTH_EXTRA[symbol - 257]);
    }
    return LITLEN_EXCEPTIONAL;  // 286 and 287: the search finds them and they fail
}

u32 distance_entry(u32 symbol, u32 code_length) {
    if (symbol < 30) {
        return make_entry(DISTANCE_BASE[symbol], code_length, DISTANCE_EXTRA[symbol]);
    }
    return DISTANCE_EXCEPTIONAL;  // not in a table of at most 30 symbols
}

// The n-bit code with its first (most significant) bit moved to bit 0.
u32 reversed_code(u32 code, u32 n) {
    u32 reversed = 0;
    for (u32 bit = 0; bit < n; ++bit) {
        reversed |= ((code >> bit) & 1) << (n - 1 - bit);
    }
    return reversed;
}

// Canonical codes in order: the next code of each length follows the last one, and each longer
// length starts at twice the code after the previous length's last code. Each code of n <= ROOT
// bits fills every index whose low n bits are its reversed code.
template <u32 ROOT, class MakeEntry>
void build_table(u32 (&entries)[1u << ROOT], const HuffmanTable& code_set, u32 exceptional,
                 MakeEntry make) {
    std::fill(std::begin(entries), std::end(entries), exceptional);
    u32 code = 0;
    u32 k = 0;
    for (u32 n = 1; n <= ROOT; ++n) {
        for (u32 i = 0; i < code_set.count[n]; ++i, ++code, ++k) {
            const u32 entry = make(code_set.symbols[k], n);
            for (u32 index = reversed_code(code, n); index < (1u << ROOT); index += 1u << n) {
                entries[index] = entry;
            }
        }
        code *= 2;
    }
}

}  // namespace

void build_litlen_table(LitLenTable& table, const HuffmanTable& code) {
    build_table<LITLEN_TABLE_BITS>(table.entries, code, LITLEN_EXCEPTIONAL, litlen_entry);
}

void build_distance_table(DistanceTable& table, const HuffmanTable& code) {
    build_table<DISTANCE_TABLE_BITS>(table.entries, code, DISTANCE_EXCEPTIONAL, distance_entry);
}

}  // namespace orvelo
