#include "core/text.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "os/fake/fake_os.h"

namespace orvelo {
namespace {

std::string bytes(std::initializer_list<unsigned> values) {
    std::string text;
    for (const unsigned v : values) {
        text.push_back(static_cast<char>(v));
    }
    return text;
}

TEST(Utf8ToWide, EncodesEachCodePointAndAppendsOneZeroUnit) {
    EXPECT_EQ(utf8_to_wide(""), WideString(1, u'\0'));
    EXPECT_EQ(utf8_to_wide("\U0001F600"), (WideString{0xD83D, 0xDE00, 0x0000}));
    EXPECT_EQ(utf8_to_wide("A\u00e9\u20ac"), (WideString{u'A', 0x00E9, 0x20AC, 0}));
    EXPECT_EQ(utf8_to_wide(std::string_view("a\0b", 3)), (WideString{u'a', 0, u'b', 0}));
    EXPECT_EQ(utf8_to_wide("\U0010FFFF"), (WideString{0xDBFF, 0xDFFF, 0}));
}

TEST(WideToUtf8, DecodesPairsAndReplacesEachUnpairedSurrogate) {
    struct Case {
        std::vector<char16_t> units;
        std::string expected;
    };
    const Case cases[] = {
        {{}, ""},
        {{0xD800}, bytes({0xEF, 0xBF, 0xBD})},
        {{0xD800, 0x0041}, bytes({0xEF, 0xBF, 0xBD, 0x41})},
        {{0xDC00, 0xD800, 0xDC00}, bytes({0xEF, 0xBF, 0xBD, 0xF0, 0x90, 0x80, 0x80})},
        {{0xD800, 0xD800, 0xDC00}, bytes({0xEF, 0xBF, 0xBD, 0xF0, 0x90, 0x80, 0x80})},
        {{0xDBFF, 0xDFFF}, bytes({0xF4, 0x8F, 0xBF, 0xBF})},
        {{0x0041, 0x0000, 0x0042}, std::string("A\0B", 3)},
        {{0x07FF, 0x0800, 0xFFFF}, bytes({0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wide_to_utf8(c.units), c.expected) << "units: " << c.units.size();
    }
}

TEST(WideToUtf8, RoundTripsWithUtf8ToWide) {
    const std::string text = "Caf\u00e9 \U0001F4BE \u2014 disk 9";
    const WideString wide = utf8_to_wide(text);
    EXPECT_EQ(wide_to_utf8(std::span(wide.data(), wide.size() - 1)), text);
}

// Texts are valid UTF-8 by contract; a sequence cut off at the end of one that is not must
// still not be read past. Each text lives in an allocation of its exact length, so
// AddressSanitizer sees any read beyond it.
TEST(Utf8Decoding, ReadsNothingPastTheEndOfATruncatedSequence) {
    for (const std::string tail : {"\xc3", "a\xe2\x82", "\xf0\x9f\x98", "\xf0", " \xe2"}) {
        const std::unique_ptr<char[]> bytes(new char[tail.size()]);
        std::copy(tail.begin(), tail.end(), bytes.get());
        const std::string_view text(bytes.get(), tail.size());
        const WideString wide = utf8_to_wide(text);
        EXPECT_LE(wide.size(), tail.size() + 1);
        EXPECT_EQ(wide.back(), u'\0');
        EXPECT_LE(trim_white_space(text).size(), text.size());
    }
}

TEST(TrimWhiteSpace, RemovesUnicodeWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(trim_white_space("Access is denied.\r\n"), "Access is denied.");
    EXPECT_EQ(trim_white_space("\u3000\u00a0 a b\u2029\u0085\t"), "a b");
    EXPECT_EQ(trim_white_space(" \u200b "), "\u200b");  // zero-width space is not White_Space
    EXPECT_EQ(trim_white_space("\u2028\u202f\u205f\u1680\u2000\u200a"), "");
    EXPECT_EQ(trim_white_space(""), "");
    EXPECT_EQ(trim_white_space("x\u180e"), "x\u180e");  // no longer White_Space
}

TEST(IsValidUtf8, AcceptsWellFormedAndRefusesEveryIllFormedShape) {
    EXPECT_TRUE(is_valid_utf8("plain"));
    EXPECT_TRUE(is_valid_utf8("\u00e9\u20ac\U0001F600\U0010FFFF"));
    const std::string bad[] = {
        bytes({0x80}),                    // lone continuation
        bytes({0xC0, 0x80}),              // overlong NUL
        bytes({0xC1, 0xBF}),              // overlong
        bytes({0xE0, 0x9F, 0xBF}),        // overlong three-byte
        bytes({0xED, 0xA0, 0x80}),        // surrogate
        bytes({0xF0, 0x8F, 0xBF, 0xBF}),  // overlong four-byte
        bytes({0xF4, 0x90, 0x80, 0x80}),  // above U+10FFFF
        bytes({0xF5, 0x80, 0x80, 0x80}),  // invalid lead
        bytes({0xE2, 0x82}),              // truncated
        bytes({0xE2, 0x28, 0xA1}),        // bad continuation
        bytes({0xFF}),
    };
    for (const std::string& b : bad) {
        EXPECT_FALSE(is_valid_utf8(b)) << "first byte " << static_cast<unsigned>(u8(b[0]));
    }
}

TEST(SizeText, UsesDecimalUnitsAndTruncates) {
    const std::pair<u64, const char*> cases[] = {
        {0, "0 MB"},
        {999'999, "0 MB"},
        {1'000'000, "1 MB"},
        {999'999'999, "999 MB"},
        {1'000'000'000, "1.0 GB"},
        {1'099'999'999, "1.0 GB"},
        {1'100'000'000, "1.1 GB"},
        {8'004'304'896, "8.0 GB"},
        {9'999'999'999, "9.9 GB"},
        {10'000'000'000, "10 GB"},
        {15'931'539'456, "15 GB"},
        {18'446'744'073'709'551'615ull, "18446744073 GB"},
    };
    for (const auto& [n, expected] : cases) {
        EXPECT_EQ(size_text(n), expected) << n;
    }
}

class LastErrorText : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset_fake_os(); }
};

TEST_F(LastErrorText, TrimsTheSystemTextAndAppendsTheCode) {
    fake::fake_os().last_error = 5;
    fake::fake_os().system_messages[5] = u"Access is denied.\r\n";
    EXPECT_EQ(last_error_text().text, "Access is denied. (5)");
}

TEST_F(LastErrorText, ReadsTheCodeBeforeAnyOtherCall) {
    fake::fake_os().last_error = 5;
    (void)last_error_text();
    EXPECT_EQ(fake::fake_calls(),
              (std::vector<std::string>{"last_error_code()", "system_message(5)"}));
}

TEST_F(LastErrorText, FallsBackToTheBareCodeWithoutUsableText) {
    fake::fake_os().last_error = 1234;
    EXPECT_EQ(last_error_text().text, "error 1234");

    fake::fake_os().system_messages[1234] = u" \r\n\u3000";
    EXPECT_EQ(last_error_text().text, "error 1234");

    // A text that cannot fit the 512-unit buffer is not given at all, never cut short.
    fake::fake_os().system_messages[1234] = std::u16string(600, u'x');
    EXPECT_EQ(last_error_text().text, "error 1234");
}

TEST_F(LastErrorText, PrintsTheCodeUnsignedAndConvertsTheText) {
    fake::fake_os().system_messages[0x80004005] = u"Unspecified error \u2014 \xD800.\n";
    EXPECT_EQ(error_code_text(0x80004005).text, "Unspecified error \u2014 \uFFFD. (2147500037)");
    EXPECT_EQ(error_code_text(0xFFFFFFFF).text, "error 4294967295");
}

// WinHTTP's codes have no text in the system's table; theirs live in winhttp.dll, which is asked
// second, and only for a code in WinHTTP's range that the system has no text for.
TEST_F(LastErrorText, AsksTheHttpLibraryForItsOwnCodesWhenTheSystemHasNoText) {
    struct Case {
        u32 code;
        const char16_t* system_text;   // null: the system has none
        const char16_t* library_text;  // null: winhttp.dll has none
        std::string expected;
        bool library_asked;
    };
    const Case cases[] = {
        {12007, nullptr, u"The server name or address could not be resolved\r\n",
         "The server name or address could not be resolved (12007)", true},
        {12001, nullptr, u"No more handles could be generated at this time.\r\n",
         "No more handles could be generated at this time. (12001)", true},
        {12192, nullptr, u"Last of the range\r\n", "Last of the range (12192)", true},
        {12007, nullptr, nullptr, "error 12007", true},
        {12007, nullptr, u" \r\n", "error 12007", true},
        {12007, u"The system's own.\r\n", u"The library's.\r\n", "The system's own. (12007)",
         false},
        {12000, nullptr, u"Below the range\r\n", "error 12000", false},
        {12193, nullptr, u"Above the range\r\n", "error 12193", false},
        {5, nullptr, u"Not a WinHTTP code\r\n", "error 5", false},
    };
    for (const Case& c : cases) {
        fake::reset_fake_os();
        if (c.system_text != nullptr) {
            fake::fake_os().system_messages[c.code] = c.system_text;
        }
        if (c.library_text != nullptr) {
            fake::fake_os().http_library_messages[c.code] = c.library_text;
        }
        fake::fake_os().last_error = c.code;
        EXPECT_EQ(last_error_text().text, c.expected) << c.code;
        std::vector<std::string> expected_calls = {
            "last_error_code()", "system_message(" + std::to_string(c.code) + ")"};
        if (c.library_asked) {
            expected_calls.push_back("http_library_message(" + std::to_string(c.code) + ")");
        }
        EXPECT_EQ(fake::fake_calls(), expected_calls) << c.code;
    }
}

}  // namespace
}  // namespace orvelo
