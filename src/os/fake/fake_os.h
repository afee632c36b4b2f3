// The scripted fake of the OS seam, built only into native tests. It holds a small model of the
// system that a test sets up, answers the seam's calls from it, and records every call in order
// so that tests can assert what was done and in which sequence.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "os/system.h"

namespace orvelo::fake {

struct FakeOs {
    // Process and errors.
    std::uint32_t last_error = 0;
    std::map<std::uint32_t, std::u16string> system_messages;  // code -> the system's text
    std::u16string command_line;
    std::vector<os::WindowHandle> posted_job_ends;  // windows that got the end-of-job message
    // Called as the end-of-job message is posted, without the fake's lock: what it sees is what
    // a window would see on receiving the message.
    std::function<void(os::WindowHandle)> on_post_job_end;

    // Every seam call, in order, as "name(arguments)".
    std::vector<std::string> calls;
    std::mutex mutex;  // the job's thread and the test's thread both call in
};

// The one fake system of the test process.
FakeOs& fake_os();

// Back to an empty model and an empty call log.
void reset_fake_os();

// A copy of the call log, taken under the lock.
std::vector<std::string> fake_calls();

}  // namespace orvelo::fake
