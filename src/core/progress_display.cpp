#include "core/progress_display.h"

#include <algorithm>

#include "core/format.h"
#include "core/messages.h"

namespace orvelo {

std::string megabytes_text(u64 bytes) {
    return format(msg::MEGABYTES_ONE_DECIMAL, bytes / 1'000'000, (bytes % 1'000'000) / 100'000);
}

std::optional<ProgressDisplay> progress_display(JobPhase phase, u64 bytes_done, u64 bytes_total) {
    const u64 whole = bytes_total == 0 ? 1 : bytes_total;
    // A tick may pair a count with the total of an older update; a count above the total is
    // shown as complete rather than past the end of its stretch.
    const u64 done = std::min(bytes_done, whole);
    switch (phase) {
        case JobPhase::Fetching:
            if (bytes_total == 0) {
                return ProgressDisplay{std::string(msg::STATUS_GETTING_NEWEST), 0};
            }
            return ProgressDisplay{format(msg::STATUS_DOWNLOADING, megabytes_text(bytes_done),
                                          megabytes_text(bytes_total)),
                                   static_cast<u32>(done * 400 / whole)};
        case JobPhase::Preparing:
            return ProgressDisplay{std::string(msg::STATUS_PREPARING), 400};
        case JobPhase::Writing:
            return ProgressDisplay{format(msg::STATUS_WRITING, done * 100 / whole),
                                   static_cast<u32>(done * 400 / whole + 400)};
        case JobPhase::Checking:
            return ProgressDisplay{format(msg::STATUS_CHECKING, done * 100 / whole),
                                   static_cast<u32>(done * 200 / whole + 800)};
        case JobPhase::Starting:
        case JobPhase::Succeeded:
        case JobPhase::Failed:
            break;
    }
    return std::nullopt;
}

bool announce_progress(AnnouncedProgress& last, JobPhase phase, u64 bytes_done, u64 bytes_total) {
    u32 tenths = 0;
    if (phase == JobPhase::Writing || phase == JobPhase::Checking) {
        // The percent as the status line shows it.
        const u64 whole = bytes_total == 0 ? 1 : bytes_total;
        tenths = static_cast<u32>(std::min(bytes_done, whole) * 100 / whole / 10);
    }
    if (last.phase == phase && tenths <= last.tenths) {
        return false;
    }
    last = AnnouncedProgress{phase, tenths};
    return true;
}

std::string version_suffix(std::string_view version_text) {
    if (!version_text.empty() && version_text.front() == '(') {
        return {};
    }
    return format(msg::VERSION_SUFFIX, version_text);
}

std::string success_text(std::string_view label, std::string_view version_text) {
    return format(msg::READY_TEXT, label, version_suffix(version_text));
}

std::string RateMeter::text(JobPhase phase, u64 bytes_done, u64 bytes_total,
                            Clock::time_point now) {
    if (phase != phase_ || bytes_done < start_bytes_) {
        phase_ = phase;
        start_bytes_ = bytes_done;
        start_ = now;
    }
    const bool moves_bytes =
        phase == JobPhase::Fetching || phase == JobPhase::Writing || phase == JobPhase::Checking;
    const auto elapsed_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
    if (!moves_bytes || bytes_total == 0 || bytes_done <= start_bytes_ || elapsed_ms < 1000) {
        return {};
    }
    const u64 bytes_per_second = (bytes_done - start_bytes_) * 1000 / static_cast<u64>(elapsed_ms);
    if (bytes_per_second == 0) {
        return {};
    }
    const u64 seconds_left =
        (bytes_total > bytes_done ? bytes_total - bytes_done : 0) / bytes_per_second;
    const std::string seconds =
        format(msg::DECIMAL_TWO_DIGITS, seconds_left % 60 / 10, seconds_left % 10);
    return ", " + format(msg::RATE_AND_TIME_LEFT, megabytes_text(bytes_per_second),
                         seconds_left / 60, seconds);
}

}  // namespace orvelo
