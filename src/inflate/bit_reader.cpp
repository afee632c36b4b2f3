#include "inflate/bit_reader.h"

namespace orvelo {

BitReader make_bit_reader(ByteSource& source) {
    BitReader reader;
    reader.source = &source;
    return reader;
}

Result<bool> ensure_input(BitReader& reader) {
    if (reader.pos == reader.filled) {
        if (reader.at_end) {
            return false;
        }
        std::size_t count = 0;
        if (std::optional<std::span<const u8>> piece =
                reader.source->read_in_place(INPUT_CHUNK_BYTES)) {
            count = piece->size();
            reader.bytes = piece->data();
        } else {
            if (!reader.chunk) {
                reader.chunk = std::make_unique_for_overwrite<u8[]>(INPUT_CHUNK_BYTES);
            }
            Result<std::size_t> copied =
                reader.source->read(std::span<u8>(reader.chunk.get(), INPUT_CHUNK_BYTES));
            if (!copied) {
                return std::unexpected(std::move(copied.error()));
            }
            count = *copied;
            reader.bytes = reader.chunk.get();
        }
        if (count == 0) {
            reader.at_end = true;
            return false;
        }
        // A source that answers more than it was offered has broken its contract; only the
        // offered bytes can exist.
        reader.filled = std::min(count, INPUT_CHUNK_BYTES);
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
        reader.bits |= u64{reader.bytes[reader.pos++]} << reader.bit_count;
        reader.bit_count += 8;
    }
    return {};
}

}  // namespace orvelo
