#include "inflate/output_window.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "core/messages.h"

namespace orvelo {
namespace {

// The room the window needs past its `fill` bytes: up to its end or the limit, whichever is
// nearer, and the slack.
std::size_t room_needed(const OutputWindow& window) {
    return static_cast<std::size_t>(
               std::min<u64>(WINDOW_BYTES - window.fill, window.limit - window.total_out)) +
           WINDOW_SLACK_BYTES;
}

}  // namespace

OutputWindow make_output_window(ByteSink& sink, u64 limit) {
    OutputWindow window;
    window.sink = &sink;
    window.limit = limit;
    window.bytes = sink.room(room_needed(window));
    if (window.bytes == nullptr) {
        window.buffer = std::make_unique_for_overwrite<u8[]>(WINDOW_ALLOCATION_BYTES);
        window.bytes = window.buffer.get();
    }
    return window;
}

Status flush_window(OutputWindow& window) {
    if (Status written = window.sink->write(
            std::span<const u8>(window.bytes + window.flushed, window.fill - window.flushed));
        !written) {
        return written;
    }
    const std::size_t keep = std::min(window.fill, HISTORY_BYTES);
    if (window.buffer) {
        window.start += window.fill - keep;
        if (window.start + WINDOW_BYTES + WINDOW_SLACK_BYTES > WINDOW_ALLOCATION_BYTES) {
            std::memmove(window.buffer.get(), window.buffer.get() + window.start, keep);
            window.start = 0;
        }
        window.bytes = window.buffer.get() + window.start;
        window.fill = keep;
        window.flushed = keep;
        return {};
    }
    // The history is the sink's last `keep` bytes, right before its next one.
    window.fill = keep;
    window.flushed = keep;
    u8* const next = window.sink->room(room_needed(window));
    if (next == nullptr) {
        // A sink that offered room once and then has none cannot take more output.
        return fail(std::string(msg::INFLATE_LARGER_THAN_STATED));
    }
    window.bytes = next - keep;
    return {};
}

}  // namespace orvelo
