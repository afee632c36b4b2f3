// The seam on Linux, for the native command-line front end: errno values (and the HTTP
// library's codes) with their texts stand in for the Windows error code and its text, and the
// end-of-job message goes to a handler the front end installs.
#include "os/posix/system_posix.h"

#include "core/unicode.h"

#include <curl/curl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace orvelo::os {
namespace {

std::atomic<JobEndHandler> job_end_handler{nullptr};
std::atomic<StopQuery> stop_query{nullptr};

// The calling thread's last error: an errno value, or a code in the HTTP library's range. Every
// failing seam function sets it, like the system's last error on Windows.
thread_local std::uint32_t thread_last_error = 0;

// Writes `message` (ASCII) into the buffer as the system's text; 0 when it does not fit.
std::uint32_t copy_message(const char* message, std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
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

}  // namespace

void set_last_error(std::uint32_t code) {
    thread_last_error = code;
}

bool set_last_error_from_errno() {
    thread_last_error = static_cast<std::uint32_t>(errno);
    return false;
}

std::uint32_t last_error_code() {
    return thread_last_error;
}

std::uint32_t system_message(std::uint32_t code, std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
    if (code >= CURL_ERROR_BASE) {
        return copy_message(curl_easy_strerror(static_cast<CURLcode>(code - CURL_ERROR_BASE)),
                            buffer);
    }
    // strerror_r's texts are ASCII in the C locale. Unknown codes give "Unknown error N", which
    // carries no more than the "error N" form, so they count as having no text.
    char text[SYSTEM_MESSAGE_UNITS];
    const char* message = strerror_r(static_cast<int>(code), text, sizeof text);
    if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0) {
        return 0;
    }
    return copy_message(message, buffer);
}

std::string error_code_label(std::uint32_t code) {
    if (code >= CURL_ERROR_BASE) {
        return "CURLcode " + std::to_string(code - CURL_ERROR_BASE);
    }
    return std::to_string(code);
}

std::uint32_t http_library_message(std::uint32_t, std::span<char16_t, SYSTEM_MESSAGE_UNITS>) {
    return 0;  // the HTTP library's codes have their texts through system_message already
}

void advise_large_buffer(void* data, std::size_t size) {
    // madvise takes whole pages: the pages that lie entirely inside the buffer.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t end = (begin + size) / page * page;
    if (end > first) {
        (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
}

void sleep_ms(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
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

void set_stop_query(StopQuery query) {
    stop_query.store(query);
}

bool stop_is_asked() {
    const StopQuery query = stop_query.load();
    return query != nullptr && query();
}

void post_job_end(WindowHandle window) {
    if (const JobEndHandler handler = job_end_handler.load()) {
        handler(window);
    }
}

void keep_system_awake(bool) {}

void block_shutdown(WindowHandle, const char16_t*) {}

void unblock_shutdown(WindowHandle) {}

}  // namespace orvelo::os
