// The seam on Linux, for the native command-line front end: errno and strerror stand in for the
// Windows error code and its text, and the end-of-job message goes to a handler the front end
// installs.
#include "os/posix/system_posix.h"

#include "core/unicode.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace orvelo::os {
namespace {

std::atomic<JobEndHandler> job_end_handler{nullptr};

}  // namespace

std::uint32_t last_error_code() {
    return static_cast<std::uint32_t>(errno);
}

std::uint32_t system_message(std::uint32_t code, std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
    // strerror_r's texts are ASCII in the C locale. Unknown codes give "Unknown error N", which
    // carries no more than the "error N" form, so they count as having no text.
    char text[SYSTEM_MESSAGE_UNITS];
    const char* message = strerror_r(static_cast<int>(code), text, sizeof text);
    if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0) {
        return 0;
    }
    const std::size_t length = std::strlen(message);
    if (length >= buffer.size()) {
        return 0;
    }
    for (std::size_t i = 0; i < length; ++i) {
        buffer[i] = static_cast<unsigned char>(message[i]);
    }
    buffer[length] = u'\0';
    return static_cast<std::uint32_t>(length);
}

std::u16string command_line() {
    // /proc/self/cmdline holds the arguments separated by zero bytes; each is quoted so that
    // splitting the line gives them back.
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::u16string line;
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string::npos) {
            end = raw.size();
        }
        if (!line.empty()) {
            line.push_back(u' ');
        }
        // Arguments that are not valid UTF-8 cannot come from a UTF-16 command line; their bytes
        // are dropped rather than guessed at.
        const std::string_view argument(raw.data() + start, end - start);
        line.push_back(u'"');
        if (is_valid_utf8(argument)) {
            const WideString wide = utf8_to_wide(argument);
            line.append(wide.data(), wide.size() - 1);
        }
        line.push_back(u'"');
        start = end + 1;
    }
    return line;
}

void set_job_end_handler(JobEndHandler handler) {
    job_end_handler.store(handler);
}

void post_job_end(WindowHandle window) {
    if (const JobEndHandler handler = job_end_handler.load()) {
        handler(window);
    }
}

}  // namespace orvelo::os
