#include "inflate/output_window.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace orvelo {

OutputWindow make_output_window(ByteSink& sink, u64 limit) {
    OutputWindow window;
    window.buffer = std::make_unique_for_overwrite<u8[]>(WINDOW_ALLOCATION_BYTES);
    window.sink = &sink;
    window.limit = limit;
    return window;
}

Status flush_window(OutputWindow& window) {
    u8* const bytes = window_bytes(window);
    if (Status written = window.sink->write(
            std::span<const u8>(bytes + window.flushed, window.fill - window.flushed));
        !written) {
        return written;
    }
    const std::size_t keep = std::min(window.fill, HISTORY_BYTES);
    window.start += window.fill - keep;
    if (window.start + WINDOW_BYTES + WINDOW_SLACK_BYTES > WINDOW_ALLOCATION_BYTES) {
        std::memmove(window.buffer.get(), window.buffer.get() + window.start, keep);
        window.start = 0;
    }
    window.fill = keep;
    window.flushed = keep;
    return {};
}

}  // namespace orvelo
