// Text on its way to a terminal or a pipe. Texts from outside (the server's version, a drive's
// label) may hold control characters or bidirectional overrides that would move the cursor,
// recolour the terminal or reorder what the user reads; each one is shown as a visible escape.
#pragma once

#include <string>
#include <string_view>

namespace orvelo {

// `text` with each control character (C0 but the line feed, DEL, C1), each bidirectional
// control (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and the line and paragraph
// separators written as "\x1b" (below U+0080) or "\u202e"; a byte that is not part of valid
// UTF-8 becomes "\xNN". Everything else is copied.
[[nodiscard]] std::string visible_text(std::string_view text);

// The same for one field from outside (a drive's label from sysfs, a file name, a text of the
// server's) that is set into a line of ours: the line feed is escaped too ("\x0a"), so that a
// field can never start a line of its own.
[[nodiscard]] std::string visible_field(std::string_view text);

}  // namespace orvelo
