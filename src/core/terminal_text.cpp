#include "core/terminal_text.h"

#include "core/types.h"
#include "core/unicode.h"

namespace orvelo {
namespace {

bool needs_escape(char32_t cp, bool keep_line_feed) {
    return (cp < 0x20 && !(keep_line_feed && cp == '\n')) || (cp >= 0x7F && cp <= 0x9F) ||
           cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0x2028 || cp == 0x2029;
}

void append_hex(std::string& out, char32_t value, int digits) {
    constexpr char HEX[] = "0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out.push_back(HEX[(value >> shift) & 0xF]);
    }
}

// The length of the valid UTF-8 sequence at text[i], or 0 when there is none.
std::size_t sequence_length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<u8>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (text.size() - i < length || !is_valid_utf8(text.substr(i, length))) {
        return 0;
    }
    return length;
}

char32_t decode(std::string_view sequence) {
    const auto byte = [&](std::size_t k) {
        return static_cast<char32_t>(static_cast<u8>(sequence[k]));
    };
    switch (sequence.size()) {
        case 1:
            return byte(0);
        case 2:
            return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3:
            return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
                   (byte(3) & 0x3F);
    }
}

std::string escaped(std::string_view text, bool keep_line_feed) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = sequence_length(text, i);
        if (length == 0) {
            out += "\\x";
            append_hex(out, static_cast<u8>(text[i]), 2);
            ++i;
            continue;
        }
        const std::string_view sequence = text.substr(i, length);
        const char32_t cp = decode(sequence);
        if (!needs_escape(cp, keep_line_feed)) {
            out += sequence;
        } else if (cp < 0x80) {
            out += "\\x";
            append_hex(out, cp, 2);
        } else {
            out += "\\u";
            append_hex(out, cp, 4);
        }
        i += length;
    }
    return out;
}

}  // namespace

std::string visible_text(std::string_view text) {
    return escaped(text, true);
}

std::string visible_field(std::string_view text) {
    return escaped(text, false);
}

}  // namespace orvelo
