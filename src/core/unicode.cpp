#include "core/unicode.h"

namespace orvelo {
namespace {

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes the code point at text[i] and advances i past it. Texts here are valid UTF-8; should
// one not be, a lead byte whose sequence would run past the end decodes to U+FFFD and advances
// one byte, so that nothing is ever read beyond the text.
char32_t next_code_point(std::string_view text, std::size_t& i) {
    constexpr char32_t REPLACEMENT = 0xFFFD;
    const auto byte = [&](std::size_t k) { return static_cast<u8>(text[i + k]); };
    const u8 lead = byte(0);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (text.size() - i < length) {
        i += 1;
        return REPLACEMENT;
    }
    char32_t cp = 0;
    switch (length) {
        case 1:
            cp = lead;
            break;
        case 2:
            cp = (char32_t(lead & 0x1F) << 6) | (byte(1) & 0x3F);
            break;
        case 3:
            cp = (char32_t(lead & 0x0F) << 12) | (char32_t(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
            break;
        default:
            cp = (char32_t(lead & 0x07) << 18) | (char32_t(byte(1) & 0x3F) << 12) |
                 (char32_t(byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
            break;
    }
    i += length;
    return cp;
}

}  // namespace

WideString utf8_to_wide(std::string_view text) {
    WideString wide;
    wide.reserve(text.size() + 1);
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = next_code_point(text, i);
        if (cp < 0x10000) {
            wide.push_back(static_cast<char16_t>(cp));
        } else {
            wide.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
    }
    wide.push_back(u'\0');
    return wide;
}

std::string wide_to_utf8(std::span<const char16_t> units) {
    constexpr char32_t REPLACEMENT = 0xFFFD;
    std::string text;
    text.reserve(units.size());
    std::size_t i = 0;
    while (i < units.size()) {
        const char16_t unit = units[i++];
        if (unit < 0xD800 || unit > 0xDFFF) {
            append_utf8(text, unit);
        } else if (unit <= 0xDBFF && i < units.size() && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
            const char16_t low = units[i++];
            append_utf8(text, 0x10000 + (char32_t(unit & 0x3FF) << 10) + (low & 0x3FF));
        } else {
            append_utf8(text, REPLACEMENT);
        }
    }
    return text;
}

bool is_white_space(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        if (!is_white_space(next_code_point(text, next))) {
            break;
        }
        begin = next;
    }
    // Walk forward from `begin`, remembering where the last non-white code point ends; UTF-8
    // is not decodable backwards without re-synchronising, and texts here are short.
    std::size_t end = begin;
    std::size_t i = begin;
    while (i < text.size()) {
        const bool white = is_white_space(next_code_point(text, i));
        if (!white) {
            end = i;
        }
    }
    return text.substr(begin, end - begin);
}

bool is_valid_utf8(std::span<const u8> bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const u8 lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        u8 second_min = 0x80;
        u8 second_max = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                second_min = 0xA0;  // no overlong forms
            if (lead == 0xED)
                second_max = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                second_min = 0x90;  // no overlong forms
            if (lead == 0xF4)
                second_max = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;
        }
        if (n - i < length) {
            return false;
        }
        if (bytes[i + 1] < second_min || bytes[i + 1] > second_max) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

bool is_valid_utf8(std::string_view text) {
    return is_valid_utf8(
        std::span<const u8>(reinterpret_cast<const u8*>(text.data()), text.size()));
}

}  // namespace orvelo
