// Texts for the user made from numbers: drive sizes and the system's error codes. The Unicode
// conversions come along from core/unicode.h.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/error_text.h"
#include "core/types.h"
#include "core/unicode.h"

namespace orvelo {

// A drive size in decimal units, truncated: "999 MB", "1.0 GB" .. "9.9 GB", then "10 GB".
[[nodiscard]] std::string size_text(u64 size_bytes);

// The text for a Windows error code: "{system text} ({code})" with the system's text trimmed, or
// "error {code}" when the system has none. The code is printed unsigned.
[[nodiscard]] ErrorText error_code_text(u32 code);

// error_code_text of the calling thread's last error code, read before anything else can
// change it. Call it right after the failed system call, on the same thread.
[[nodiscard]] ErrorText last_error_text();

}  // namespace orvelo
