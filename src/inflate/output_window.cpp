#include "inflate/output_window.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace orvelo {

OutputWindow make_output_window(ByteSink& sink, u64 limit) {
    OutputWindow window;
    window.buffer = std::make_unique<u8[]>(WINDOW_BYTES + WINDOW_SLACK_BYTES);
    window.sink = &sink;
    window.limit = limit;
    return window;
}

Status flush_window(OutputWindow& window) {
    u8* const buffer = window.buffer.get();
    if (Status written = window.sink->write(
            std::span<const u8>(buffer + window.flushed, window.fill - window.flushed));
        !written) {
        return written;
    }
    const std::size_t keep = std::min(window.fill, HISTORY_BYTES);
    std::memmove(buffer, buffer + window.fill - keep, keep);
    window.fill = keep;
    window.flushed = keep;
    return {};
}

}  // namespace orvelo
