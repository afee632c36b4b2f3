// The Windows side of the seam, run under Wine. Wine words its system texts differently from
// Windows, so these assert the forms, not the wording.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "core/text.h"
#include "os/system.h"

namespace orvelo {
namespace {

TEST(Win32LastErrorText, AKnownCodeGivesTheTrimmedSystemTextAndTheCode) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    const std::string text = last_error_text().text;
    EXPECT_TRUE(std::regex_match(text, std::regex(R"([^\s].*[^\s] \(2\))"))) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    // The system's text ends with a period, which the trim keeps.
    EXPECT_NE(text.find(". (2)"), std::string::npos) << text;
}

TEST(Win32LastErrorText, ACodeWithoutTextGivesTheBareCode) {
    SetLastError(0x2000FFFF);  // a customer-defined code: no system text
    EXPECT_EQ(last_error_text().text, "error 536936447");
}

TEST(Win32LastErrorText, ATopBitCodeIsPrintedUnsigned) {
    SetLastError(0x80004005);
    const std::string text = last_error_text().text;
    EXPECT_TRUE(text == "error 2147500037" ||
                std::regex_match(text, std::regex(R"([^\s].* \(2147500037\))")))
        << text;
}

TEST(Win32LastErrorText, ReadsTheErrorOfTheCallingThreadFirst) {
    // The code must be read before the formatting calls that may change it.
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(last_error_text().text.ends_with(" (5)"));
}

TEST(Win32SystemMessage, WritesWithinTheBufferAndZeroTerminates) {
    std::array<char16_t, os::SYSTEM_MESSAGE_UNITS> buffer{};
    const std::uint32_t written = os::system_message(ERROR_ACCESS_DENIED, buffer);
    ASSERT_GT(written, 0u);
    ASSERT_LT(written, buffer.size());
    EXPECT_EQ(buffer[written], u'\0');
}

TEST(Win32SystemMessage, AWinHttpCodeIsAskedOfWinHttpsModuleInTheSameForm) {
    // Wine's winhttp.dll carries no texts, Windows' does: either form may come back, but the
    // module's answer must fit the buffer like the system's.
    // The product has it loaded by its imports; this test program imports nothing of it.
    ASSERT_NE(LoadLibraryW(L"winhttp.dll"), nullptr);
    std::array<char16_t, os::SYSTEM_MESSAGE_UNITS> buffer{};
    const std::uint32_t written = os::http_library_message(12007, buffer);
    ASSERT_LT(written, buffer.size());
    EXPECT_EQ(buffer[written], u'\0');
    SetLastError(12007);
    const std::string text = last_error_text().text;
    EXPECT_TRUE(text == "error 12007" || std::regex_match(text, std::regex(R"([^\s].* \(12007\))")))
        << text;
}

TEST(Win32CommandLine, IsTheProcessCommandLine) {
    const std::u16string line = os::command_line();
    EXPECT_EQ(line, std::u16string(reinterpret_cast<const char16_t*>(GetCommandLineW())));
    EXPECT_FALSE(line.empty());
}

TEST(Win32PostJobEnd, PostsWmAppWithZeroParametersToTheWindow) {
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    os::post_job_end(static_cast<os::WindowHandle>(reinterpret_cast<std::uintptr_t>(window)));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
    DestroyWindow(window);
}

}  // namespace
}  // namespace orvelo
