// What the user is shown of a running job and its outcome: the status line and the progress
// bar's position (0 to 1000: fetching up to 400, preparing at 400, writing to 800, checking to
// 1000), and the texts of the success box. Shared by the window and the Linux front end.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/job_status.h"
#include "core/types.h"

namespace orvelo {

inline constexpr u32 PROGRESS_RANGE = 1000;

struct ProgressDisplay {
    std::string status_text;
    u32 bar_position;
};

// The display for one poll of the shared counts; nothing for Starting, Succeeded and Failed,
// whose display is left as it is. `bytes_done` may come from another update than
// `bytes_total`: nothing here divides by zero or runs past the bar's range on that account.
[[nodiscard]] std::optional<ProgressDisplay> progress_display(JobPhase phase, u64 bytes_done,
                                                              u64 bytes_total);

// The rate of the phase that moves bytes (downloading, writing, checking) since it began, and
// the time its bytes left take at that rate, for a terminal's progress line: ", 12.3 MB/s,
// 0:42 left" once the phase has run for a second and moved some bytes; otherwise empty. A new
// phase, or a count that went back, starts the measure afresh.
class RateMeter {
  public:
    using Clock = std::chrono::steady_clock;

    [[nodiscard]] std::string text(JobPhase phase, u64 bytes_done, u64 bytes_total,
                                   Clock::time_point now);

  private:
    JobPhase phase_ = JobPhase::Starting;
    u64 start_bytes_ = 0;
    Clock::time_point start_{};
};

// What screen readers were last told of a running job: its phase and, while writing or
// checking, how many tenths of the way it had come (0 to 10). A new job starts from nothing.
struct AnnouncedProgress {
    std::optional<JobPhase> phase;
    u32 tenths = 0;
};

// Whether the status line shown for this poll is announced as a change: when the phase differs
// from the one last announced, and while writing or checking when the percent shown has reached
// another multiple of 10 since; so at most eleven times in each of those phases, and once in
// the others. `last` becomes what is announced.
[[nodiscard]] bool announce_progress(AnnouncedProgress& last, JobPhase phase, u64 bytes_done,
                                     u64 bytes_total);

// A byte count in decimal megabytes with one truncated decimal: 12,345,678 gives "12.3".
[[nodiscard]] std::string megabytes_text(u64 bytes);

// " (it fetches the newest version, {} today)", or nothing when the version text is the local
// image's (it begins with "(").
[[nodiscard]] std::string version_suffix(std::string_view version_text);

// The success box's text for the drive's label and the job's version text.
[[nodiscard]] std::string success_text(std::string_view label, std::string_view version_text);

}  // namespace orvelo
