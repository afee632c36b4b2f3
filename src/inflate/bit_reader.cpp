#include "inflate/bit_reader.h"

namespace orvelo {

BitReader make_bit_reader(ByteSource& source) {
    BitReader reader;
    reader.chunk = std::make_unique_for_overwrite<u8[]>(INPUT_CHUNK_BYTES);
    reader.source = &source;
    return reader;
}

Result<bool> ensure_input(BitReader& reader) {
    if (reader.pos == reader.filled) {
        if (reader.at_end) {
            return false;
        }
        Result<std::size_t> count =
            reader.source->read(std::span<u8>(reader.chunk.get(), INPUT_CHUNK_BYTES));
        if (!count) {
            return std::unexpected(std::move(count.error()));
        }
        if (*count == 0) {
            reader.at_end = true;
            return false;
        }
        // A source that answers more than it was offered has broken its contract; only the
        // offered bytes can exist.
        reader.filled = std::min(*count, INPUT_CHUNK_BYTES);
        reader.pos = 0;
    }
    return true;
}

Status refill_slowly(BitReader& reader) {
    while (reader.bit_count < REFILL_TARGET_BITS) {
        Result<bool> more = ensure_input(reader);
        if (!more) {
            return std::unexpected(std::move(more.error()));
        }
        if (!*more) {
            break;
        }
        reader.bits |= u64{reader.chunk[reader.pos++]} << reader.bit_count;
        reader.bit_count += 8;
    }
    return {};
}

}  // namespace orvelo
