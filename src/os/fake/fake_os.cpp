#include "os/fake/fake_os.h"

#include <algorithm>

namespace orvelo::fake {

FakeOs& fake_os() {
    static FakeOs os;
    return os;
}

void reset_fake_os() {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    os.last_error = 0;
    os.system_messages.clear();
    os.command_line.clear();
    os.posted_job_ends.clear();
    os.on_post_job_end = nullptr;
    os.calls.clear();
}

std::vector<std::string> fake_calls() {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    return os.calls;
}

}  // namespace orvelo::fake

namespace orvelo::os {

using fake::fake_os;

std::uint32_t last_error_code() {
    auto& os = fake_os();
    const std::lock_guard lock(os.mutex);
    os.calls.push_back("last_error_code()");
    return os.last_error;
}

std::uint32_t system_message(std::uint32_t code, std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
    auto& os = fake_os();
    const std::lock_guard lock(os.mutex);
    os.calls.push_back("system_message(" + std::to_string(code) + ")");
    const auto found = os.system_messages.find(code);
    // Like the system: a text that does not fit with its terminating zero is not given at all.
    if (found == os.system_messages.end() || found->second.size() >= buffer.size()) {
        return 0;
    }
    std::copy(found->second.begin(), found->second.end(), buffer.begin());
    buffer[found->second.size()] = u'\0';
    return static_cast<std::uint32_t>(found->second.size());
}

std::u16string command_line() {
    auto& os = fake_os();
    const std::lock_guard lock(os.mutex);
    os.calls.push_back("command_line()");
    return os.command_line;
}

void post_job_end(WindowHandle window) {
    auto& os = fake_os();
    std::function<void(WindowHandle)> observer;
    {
        const std::lock_guard lock(os.mutex);
        os.calls.push_back("post_job_end(" + std::to_string(static_cast<std::uintptr_t>(window)) +
                           ")");
        os.posted_job_ends.push_back(window);
        observer = os.on_post_job_end;
    }
    if (observer) {
        observer(window);
    }
}

}  // namespace orvelo::os
