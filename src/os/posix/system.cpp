// The seam on Linux, for the native command-line front end: errno and strerror stand in for the
// Windows error code and its text, and the end-of-job message goes to a handler the front end
// installs.
#include "os/posix/system_posix.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace orvelo::os {
namespace {

std::atomic<JobEndHandler> job_end_handler{nullptr};

// Appends the UTF-16 form of the UTF-8 bytes [begin, end); a byte that does not start a
// well-formed sequence becomes U+FFFD.
void append_utf16(std::u16string& out, const unsigned char* begin, const unsigned char* end) {
    while (begin < end) {
        const unsigned lead = *begin;
        const int length = lead < 0x80         ? 1
                           : (lead >> 5) == 6  ? 2
                           : (lead >> 4) == 14 ? 3
                           : (lead >> 3) == 30 ? 4
                                               : 0;
        char32_t cp = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & (0x3F >> length);
        bool ok = length != 0 && end - begin >= length;
        for (int k = 1; ok && k < length; ++k) {
            ok = (begin[k] & 0xC0) == 0x80;
            cp = (cp << 6) | (begin[k] & 0x3F);
        }
        if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            begin += 1;
            continue;
        }
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
        begin += length;
    }
}

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
        const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
        line.push_back(u'"');
        append_utf16(line, bytes + start, bytes + end);
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
