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
// The window slides forward through a larger allocation at each flush and moves back to its
// start only when it reaches the end, so most flushes move no bytes.
inline constexpr std::size_t WINDOW_ALLOCATION_BYTES = 4 * WINDOW_BYTES + WINDOW_SLACK_BYTES;

struct OutputWindow {
    // Where the window lies: in `buffer` (WINDOW_ALLOCATION_BYTES, the window at buffer + start)
    // or, when the sink offers room in its own buffer (ByteSink::room), right before the sink's
    // next byte, its history being the sink's last bytes; then `buffer` is empty.
    u8* bytes = nullptr;
    std::unique_ptr<u8[]> buffer;
    std::size_t start = 0;  // with buffer: start + WINDOW_BYTES + WINDOW_SLACK_BYTES <= allocation
    ByteSink* sink = nullptr;
    std::size_t fill = 0;     // bytes held in the window
    std::size_t flushed = 0;  // window[0, flushed) has been handed to the sink
    u64 total_out = 0;        // bytes produced since the start of the stream
    u64 limit = 0;            // the largest value total_out may reach
    // flushed <= fill <= WINDOW_BYTES and fill >= min(total_out, HISTORY_BYTES), so that every
    // back-reference the decoder accepts lies inside the window. Past window + fill there are
    // at least WINDOW_BYTES - fill + WINDOW_SLACK_BYTES writable bytes, or, where the limit is
    // nearer, limit - total_out + WINDOW_SLACK_BYTES.
};

inline u8* window_bytes(OutputWindow& window) {
    return window.bytes;
}

[[nodiscard]] OutputWindow make_output_window(ByteSink& sink, u64 limit);

// Hands window[flushed, fill) to the sink, then keeps only the last HISTORY_BYTES (or fewer)
// bytes as the start of the window.
[[nodiscard]] Status flush_window(OutputWindow& window);

}  // namespace orvelo
