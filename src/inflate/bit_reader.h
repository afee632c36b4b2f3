// The input side of the deflate decoder: compressed bytes fetched from a ByteSource in chunks and
// handed out as bits, least significant bit of each byte first.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>

#include "core/error_text.h"
#include "core/messages.h"
#include "core/types.h"
#include "inflate/byte_stream.h"

namespace orvelo {

inline constexpr std::size_t INPUT_CHUNK_BYTES = 16384;

// A refill takes whole bytes while fewer than this many bits are buffered, so that it leaves 57
// to 64 bits, or fewer only at the end of the data.
inline constexpr u32 REFILL_TARGET_BITS = 57;

struct BitReader {
    // The source's last answer: in `chunk`, or where the source keeps it when it answers in
    // place (ByteSource::read_in_place).
    const u8* bytes = nullptr;
    std::unique_ptr<u8[]> chunk;  // INPUT_CHUNK_BYTES, made at the first copying read
    ByteSource* source = nullptr;
    std::size_t pos = 0;     // next unread byte of the answer; pos <= filled
    std::size_t filled = 0;  // valid bytes of the answer
    // Bit 0 is the next bit of the stream. Bits at and above bit_count are either 0 or the
    // stream's following bits in their right places (a refill may load whole words ahead of
    // pos), so OR-ing further bytes in at bit_count never changes them. Whoever takes bytes
    // from chunk past the bit buffer must clear bits first.
    u64 bits = 0;
    u32 bit_count = 0;    // valid bits in bits, 0 to 64
    bool at_end = false;  // the source answered 0; it is never called again
};

[[nodiscard]] BitReader make_bit_reader(ByteSource& source);

// Makes sure that chunk holds an unread byte, fetching the next chunk when it is used up.
// Answers false when the data has ended; a failure of the source is passed on.
[[nodiscard]] Result<bool> ensure_input(BitReader& reader);

// Refill byte by byte across the end of chunk (out of line: it runs once per chunk).
[[nodiscard]] Status refill_slowly(BitReader& reader);

[[nodiscard]] inline u64 load_le64(const u8* bytes) {
    u64 word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = std::byteswap(word);
    }
    return word;
}

// Tops the bit buffer up to 57..64 bits, or as many as the data still holds. Precondition:
// bit_count < 57. When eight bytes remain in chunk it loads them at once and keeps the
// (64 - bit_count) / 8 bytes that one-at-a-time refilling would have taken; the rest of the word
// lands above bit_count, where it is the stream's next bits.
[[nodiscard]] inline Status refill(BitReader& reader) {
    if (reader.filled - reader.pos >= 8) [[likely]] {
        reader.bits |= load_le64(reader.bytes + reader.pos) << reader.bit_count;
        const u32 taken = (64 - reader.bit_count) >> 3;
        reader.pos += taken;
        reader.bit_count += taken * 8;
        return {};
    }
    return refill_slowly(reader);
}

// The next n bits (0 to 16), first bit lowest.
[[nodiscard]] inline Result<u32> get_bits(BitReader& reader, u32 n) {
    if (reader.bit_count < n) {
        if (Status refilled = refill(reader); !refilled) {
            return std::unexpected(std::move(refilled.error()));
        }
        if (reader.bit_count < n) {
            return fail(std::string(msg::INFLATE_ENDS_EARLY));
        }
    }
    const u32 value = static_cast<u32>(reader.bits & ((u64{1} << n) - 1));
    reader.bits >>= n;
    reader.bit_count -= n;
    return value;
}

}  // namespace orvelo
