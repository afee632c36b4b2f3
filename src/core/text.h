// Text handling. Inside the installer all text is valid UTF-8 in std::string; UTF-16 exists only
// for the moment a string crosses into Windows (utf8_to_wide) or comes back (wide_to_utf8).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/error_text.h"
#include "core/types.h"

namespace orvelo {

// A UTF-16 string for one Windows call. Its last unit is the terminating zero, included in
// size(), so data() can be handed to Windows as it is.
using WideString = std::u16string;

// Each code point becomes one unit or a surrogate pair; a zero unit is appended. `text` must be
// valid UTF-8 (every text inside the system is), so this cannot fail; a U+0000 inside the text
// is copied like any other character.
[[nodiscard]] WideString utf8_to_wide(std::string_view text);

// Decodes `units` as UTF-16 into UTF-8. Zero units are copied; each unpaired surrogate becomes
// U+FFFD, and the unit after a lone high surrogate is decoded on its own. Never fails.
[[nodiscard]] std::string wide_to_utf8(std::span<const char16_t> units);

// True for the code points with the Unicode White_Space property.
[[nodiscard]] bool is_white_space(char32_t code_point);

// `text` without White_Space code points at either end. `text` must be valid UTF-8.
[[nodiscard]] std::string_view trim_white_space(std::string_view text);

// True when `bytes` is well-formed UTF-8: shortest forms only, no surrogates, nothing above
// U+10FFFF.
[[nodiscard]] bool is_valid_utf8(std::span<const u8> bytes);
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// A drive size in decimal units, truncated: "999 MB", "1.0 GB" .. "9.9 GB", then "10 GB".
[[nodiscard]] std::string size_text(u64 size_bytes);

// The text for a Windows error code: "{system text} ({code})" with the system's text trimmed, or
// "error {code}" when the system has none. The code is printed unsigned.
[[nodiscard]] ErrorText error_code_text(u32 code);

// error_code_text of the calling thread's last error code, read before anything else can
// change it. Call it right after the failed system call, on the same thread.
[[nodiscard]] ErrorText last_error_text();

}  // namespace orvelo
