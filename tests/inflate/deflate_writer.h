// Test helper: writes deflate streams bit by bit, so that a test can state a stream's blocks,
// codes and flaws directly instead of as opaque bytes.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace orvelo::test {

class DeflateWriter {
  public:
    // `count` bits of `value`, lowest first (header fields, extra bits).
    DeflateWriter& bits(u32 value, u32 count) {
        for (u32 i = 0; i < count; ++i) {
            put((value >> i) & 1);
        }
        return *this;
    }
    // A Huffman code of `length` bits, its first bit the highest of `code`.
    DeflateWriter& code(u32 code, u32 length) {
        for (u32 i = length; i-- > 0;) {
            put((code >> i) & 1);
        }
        return *this;
    }
    DeflateWriter& header(bool final_block, u32 type) {
        return bits(final_block ? 1 : 0, 1).bits(type, 2);
    }
    DeflateWriter& align() {
        while (bit_count_ % 8 != 0) {
            put(0);
        }
        return *this;
    }
    DeflateWriter& raw(std::span<const u8> data) {
        align();
        for (u8 byte : data) {
            bits(byte, 8);
        }
        return *this;
    }
    // A stored block, its LEN and NLEN as given.
    DeflateWriter& stored(bool final_block, std::string_view data) {
        header(final_block, 0).align();
        const u32 length = static_cast<u32>(data.size());
        bits(length, 16).bits(length ^ 0xFFFF, 16);
        for (char c : data) {
            bits(static_cast<u8>(c), 8);
        }
        return *this;
    }

    // Codes of the fixed block.
    DeflateWriter& fixed_symbol(u32 symbol) {
        if (symbol < 144) {
            return code(0x30 + symbol, 8);
        }
        if (symbol < 256) {
            return code(0x190 + symbol - 144, 9);
        }
        if (symbol < 280) {
            return code(symbol - 256, 7);
        }
        return code(0xC0 + symbol - 280, 8);
    }
    DeflateWriter& fixed_literals(std::string_view text) {
        for (char c : text) {
            fixed_symbol(static_cast<u8>(c));
        }
        return *this;
    }
    // A match in a fixed block: its length symbol and extra bits, distance code and extra bits.
    DeflateWriter& fixed_match(u32 length, u32 distance) {
        const LengthCode l = length_code(length);
        fixed_symbol(l.symbol).bits(l.extra, l.extra_bits);
        const LengthCode d = distance_code(distance);
        return code(d.symbol, 5).bits(d.extra, d.extra_bits);
    }

    std::vector<u8> bytes() const { return bytes_; }
    std::size_t bit_count() const { return bit_count_; }

    struct LengthCode {
        u32 symbol, extra, extra_bits;
    };
    static LengthCode length_code(u32 length);
    static LengthCode distance_code(u32 distance);

  private:
    void put(u32 bit) {
        if (bit_count_ % 8 == 0) {
            bytes_.push_back(0);
        }
        bytes_.back() |= static_cast<u8>(bit << (bit_count_ % 8));
        ++bit_count_;
    }

    std::vector<u8> bytes_;
    std::size_t bit_count_ = 0;
};

// The canonical codes of a set of code lengths, one per symbol (0 for unused symbols).
std::vector<u32> canonical_codes(std::span<const u8> lengths);

inline DeflateWriter::LengthCode DeflateWriter::length_code(u32 length) {
    static constexpr u32 base[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                     15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                     67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr u32 extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    for (u32 i = 29; i-- > 0;) {
        if (length >= base[i]) {
            return {257 + i, length - base[i], extra[i]};
        }
    }
    return {257, 0, 0};
}

inline DeflateWriter::LengthCode DeflateWriter::distance_code(u32 distance) {
    static constexpr u32 base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                     33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                     1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    for (u32 i = 30; i-- > 0;) {
        if (distance >= base[i]) {
            return {i, distance - base[i], i < 4 ? 0 : i / 2 - 1};
        }
    }
    return {0, 0, 0};
}

inline std::vector<u32> canonical_codes(std::span<const u8> lengths) {
    std::array<u32, 16> count{};
    for (u8 length : lengths) {
        ++count[length];
    }
    count[0] = 0;
    std::array<u32, 16> next{};
    for (u32 n = 1, code = 0; n < 16; ++n) {
        code = (code + count[n - 1]) << 1;
        next[n] = code;
    }
    std::vector<u32> codes(lengths.size(), 0);
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        if (lengths[symbol] != 0) {
            codes[symbol] = next[lengths[symbol]]++;
        }
    }
    return codes;
}

}  // namespace orvelo::test
