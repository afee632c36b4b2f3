// Unicode text: UTF-8 inside the installer, UTF-16 only for the moment a string crosses into
// Windows (utf8_to_wide) or comes back (wide_to_utf8). Depends on nothing else of the system, so
// the OS seam's implementations can use it too.
#pragma once

#include <span>
#include <string>
#include <string_view>

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

}  // namespace orvelo
