// Linux-only additions to the seam: the thread's last error code, and where the end-of-job
// message goes when there is no window.
#pragma once

#include <atomic>
#include <cstdint>

#include "os/system.h"

namespace orvelo::os {

using JobEndHandler = void (*)(WindowHandle window);

// Error codes from the HTTP library live above the errno values, so that one last-error code
// and its text serve both: CURL_ERROR_BASE + the library's code.
inline constexpr std::uint32_t CURL_ERROR_BASE = 0x43550000;

// Sets the calling thread's last error code, as a failing seam function does.
void set_last_error(std::uint32_t code);

// set_last_error(errno); gives false, for `return set_last_error_from_errno();`.
bool set_last_error_from_errno();

// Installs the function that post_job_end calls, on the job's thread; none is installed at
// first, and then the post goes nowhere.
void set_job_end_handler(JobEndHandler handler);

using StopQuery = bool (*)();

// Installs the question that long waits in the seam ask between their short slices (at most a
// tenth of a second each), so that a stop takes effect while a read waits; none at first.
void set_stop_query(StopQuery query);

// The installed question's answer; false when none is installed.
[[nodiscard]] bool stop_is_asked();

}  // namespace orvelo::os
