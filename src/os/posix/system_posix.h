// Linux-only additions to the seam: where the end-of-job message goes when there is no window.
#pragma once

#include <atomic>

#include "os/system.h"

namespace orvelo::os {

using JobEndHandler = void (*)(WindowHandle window);

// Installs the function that post_job_end calls, on the job's thread; none is installed at
// first, and then the post goes nowhere.
void set_job_end_handler(JobEndHandler handler);

}  // namespace orvelo::os
