#include "inflate/huffman_table.h"

#include <algorithm>
#include <string>

#include "core/messages.h"

namespace orvelo {

Status count_huffman_code(HuffmanTable& table, std::span<const u8> lengths) {
    std::fill(std::begin(table.symbols), std::end(table.symbols), u16{0});
    std::fill(std::begin(table.count), std::end(table.count), u16{0});
    const std::size_t symbol_count = std::min<std::size_t>(lengths.size(), MAX_SYMBOLS);

    for (std::size_t symbol = 0; symbol < symbol_count; ++symbol) {
        ++table.count[lengths[symbol] & 15];
    }
    table.count[0] = 0;

    // left: code space not yet used, in units of one code of the current length.
    i32 left = 1;
    for (u32 n = 1; n <= MAX_CODE_BITS; ++n) {
        left = 2 * left - table.count[n];
        if (left < 0) {
            return fail(std::string(msg::INFLATE_OVERSUBSCRIBED));
        }
    }

    u16 start[MAX_CODE_BITS + 2] = {};
    for (u32 n = 1; n <= MAX_CODE_BITS; ++n) {
        start[n + 1] = static_cast<u16>(start[n] + table.count[n]);
    }
    for (std::size_t symbol = 0; symbol < symbol_count; ++symbol) {
        const u32 n = lengths[symbol] & 15;
        if (n != 0) {
            table.symbols[start[n]++] = static_cast<u16>(symbol);
        }
    }
    return {};
}

Status build_huffman_table(HuffmanTable& table, std::span<const u8> lengths) {
    if (Status counted = count_huffman_code(table, lengths); !counted) {
        return counted;
    }
    std::fill(std::begin(table.fast), std::end(table.fast), u16{0});

    // Canonical codes in order: the next code of each length follows the last one, and each
    // longer length starts at twice the code after the previous length's last code.
    u32 code = 0;
    u32 k = 0;
    for (u32 n = 1; n <= FAST_BITS; ++n) {
        for (u32 i = 0; i < table.count[n]; ++i, ++code, ++k) {
            u32 reversed = 0;
            for (u32 bit = 0; bit < n; ++bit) {
                reversed |= ((code >> bit) & 1) << (n - 1 - bit);
            }
            const u16 entry = static_cast<u16>(table.symbols[k] * 16 + n);
            for (u32 index = reversed; index < (1u << FAST_BITS); index += 1u << n) {
                table.fast[index] = entry;
            }
        }
        code *= 2;
    }
    return {};
}

}  // namespace orvelo
