// The two ends of the deflate decoder: where compressed bytes come from and where decoded bytes
// go. Both are supplied by the caller; their failures travel through the decoder unchanged.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>

#include "core/error_text.h"
#include "core/types.h"

namespace orvelo {

// Compressed input. read() copies up to buffer.size() bytes into the front of buffer and answers
// their count; 0 means that the data has ended. The decoder never calls it again after a 0, and
// never uses more than the answered count.
class ByteSource {
  public:
    [[nodiscard]] virtual Result<std::size_t> read(std::span<u8> buffer) = 0;

    // In-place input, for a source whose bytes already lie in memory that outlives the stream:
    // answers its next bytes, up to `capacity` of them, where they lie, as read() would have
    // copied them (empty at the end). std::nullopt (the default) means that the source copies.
    [[nodiscard]] virtual std::optional<std::span<const u8>> read_in_place(std::size_t capacity) {
        (void)capacity;
        return std::nullopt;
    }

  protected:
    ~ByteSource() = default;
};

// Decoded output. write() takes all of the bytes or fails. The decoder's first call carries at
// most 65536 bytes, every later one at most 32768, and the last call of a successful stream is
// made even when it carries none.
class ByteSink {
  public:
    [[nodiscard]] virtual Status write(std::span<const u8> bytes) = 0;

    // In-place output, for a sink that keeps every byte of the stream in one buffer of its own:
    // makes `count` bytes after those written so far writable and answers the address of the
    // first, so that the decoder can produce its output there and read its history from the
    // bytes before it. write() is then called as always, with bytes that already lie where they
    // belong. A sink that answers once must answer every later call of the stream; nullptr (the
    // default) means that the sink takes copies.
    [[nodiscard]] virtual u8* room(std::size_t count) {
        (void)count;
        return nullptr;
    }

  protected:
    ~ByteSink() = default;
};

// A cursor over bytes held in memory: each read takes the next bytes that fit, copied or in place,
// then none at the end.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const u8> input) : input_(input) {}

    [[nodiscard]] Result<std::size_t> read(std::span<u8> buffer) override {
        const std::span<const u8> piece = take(buffer.size());
        if (!piece.empty()) {
            std::memcpy(buffer.data(), piece.data(), piece.size());
        }
        return piece.size();
    }

    [[nodiscard]] std::optional<std::span<const u8>> read_in_place(std::size_t capacity) override {
        return take(capacity);
    }

  private:
    std::span<const u8> take(std::size_t capacity) {
        const std::size_t count = std::min(capacity, input_.size() - position_);
        const std::span<const u8> piece = input_.subspan(position_, count);
        position_ += count;
        return piece;
    }

    std::span<const u8> input_;
    std::size_t position_ = 0;  // bytes of input already handed out, at most input_.size()
};

}  // namespace orvelo
