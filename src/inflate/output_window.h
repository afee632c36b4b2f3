// The output side of the deflate decoder: decoded bytes gather in a 64 KiB window that keeps the
// last 32 KiB as history for back-references and passes the rest on to a ByteSink.
#pragma once

#include <cstddef>
#include <memory>

#include "core/error_text.h"
#include "core/types.h"
#include "inflate/byte_stream.h"

namespace orvelo {

inline constexpr std::size_t WINDOW_BYTES = 65536;
inline constexpr std::size_t HISTORY_BYTES = 32768;  // the farthest a back-reference reaches
// Room after the window for copies that move whole 16-byte words and may run up to 15 bytes
// past the match's end; nothing there is ever read as data.
inline constexpr std::size_t WINDOW_SLACK_BYTES = 32;

struct OutputWindow {
    std::unique_ptr<u8[]> buffer;  // WINDOW_BYTES + WINDOW_SLACK_BYTES
    ByteSink* sink = nullptr;
    std::size_t fill = 0;     // bytes held in buffer
    std::size_t flushed = 0;  // buffer[0, flushed) has been handed to the sink
    u64 total_out = 0;        // bytes produced since the start of the stream
    u64 limit = 0;            // the largest value total_out may reach
    // flushed <= fill <= WINDOW_BYTES and fill >= min(total_out, HISTORY_BYTES), so that every
    // back-reference the decoder accepts lies inside buffer.
};

[[nodiscard]] OutputWindow make_output_window(ByteSink& sink, u64 limit);

// Hands buffer[flushed, fill) to the sink, then keeps only the last HISTORY_BYTES (or fewer)
// bytes at the start of buffer.
[[nodiscard]] Status flush_window(OutputWindow& window);

}  // namespace orvelo
