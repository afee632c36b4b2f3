#include "inflate/inflate.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "core/messages.h"
#include "inflate/bit_reader.h"
#include "inflate/decode_table.h"
#include "inflate/huffman_table.h"
#include "inflate/output_window.h"

namespace orvelo {
namespace {

// The order in which a dynamic block stores the code lengths of the code-length alphabet.
constexpr u8 CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

constexpr u32 END_OF_BLOCK = 256;
constexpr u32 LAST_LENGTH_SYMBOL = 285;
constexpr u32 FAST_MASK = (1u << FAST_BITS) - 1;

[[gnu::cold]] std::unexpected<ErrorText> fail_with(msg::Text text) {
    return fail(std::string(text));
}

// The first 15 bits of the buffer in the order the code was written, first bit highest.
constexpr u32 reversed_15_bits(u64 bits) {
    u32 reversed = 0;
    for (u32 bit = 0; bit < MAX_CODE_BITS; ++bit) {
        reversed |= static_cast<u32>((bits >> bit) & 1) << (MAX_CODE_BITS - 1 - bit);
    }
    return reversed;
}

// The canonical search for a code the fast table does not resolve: a code longer than 10 bits, a
// bit pattern no code has, or a code that needs more bits than the data still holds. Called with
// the buffer already refilled as far as the fast lookup required.
[[gnu::noinline]] Result<u32> decode_symbol_slowly(BitReader& reader, const HuffmanTable& table) {
    // first: the first code of length n; index: how many symbols have shorter codes. A code that
    // no shorter code matched is at least `first`, so the unsigned `code - first < count` is the
    // canonical test `code < first + count`.
    u32 first = 0;
    u32 index = 0;
    if (reader.bit_count >= MAX_CODE_BITS) {
        // Every bit the search can read is at hand, so no refill falls inside it: look at all
        // 15 bits at once instead of taking them one by one.
        const u32 reversed = reversed_15_bits(reader.bits);
        for (u32 n = 1; n <= MAX_CODE_BITS; ++n) {
            const u32 code = reversed >> (MAX_CODE_BITS - n);
            const u32 count = table.count[n];
            if (code - first < count) {
                reader.bits >>= n;
                reader.bit_count -= n;
                return table.symbols[index + code - first];
            }
            index += count;
            first = 2 * (first + count);
        }
        return fail_with(msg::INFLATE_INVALID_CODE);
    }
    u32 code = 0;
    for (u32 n = 1; n <= MAX_CODE_BITS; ++n) {
        Result<u32> bit = get_bits(reader, 1);
        if (!bit) {
            return std::unexpected(std::move(bit.error()));
        }
        code |= *bit;
        const u32 count = table.count[n];
        if (code - first < count) {
            return table.symbols[index + code - first];
        }
        index += count;
        first = 2 * (first + count);
        code *= 2;
    }
    return fail_with(msg::INFLATE_INVALID_CODE);
}

Result<u32> decode_symbol(BitReader& reader, const HuffmanTable& table) {
    if (reader.bit_count <= FAST_BITS - 1) {
        if (Status refilled = refill(reader); !refilled) {
            return std::unexpected(std::move(refilled.error()));
        }
    }
    const u32 entry = table.fast[reader.bits & FAST_MASK];
    const u32 length = entry & 15;
    if (length != 0 && reader.bit_count >= length) {
        reader.bits >>= length;
        reader.bit_count -= length;
        return entry >> 4;
    }
    return decode_symbol_slowly(reader, table);
}

// One literal or stored byte into the window.
Status emit_byte(OutputWindow& out, u8 byte) {
    if (out.fill == WINDOW_BYTES) {
        if (Status flushed = flush_window(out); !flushed) {
            return flushed;
        }
    }
    if (out.total_out >= out.limit) {
        return fail_with(msg::INFLATE_LARGER_THAN_STATED);
    }
    window_bytes(out)[out.fill++] = byte;
    ++out.total_out;
    return {};
}

// Copies a match of `length` bytes from `distance` bytes back. Bytes are produced in increasing
// order, so an overlapping match repeats its pattern. Whole words may run up to 15 bytes past
// the end of the match, into bytes that hold no data.
inline void copy_match(u8* destination, std::size_t distance, std::size_t length) {
    const u8* source = destination - distance;
    if (distance >= 16) {
        // Each word reads only bytes written before it.
        for (std::size_t done = 0; done < length; done += 16) {
            std::memcpy(destination + done, source + done, 16);
        }
    } else if (distance == 1) {
        std::memset(destination, *source, length);
    } else {
        // The output repeats with period `distance`, so it also repeats with the first multiple
        // of `distance` that is at least 8: write that many bytes one by one, then words from
        // that far back.
        static constexpr u8 PERIOD[16] = {0, 0, 8, 9, 8, 10, 12, 14, 8, 9, 10, 11, 12, 13, 14, 15};
        const std::size_t period = PERIOD[distance];
        const std::size_t head = std::min(period, length);
        for (std::size_t done = 0; done < head; ++done) {
            destination[done] = source[done];
        }
        for (std::size_t done = head; done < length; done += 8) {
            std::memcpy(destination + done, destination + done - period, 8);
        }
    }
}

// How far copy_match_with_room may write past the end of its match.
constexpr std::size_t COPY_OVERRUN_BYTES = 48;

// copy_match for a match followed by at least COPY_OVERRUN_BYTES of window that hold no data:
// short matches, the most common ones, take a fixed run of whole words without a test.
inline void copy_match_with_room(u8* destination, std::size_t distance, std::size_t length) {
    const u8* source = destination - distance;
    u8* const end = destination + length;
    if (distance >= 16) [[likely]] {
        // Each word reads only bytes written before it.
        std::memcpy(destination, source, 16);
        std::memcpy(destination + 16, source + 16, 16);
        if (length > 32) {
            destination += 32;
            source += 32;
            do {
                std::memcpy(destination, source, 16);
                destination += 16;
                source += 16;
            } while (destination < end);
        }
    } else if (distance >= 8) {
        for (; destination < end; destination += 8, source += 8) {
            std::memcpy(destination, source, 8);
        }
    } else if (distance == 1) {
        const u64 repeated = u64{*source} * 0x0101010101010101u;
        do {
            std::memcpy(destination, &repeated, 8);
            std::memcpy(destination + 8, &repeated, 8);
            destination += 16;
        } while (destination < end);
    } else {
        copy_match(destination, distance, length);
    }
}

// A fast step (below) reads at most 8 bytes past pos in each of its at most two refills and moves
// pos by at most 7 in each.
constexpr std::size_t FAST_STEP_INPUT_BYTES = 32;
// A fast step writes at most three literals, or two and a match of up to 258 bytes with its
// overrun.
constexpr std::size_t FAST_STEP_OUTPUT_BYTES = 2 + 258 + COPY_OVERRUN_BYTES;

constexpr u32 LITLEN_MASK = (1u << LITLEN_TABLE_BITS) - 1;
constexpr u32 DISTANCE_MASK = (1u << DISTANCE_TABLE_BITS) - 1;

// The code of one dynamic block, or the fixed code: counts and canonical order for the search,
// lookup tables for everything else.
struct BlockCode {
    HuffmanTable lit;
    HuffmanTable dist;
    LitLenTable lit_table;
    DistanceTable dist_table;
};

// Builds `code` from its literal/length and distance code lengths.
Status build_block_code(BlockCode& code, std::span<const u8> lit_lengths,
                        std::span<const u8> dist_lengths) {
    if (Status counted = count_huffman_code(code.lit, lit_lengths); !counted) {
        return counted;
    }
    if (Status counted = count_huffman_code(code.dist, dist_lengths); !counted) {
        return counted;
    }
    build_litlen_table(code.lit_table, code.lit);
    build_distance_table(code.dist_table, code.dist);
    return {};
}

// Fast steps, while the chunk holds FAST_STEP_INPUT_BYTES more bytes and the window has
// FAST_STEP_OUTPUT_BYTES of room below both its end and the limit (the caller makes sure that
// both hold at the start). Then no refill can reach the end of the chunk (so the source is never
// called), no literal or match can need a flush or pass the limit, and the bit buffer may be
// topped up at any moment without changing what is decoded. Each step refills once and takes up
// to three literals, or two and a match; its failures are the ones a careful step would meet at
// the same symbol. Answers true when the block has ended, false when careful steps must go on.
// The state lives in locals that no call can reach, so that it stays in registers: every helper
// below is forced inline, since one left out of line would take the locals' addresses and pin
// them in memory. The structs are brought up to date around the search and at the end.
[[gnu::noinline]] Result<bool> fast_steps(BitReader& in, OutputWindow& out, const BlockCode& code) {
    const u8* const chunk = in.bytes;
    u64 bits = in.bits;
    u32 bit_count = in.bit_count;
    std::size_t pos = in.pos;
    const std::size_t last_pos = in.filled - FAST_STEP_INPUT_BYTES;

    u8* const window = window_bytes(out);
    std::size_t fill = out.fill;
    const u64 base = out.total_out - fill;  // total_out == base + fill
    const std::size_t last_fill =
        static_cast<std::size_t>(std::min<u64>(WINDOW_BYTES, out.limit - base)) -
        FAST_STEP_OUTPUT_BYTES;
    const u32* const lit_entries = code.lit_table.entries;
    const u32* const dist_entries = code.dist_table.entries;

    auto store = [&] [[gnu::always_inline]] () {
        in.bits = bits;
        in.bit_count = bit_count;
        in.pos = pos;
        out.fill = fill;
        out.total_out = base + fill;
    };
    auto drop = [&] [[gnu::always_inline]] (u32 n) {
        bits >>= n;
        bit_count -= n;
    };
    // Tops up to 56..63 bits. Precondition: bit_count <= 63.
    auto refill = [&] [[gnu::always_inline]] () {
        bits |= load_le64(chunk + pos) << bit_count;
        pos += (63 - bit_count) >> 3;
        bit_count |= 56;
    };
    // Base plus extra bits of a resolved length or distance entry.
    auto take_value = [&] [[gnu::always_inline]] (u32 entry, u32 value_base) {
        const u32 total = entry & ENTRY_TOTAL_BITS_MASK;
        const u32 value = value_base + static_cast<u32>((bits & ((u64{1} << total) - 1)) >>
                                                        entry_code_length(entry));
        drop(total);
        return value;
    };
    // With 15 or more bits buffered the search reads no input and changes only the bit buffer.
    auto search = [&] [[gnu::always_inline]] (const HuffmanTable& table) -> Result<u32> {
        store();
        Result<u32> symbol = decode_symbol_slowly(in, table);
        bits = in.bits;
        bit_count = in.bit_count;
        return symbol;
    };

    while (pos <= last_pos && fill <= last_fill) {
        if (bit_count < 56) {
            refill();
        }
        // At least 56 bits: three literal codes of up to 11 bits, or two and a length code with
        // its extra bits (16 at most), leave 18 or more.
        u32 entry = lit_entries[bits & LITLEN_MASK];
        if (entry & LITLEN_LITERAL) {
            drop(entry & ENTRY_TOTAL_BITS_MASK);
            window[fill++] = static_cast<u8>(literal_of(entry));
            entry = lit_entries[bits & LITLEN_MASK];
            if (entry & LITLEN_LITERAL) {
                drop(entry & ENTRY_TOTAL_BITS_MASK);
                window[fill++] = static_cast<u8>(literal_of(entry));
                entry = lit_entries[bits & LITLEN_MASK];
                if (entry & LITLEN_LITERAL) {
                    drop(entry & ENTRY_TOTAL_BITS_MASK);
                    window[fill++] = static_cast<u8>(literal_of(entry));
                    continue;
                }
            }
        }
        std::size_t length = 0;
        if (entry & LITLEN_EXCEPTIONAL) [[unlikely]] {
            if (entry & LITLEN_END_OF_BLOCK) {
                drop(entry & ENTRY_TOTAL_BITS_MASK);
                store();
                return true;
            }
            Result<u32> symbol = search(code.lit);
            if (!symbol) {
                return std::unexpected(std::move(symbol.error()));
            }
            if (*symbol < 256) {
                window[fill++] = static_cast<u8>(*symbol);
                continue;
            }
            if (*symbol == END_OF_BLOCK) {
                store();
                return true;
            }
            if (*symbol > LAST_LENGTH_SYMBOL) {
                return fail_with(msg::INFLATE_INVALID_LENGTH_CODE);
            }
            const u32 extra_bits = LENGTH_EXTRA[*symbol - 257];
            length = LENGTH_BASE[*symbol - 257] + static_cast<u32>(bits & ((1u << extra_bits) - 1));
            drop(extra_bits);
        } else {
            length = take_value(entry, length_base_of(entry));
        }

        // A distance code and its extra bits take 28 bits at most.
        if (bit_count < 28) {
            refill();
        }
        const u32 distance_entry = dist_entries[bits & DISTANCE_MASK];
        std::size_t distance = 0;
        if (distance_entry & DISTANCE_EXCEPTIONAL) [[unlikely]] {
            // A distance table holds at most 30 symbols, so the symbol indexes the tables.
            Result<u32> symbol = search(code.dist);
            if (!symbol) {
                return std::unexpected(std::move(symbol.error()));
            }
            const u32 extra_bits = DISTANCE_EXTRA[*symbol];
            distance = DISTANCE_BASE[*symbol] + static_cast<u32>(bits & ((1u << extra_bits) - 1));
            drop(extra_bits);
        } else {
            distance = take_value(distance_entry, distance_base_of(distance_entry));
        }
        if (distance > base + fill || distance > HISTORY_BYTES) [[unlikely]] {
            return fail_with(msg::INFLATE_DISTANCE_TOO_FAR);
        }
        copy_match_with_room(window + fill, distance, length);
        fill += length;
    }
    store();
    return false;
}

// The decoder's workhorse: literal/length and distance symbols until the end of the block.
//
// It behaves exactly like taking each step through get_bits, decode_symbol and emit_byte. The
// hot fields of the reader and the window live in locals; the structs are brought up to date
// before every call that reads them (a refill across chunks, the search, a flush).
//
// Most of the block goes through fast_steps; near the chunk's end, the window's end and the
// limit, careful steps take over, one symbol at a time, with every check the format demands.
Status decode_block_codes(BitReader& in, OutputWindow& out, const BlockCode& code) {
    const u8* chunk = in.bytes;
    u64 bits = in.bits;
    u32 bit_count = in.bit_count;
    std::size_t pos = in.pos;
    std::size_t filled = in.filled;

    u8* window = window_bytes(out);
    const u64 limit = out.limit;
    std::size_t fill = out.fill;
    u64 base = out.total_out - fill;  // total_out == base + fill
    // Below fill_end a literal needs neither a flush nor the limit check; fill <= fill_end.
    auto fill_end_now = [&] {
        return static_cast<std::size_t>(std::min<u64>(WINDOW_BYTES, limit - base));
    };
    std::size_t fill_end = fill_end_now();
    const u32* const lit_entries = code.lit_table.entries;
    const u32* const dist_entries = code.dist_table.entries;

    auto store = [&] {
        in.bits = bits;
        in.bit_count = bit_count;
        in.pos = pos;
        out.fill = fill;
        out.total_out = base + fill;
    };
    auto load = [&] {
        chunk = in.bytes;
        bits = in.bits;
        bit_count = in.bit_count;
        pos = in.pos;
        filled = in.filled;
        window = window_bytes(out);
        fill = out.fill;
        base = out.total_out - fill;
        fill_end = fill_end_now();
    };
    auto drop = [&](u32 n) {
        bits >>= n;
        bit_count -= n;
    };
    // refill(), on the locals.
    auto refill_bits = [&]() -> Status {
        if (filled - pos >= 8) [[likely]] {
            bits |= load_le64(chunk + pos) << bit_count;
            const u32 taken = (64 - bit_count) >> 3;
            pos += taken;
            bit_count += taken * 8;
            return {};
        }
        store();
        Status refilled = refill_slowly(in);
        load();
        return refilled;
    };
    auto take_bits = [&](u32 n, u32& value) -> Status {
        if (bit_count < n) [[unlikely]] {
            if (Status refilled = refill_bits(); !refilled) {
                return refilled;
            }
            if (bit_count < n) {
                return fail_with(msg::INFLATE_ENDS_EARLY);
            }
        }
        value = static_cast<u32>(bits & ((u64{1} << n) - 1));
        drop(n);
        return {};
    };
    auto search = [&](const HuffmanTable& table, u32& symbol) -> Status {
        store();
        Result<u32> decoded = decode_symbol_slowly(in, table);
        load();
        if (!decoded) {
            return std::unexpected(std::move(decoded.error()));
        }
        symbol = *decoded;
        return {};
    };
    auto flush = [&]() -> Status {
        store();
        Status flushed = flush_window(out);
        load();
        return flushed;
    };

    for (;;) {
        if (filled - pos >= FAST_STEP_INPUT_BYTES && fill_end - fill >= FAST_STEP_OUTPUT_BYTES) {
            store();
            Result<bool> ended = fast_steps(in, out, code);
            load();
            if (!ended) {
                return std::unexpected(std::move(ended.error()));
            }
            if (*ended) {
                return {};
            }
        }

        // One careful step.
        if (bit_count <= FAST_BITS - 1) {
            if (Status refilled = refill_bits(); !refilled) {
                return refilled;
            }
        }
        const u32 entry = lit_entries[bits & LITLEN_MASK];
        const u32 code_length = entry_code_length(entry);
        u32 symbol = 0;
        u32 length_extra_bits = 0;
        std::size_t length = 0;
        if (code_length != 0 && bit_count >= code_length) [[likely]] {
            drop(code_length);
            if (entry & LITLEN_LITERAL) {
                symbol = literal_of(entry);
            } else if (entry & LITLEN_END_OF_BLOCK) {
                symbol = END_OF_BLOCK;
            } else {
                symbol = END_OF_BLOCK + 1;  // some length symbol
                length = length_base_of(entry);
                length_extra_bits = (entry & ENTRY_TOTAL_BITS_MASK) - code_length;
            }
        } else {
            if (Status found = search(code.lit, symbol); !found) {
                return found;
            }
            if (symbol > LAST_LENGTH_SYMBOL) {
                return fail_with(msg::INFLATE_INVALID_LENGTH_CODE);
            }
            if (symbol > END_OF_BLOCK) {
                length = LENGTH_BASE[symbol - 257];
                length_extra_bits = LENGTH_EXTRA[symbol - 257];
            }
        }
        if (symbol < 256) {
            if (fill >= fill_end) [[unlikely]] {
                if (fill == WINDOW_BYTES) {
                    if (Status flushed = flush(); !flushed) {
                        return flushed;
                    }
                }
                if (base + fill >= limit) {
                    return fail_with(msg::INFLATE_LARGER_THAN_STATED);
                }
            }
            window[fill++] = static_cast<u8>(symbol);
            continue;
        }
        if (symbol == END_OF_BLOCK) {
            break;
        }
        u32 extra = 0;
        if (Status got = take_bits(length_extra_bits, extra); !got) {
            return got;
        }
        length += extra;

        if (bit_count <= FAST_BITS - 1) {
            if (Status refilled = refill_bits(); !refilled) {
                return refilled;
            }
        }
        const u32 distance_entry = dist_entries[bits & DISTANCE_MASK];
        const u32 distance_code_length = entry_code_length(distance_entry);
        std::size_t distance = 0;
        u32 distance_extra_bits = 0;
        if (distance_code_length != 0 && bit_count >= distance_code_length) [[likely]] {
            drop(distance_code_length);
            distance = distance_base_of(distance_entry);
            distance_extra_bits = (distance_entry & ENTRY_TOTAL_BITS_MASK) - distance_code_length;
        } else {
            u32 distance_symbol = 0;
            if (Status found = search(code.dist, distance_symbol); !found) {
                return found;
            }
            distance = DISTANCE_BASE[distance_symbol];
            distance_extra_bits = DISTANCE_EXTRA[distance_symbol];
        }
        if (Status got = take_bits(distance_extra_bits, extra); !got) {
            return got;
        }
        distance += extra;
        if (distance > base + fill || distance > HISTORY_BYTES) {
            return fail_with(msg::INFLATE_DISTANCE_TOO_FAR);
        }
        if (fill + length > fill_end) {
            if (base + fill + length > limit) {
                return fail_with(msg::INFLATE_LARGER_THAN_STATED);
            }
            if (fill + length > WINDOW_BYTES) {
                if (Status flushed = flush(); !flushed) {
                    return flushed;
                }
            }
        }
        // fill >= min(total_out, HISTORY_BYTES) >= distance, so the match starts in the window.
        copy_match(window + fill, distance, length);
        fill += length;
    }
    store();
    return {};
}

Status stored_block(BitReader& in, OutputWindow& out) {
    const u32 skipped = in.bit_count & 7;
    in.bits >>= skipped;
    in.bit_count -= skipped;
    Result<u32> length = get_bits(in, 16);
    if (!length) {
        return std::unexpected(std::move(length.error()));
    }
    Result<u32> complement = get_bits(in, 16);
    if (!complement) {
        return std::unexpected(std::move(complement.error()));
    }
    if (*complement != (*length ^ 0xFFFF)) {
        return fail_with(msg::INFLATE_STORED_LENGTH_MISMATCH);
    }
    std::size_t left = *length;
    // Bytes already in the bit buffer come first.
    while (left != 0 && in.bit_count > 7) {
        const u8 byte = static_cast<u8>(in.bits);
        in.bits >>= 8;
        in.bit_count -= 8;
        if (Status emitted = emit_byte(out, byte); !emitted) {
            return emitted;
        }
        --left;
    }
    if (left == 0) {
        return {};
    }
    // The buffer is empty; the rest comes straight from chunk, so bits read ahead must go.
    in.bits = 0;
    while (left != 0) {
        Result<bool> more = ensure_input(in);
        if (!more) {
            return std::unexpected(std::move(more.error()));
        }
        if (!*more) {
            return fail_with(msg::INFLATE_ENDS_EARLY);
        }
        // As emit_byte for each byte: a full window is flushed first, then the limit holds.
        if (out.fill == WINDOW_BYTES) {
            if (Status flushed = flush_window(out); !flushed) {
                return flushed;
            }
        }
        if (out.total_out >= out.limit) {
            return fail_with(msg::INFLATE_LARGER_THAN_STATED);
        }
        const std::size_t count = static_cast<std::size_t>(std::min<u64>(
            {left, in.filled - in.pos, WINDOW_BYTES - out.fill, out.limit - out.total_out}));
        std::memcpy(window_bytes(out) + out.fill, in.bytes + in.pos, count);
        in.pos += count;
        out.fill += count;
        out.total_out += count;
        left -= count;
    }
    return {};
}

// The tables of a stream, allocated once and rebuilt for each block that needs them.
struct StreamTables {
    HuffmanTable code_lengths;
    BlockCode fixed;
    BlockCode dynamic;
};

Status dynamic_block(BitReader& in, OutputWindow& out, StreamTables& tables) {
    u32 counts[3] = {};
    for (u32 i = 0; i < 3; ++i) {
        Result<u32> value = get_bits(in, i == 2 ? 4 : 5);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        counts[i] = *value;
    }
    if (counts[0] >= 30 || counts[1] >= 30) {
        return fail_with(msg::INFLATE_BAD_COUNTS);
    }
    const u32 literal_count = counts[0] + 257;  // at most 286
    const u32 distance_count = counts[1] + 1;   // at most 30
    const u32 total = literal_count + distance_count;

    u8 code_length_lengths[19] = {};
    for (u32 i = 0; i < counts[2] + 4; ++i) {
        Result<u32> value = get_bits(in, 3);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        code_length_lengths[CODE_LENGTH_ORDER[i]] = static_cast<u8>(*value);
    }
    HuffmanTable& code_lengths = tables.code_lengths;
    if (Status built = build_huffman_table(code_lengths, code_length_lengths); !built) {
        return built;
    }

    u8 lengths[MAX_SYMBOLS] = {};
    u32 i = 0;
    while (i < total) {
        Result<u32> symbol = decode_symbol(in, code_lengths);
        if (!symbol) {
            return std::unexpected(std::move(symbol.error()));
        }
        if (*symbol < 16) {
            lengths[i++] = static_cast<u8>(*symbol);
            continue;
        }
        u8 value = 0;
        u32 extra_bits = 7;
        u32 repeat = 11;
        if (*symbol == 16) {
            if (i == 0) {
                return fail_with(msg::INFLATE_REPEAT_WITHOUT_LENGTH);
            }
            value = lengths[i - 1];
            extra_bits = 2;
            repeat = 3;
        } else if (*symbol == 17) {
            extra_bits = 3;
            repeat = 3;
        }
        Result<u32> extra = get_bits(in, extra_bits);
        if (!extra) {
            return std::unexpected(std::move(extra.error()));
        }
        repeat += *extra;
        if (i + repeat > total) {
            return fail_with(msg::INFLATE_CODE_LENGTHS_OVERFLOW);
        }
        std::fill_n(lengths + i, repeat, value);
        i += repeat;
    }
    if (lengths[END_OF_BLOCK] == 0) {
        return fail_with(msg::INFLATE_NO_END_OF_BLOCK);
    }

    if (Status built =
            build_block_code(tables.dynamic, std::span<const u8>(lengths, literal_count),
                             std::span<const u8>(lengths + literal_count, distance_count));
        !built) {
        return built;
    }
    return decode_block_codes(in, out, tables.dynamic);
}

}  // namespace

Status inflate(ByteSource& source, ByteSink& sink, u64 limit) {
    BitReader in = make_bit_reader(source);
    OutputWindow out = make_output_window(sink, limit);

    u8 fixed_lengths[288];
    std::fill_n(fixed_lengths, 144, 8);
    std::fill_n(fixed_lengths + 144, 112, 9);
    std::fill_n(fixed_lengths + 256, 24, 7);
    std::fill_n(fixed_lengths + 280, 8, 8);
    auto tables = std::make_unique<StreamTables>();
    // Thirty distance codes of five bits: the patterns of distance symbols 30 and 31 stay
    // unassigned.
    const u8 fixed_distance_lengths[30] = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
                                           5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    if (Status built = build_block_code(tables->fixed, fixed_lengths, fixed_distance_lengths);
        !built) {
        return built;
    }

    for (;;) {
        Result<u32> final_block = get_bits(in, 1);
        if (!final_block) {
            return std::unexpected(std::move(final_block.error()));
        }
        Result<u32> type = get_bits(in, 2);
        if (!type) {
            return std::unexpected(std::move(type.error()));
        }
        Status decoded;
        switch (*type) {
            case 0:
                decoded = stored_block(in, out);
                break;
            case 1:
                decoded = decode_block_codes(in, out, tables->fixed);
                break;
            case 2:
                decoded = dynamic_block(in, out, *tables);
                break;
            default:
                return fail_with(msg::INFLATE_INVALID_BLOCK_TYPE);
        }
        if (!decoded) {
            return decoded;
        }
        if (*final_block == 1) {
            return flush_window(out);
        }
    }
}

}  // namespace orvelo
