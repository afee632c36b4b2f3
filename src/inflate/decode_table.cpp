#include "inflate/decode_table.h"

#include <algorithm>

namespace orvelo {
namespace {

// Lengths of symbols 257 to 285 and distances of symbols 0 to 29: base value and extra bits.
constexpr u16 LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr u16 DISTANCE_BASE[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr u8 DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

u32 litlen_entry(u32 symbol, u32 length) {
    if (symbol < 256) {
        return symbol << 16 | ENTRY_LITERAL | length;
    }
    if (symbol == 256) {
        return ENTRY_END_OF_BLOCK | length;
    }
    if (symbol <= 285) {
        return u32{LENGTH_BASE[symbol - 257]} << 16 | u32{LENGTH_EXTRA[symbol - 257]} << 8 | length;
    }
    return 0;  // 286 and 287: the search finds them and the decoder refuses them
}

u32 distance_entry(u32 symbol, u32 length) {
    if (symbol < 30) {
        return u32{DISTANCE_BASE[symbol]} << 16 | u32{DISTANCE_EXTRA[symbol]} << 8 | length;
    }
    return 0;
}

u32 reverse_bits(u32 code, u32 length) {
    u32 reversed = 0;
    for (u32 bit = 0; bit < length; ++bit) {
        reversed |= ((code >> bit) & 1) << (length - 1 - bit);
    }
    return reversed;
}

// Fills `entries` (capacity entries, the first 2^root_bits the main table) for the code in
// `code`, giving each symbol the entry make_entry(symbol, length).
template <class MakeEntry>
void build(u32* entries, u32 capacity, u32 root_bits, const HuffmanTable& code,
           MakeEntry make_entry) {
    const u32 root_size = 1u << root_bits;
    std::fill_n(entries, root_size, 0u);

    struct LongCode {
        u16 reversed;  // the code with its first bit lowest
        u8 length;
        u16 symbol;
    };
    LongCode long_codes[MAX_SYMBOLS];
    u32 long_count = 0;
    u8 longest[1u << LITLEN_ROOT_BITS] = {};  // per main index: the longest code under it

    u32 next_code = 0;
    u32 k = 0;
    for (u32 length = 1; length <= MAX_CODE_BITS; ++length, next_code *= 2) {
        for (u32 i = 0; i < code.count[length]; ++i, ++next_code, ++k) {
            const u32 symbol = code.symbols[k];
            const u32 reversed = reverse_bits(next_code, length);
            if (length <= root_bits) {
                const u32 entry = make_entry(symbol, length);
                for (u32 index = reversed; index < root_size; index += 1u << length) {
                    entries[index] = entry;
                }
            } else {
                long_codes[long_count++] = {static_cast<u16>(reversed), static_cast<u8>(length),
                                            static_cast<u16>(symbol)};
                u8& slot = longest[reversed & (root_size - 1)];
                slot = std::max(slot, static_cast<u8>(length));
            }
        }
    }
    if (long_count == 0) {
        return;
    }

    // Second-level tables in the order of their main index, each as wide as its longest code.
    u32 next_free = root_size;
    for (u32 index = 0; index < root_size; ++index) {
        if (longest[index] == 0) {
            continue;
        }
        const u32 index_bits = longest[index] - root_bits;
        const u32 size = 1u << index_bits;
        if (next_free + size > capacity) {
            longest[index] = 0;  // stays on the search (see the header)
            continue;
        }
        entries[index] = next_free << 16 | index_bits << 8 | ENTRY_SUBTABLE;
        std::fill_n(entries + next_free, size, 0u);
        next_free += size;
    }
    for (u32 i = 0; i < long_count; ++i) {
        const LongCode& c = long_codes[i];
        const u32 main_index = c.reversed & (root_size - 1);
        if (longest[main_index] == 0) {
            continue;
        }
        const u32 pointer = entries[main_index];
        const u32 size = 1u << ((pointer >> 8) & 15);
        u32* const table = entries + (pointer >> 16);
        const u32 entry = make_entry(c.symbol, c.length);
        for (u32 index = c.reversed >> root_bits; index < size;
             index += 1u << (c.length - root_bits)) {
            table[index] = entry;
        }
    }
}

}  // namespace

void build_litlen_table(LitLenTable& table, const HuffmanTable& code) {
    build(table.entries, LITLEN_ENTRIES, LITLEN_ROOT_BITS, code, litlen_entry);
    // Literal pairs: the second code's bits are the index shifted by the first code's length,
    // of which ROOT - length are known; an entry of at most that length is the same whatever
    // bits follow. Only the pair fields change, so the entries read stay valid single ones.
    constexpr u32 root_size = 1u << LITLEN_ROOT_BITS;
    for (u32 index = 0; index < root_size; ++index) {
        const u32 first = table.entries[index];
        if (!(first & ENTRY_LITERAL)) {
            continue;
        }
        const u32 first_length = first & ENTRY_LENGTH_MASK;
        const u32 second = table.entries[index >> first_length];
        const u32 second_length = second & ENTRY_LENGTH_MASK;
        if ((second & ENTRY_LITERAL) && first_length + second_length <= LITLEN_ROOT_BITS) {
            table.entries[index] = (first & 0x00FF00FFu) | second_length << 8 |
                                   ((second >> 16) & 0xFF) << 24 | ENTRY_LITERAL;
        }
    }
}

void build_distance_table(DistanceTable& table, const HuffmanTable& code) {
    build(table.entries, DISTANCE_ENTRIES, DISTANCE_ROOT_BITS, code, distance_entry);
}

}  // namespace orvelo
