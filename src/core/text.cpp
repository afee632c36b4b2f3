#include "core/text.h"

#include <array>

#include "core/format.h"
#include "core/messages.h"
#include "os/system.h"

namespace orvelo {

std::string size_text(u64 n) {
    constexpr u64 MB = 1'000'000;
    constexpr u64 GB = 1'000'000'000;
    if (n < GB) {
        return format(msg::SIZE_MB, n / MB);
    }
    if (n < 10 * GB) {
        return format(msg::SIZE_GB_ONE_DECIMAL, n / GB, (n % GB) / (GB / 10));
    }
    return format(msg::SIZE_GB, n / GB);
}

namespace {

// The HTTP library's error codes. Their texts are not in the system's message table but in the
// library's own module, which is asked only when the system has no text.
constexpr u32 HTTP_LIBRARY_FIRST_CODE = 12001;
constexpr u32 HTTP_LIBRARY_LAST_CODE = 12192;

}  // namespace

ErrorText error_code_text(u32 code) {
    std::array<char16_t, os::SYSTEM_MESSAGE_UNITS> buffer{};
    u32 written = os::system_message(code, buffer);
    if (written == 0 && code >= HTTP_LIBRARY_FIRST_CODE && code <= HTTP_LIBRARY_LAST_CODE) {
        buffer.fill(u'\0');
        written = os::http_library_message(code, buffer);
    }
    const std::string system_text = wide_to_utf8(
        std::span<const char16_t>(buffer.data(), written < buffer.size() ? written : 0));
    const std::string_view trimmed = trim_white_space(system_text);
    if (trimmed.empty()) {
        return ErrorText{format(msg::ERROR_CODE, os::error_code_label(code))};
    }
    return ErrorText{format(msg::SYSTEM_TEXT_AND_CODE, trimmed, os::error_code_label(code))};
}

ErrorText last_error_text() {
    const u32 code = os::last_error_code();
    return error_code_text(code);
}

}  // namespace orvelo
