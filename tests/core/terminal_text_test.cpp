#include "core/terminal_text.h"

#include <gtest/gtest.h>

#include <memory>

namespace orvelo {
namespace {

TEST(VisibleText, EscapesControlsAndDirectionOverrides) {
    struct Case {
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"1.2", "1.2"},
        {"a\nb", "a\nb"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {"\r\t\x7f", "\\x0d\\x09\\x7f"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\u202egnp.exe", "\\u202egnp.exe"},
        {"\u2066\u2069\u200e\u200f\u061c\u2028", "\\u2066\\u2069\\u200e\\u200f\\u061c\\u2028"},
        {"\u0085\u009b", "\\u0085\\u009b"},
        {"caf\u00e9 \u201cx\u201d \U0001F600", "caf\u00e9 \u201cx\u201d \U0001F600"},
        {"\xff\xc3", "\\xff\\xc3"},
        {"\xe2\x80", "\\xe2\\x80"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // a surrogate is no character
    };
    for (const Case& c : cases) {
        EXPECT_EQ(visible_text(c.text), c.shown) << c.text;
        // A field from outside never keeps a line feed; everything else is shown alike.
        std::string field = c.shown;
        for (std::size_t at = field.find('\n'); at != std::string::npos; at = field.find('\n')) {
            field.replace(at, 1, "\\x0a");
        }
        EXPECT_EQ(visible_field(c.text), field) << c.text;
    }
    EXPECT_EQ(visible_field("SL32G\nErase it? [y/N] y\r\n"),
              "SL32G\\x0aErase it? [y/N] y\\x0d\\x0a");
}

// A sequence cut at the text's end is read no further: the text lives in an allocation of its
// exact length, so AddressSanitizer sees any read beyond it.
TEST(VisibleText, ReadsNothingPastTheEnd) {
    for (const std::string tail : {"\xe2", "\xe2\x80", "\xf0\x9f\x98", "\xc3"}) {
        const std::unique_ptr<char[]> bytes(new char[tail.size()]);
        std::copy(tail.begin(), tail.end(), bytes.get());
        const std::string shown = visible_text(std::string_view(bytes.get(), tail.size()));
        EXPECT_EQ(shown.size(), tail.size() * 4);
    }
}

}  // namespace
}  // namespace orvelo
