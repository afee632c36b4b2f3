// Test helper: runs inflate over bytes in memory with a source that answers in pieces of a chosen
// size and a sink that records every call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/error_text.h"
#include "core/types.h"
#include "inflate/byte_stream.h"
#include "inflate/inflate.h"

namespace orvelo::test {

// Answers each read with at most `piece` bytes; records what each read offered, and whether the
// source was called again after it had answered 0.
class PieceSource final : public ByteSource {
  public:
    PieceSource(std::span<const u8> input, std::size_t piece) : input_(input), piece_(piece) {}

    Result<std::size_t> read(std::span<u8> buffer) override {
        offered.push_back(buffer.size());
        if (answered_end) {
            called_after_end = true;
        }
        if (failure && offered.size() == failure->first) {
            return fail(failure->second);
        }
        const std::size_t count = std::min({buffer.size(), piece_, input_.size() - position_});
        std::copy_n(input_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
        position_ += count;
        answered_end = count == 0;
        return count;
    }

    std::vector<std::size_t> offered;
    bool answered_end = false;
    bool called_after_end = false;
    std::optional<std::pair<std::size_t, ErrorText>> failure;  // (call number, text)

  private:
    std::span<const u8> input_;
    std::size_t piece_;
    std::size_t position_ = 0;
};

class RecordingSink final : public ByteSink {
  public:
    Status write(std::span<const u8> bytes) override {
        calls.push_back(bytes.size());
        if (failure && calls.size() == failure->first) {
            return fail(failure->second);
        }
        output.insert(output.end(), bytes.begin(), bytes.end());
        return {};
    }

    std::vector<u8> output;
    std::vector<std::size_t> calls;
    std::optional<std::pair<std::size_t, ErrorText>> failure;  // (call number, text)
};

struct Outcome {
    Status status;
    std::vector<u8> output;
    std::vector<std::size_t> sink_calls;

    // The failure text, or "" on success.
    std::string error() const { return status ? std::string() : status.error().text; }
};

inline constexpr u64 NO_LIMIT = std::numeric_limits<u64>::max();
inline constexpr std::size_t WHOLE_CHUNKS = std::numeric_limits<std::size_t>::max();

inline Outcome run_inflate(std::span<const u8> stream, u64 limit = NO_LIMIT,
                           std::size_t piece = WHOLE_CHUNKS) {
    PieceSource source(stream, piece);
    RecordingSink sink;
    Status status = inflate(source, sink, limit);
    return {std::move(status), std::move(sink.output), std::move(sink.calls)};
}

inline std::vector<u8> bytes_of(std::string_view text) {
    return std::vector<u8>(text.begin(), text.end());
}

}  // namespace orvelo::test
