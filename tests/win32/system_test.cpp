// The Windows side of the seam, run under Wine. Wine words its system texts differently from
// Windows, so these assert the forms, not the wording.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <regex>
#include <string>
#include <vector>

#include "core/text.h"
#include "os/file.h"
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

std::u16string final_path_of(os::Handle handle) {
    std::array<char16_t, os::FINAL_PATH_UNITS> buffer{};
    const std::uint32_t units = os::final_path(handle, buffer);
    return units == 0 || units >= buffer.size() ? std::u16string()
                                                : std::u16string(buffer.data(), units);
}

// The calls the cache makes, on a folder of the test's own under the temporary folder.
TEST(Win32CacheCalls, OpenAFolderAsSuchAndCreateReadRenameAndDeleteInsideIt) {
    std::array<char16_t, os::TEMP_PATH_UNITS> home{};
    const std::uint32_t units = os::cache_home(home);
    ASSERT_GT(units, 0u);
    ASSERT_LT(units, home.size());
    ASSERT_EQ(home[units - 1], u'\\');
    std::u16string folder_path(home.data(), units);
    folder_path.append(u"orvelo-seam-test-");
    folder_path.append(
        reinterpret_cast<const char16_t*>(std::to_wstring(GetCurrentProcessId()).c_str()));
    ASSERT_TRUE(os::create_directory(folder_path.c_str()));

    const os::Handle folder = os::create_file(
        folder_path.c_str(), os::GENERIC_READ_ACCESS, os::SHARE_READ | os::SHARE_WRITE,
        os::OPEN_EXISTING_FILE, os::FLAG_BACKUP_SEMANTICS | os::FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(folder, os::INVALID_HANDLE);
    std::uint32_t attributes = 0;
    ASSERT_TRUE(os::file_attributes(folder, attributes));
    EXPECT_NE(attributes & os::ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(attributes & os::ATTRIBUTE_REPARSE_POINT, 0u);
    const std::u16string folder_final = final_path_of(folder);
    ASSERT_FALSE(folder_final.empty());

    // Nothing under a name: the one code that means "not there".
    EXPECT_EQ(os::create_file_in(folder, u"a.img.z", os::GENERIC_READ_ACCESS, os::SHARE_READ,
                                 os::OPEN_EXISTING_FILE, os::FLAG_OPEN_REPARSE_POINT),
              os::INVALID_HANDLE);
    EXPECT_EQ(os::last_error_code(), os::FILE_NOT_FOUND_CODE);

    const os::Handle written =
        os::create_file_in(folder, u"a.part", os::GENERIC_WRITE_ACCESS, 0, os::CREATE_NEW_FILE,
                           0x80 | os::FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(written, os::INVALID_HANDLE);
    EXPECT_EQ(final_path_of(written), folder_final + u"\\a.part");
    std::uint32_t count = 0;
    EXPECT_TRUE(os::write_file(written, "abc", 3, count));
    os::close_handle(written);
    // Exclusive: a second creation under the name fails.
    EXPECT_EQ(os::create_file_in(folder, u"a.part", os::GENERIC_WRITE_ACCESS, 0,
                                 os::CREATE_NEW_FILE, 0x80 | os::FLAG_OPEN_REPARSE_POINT),
              os::INVALID_HANDLE);
    EXPECT_NE(os::last_error_code(), os::FILE_NOT_FOUND_CODE);

    ASSERT_TRUE(os::move_file_in(folder, u"a.part", u"a.img.z"));
    const os::Handle read =
        os::create_file_in(folder, u"a.img.z", os::GENERIC_READ_ACCESS, os::SHARE_READ,
                           os::OPEN_EXISTING_FILE, os::FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(read, os::INVALID_HANDLE);
    ASSERT_TRUE(os::file_attributes(read, attributes));
    EXPECT_EQ(attributes & (os::ATTRIBUTE_DIRECTORY | os::ATTRIBUTE_REPARSE_POINT), 0u);
    EXPECT_EQ(final_path_of(read), folder_final + u"\\a.img.z");
    char back[4] = {};
    EXPECT_TRUE(os::read_file(read, back, 4, count));
    EXPECT_EQ(std::string(back, count), "abc");
    os::close_handle(read);

    // The listing, read through the folder's handle: the file, and a folder as such.
    const std::u16string sub_path = folder_path + u"\\sub";
    ASSERT_TRUE(os::create_directory(sub_path.c_str()));
    std::vector<os::FolderEntry> entries;
    EXPECT_TRUE(os::list_folder(folder, entries));
    std::sort(entries.begin(), entries.end(),
              [](const os::FolderEntry& a, const os::FolderEntry& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, u"a.img.z");
    EXPECT_EQ(entries[0].attributes, 0u);
    EXPECT_EQ(entries[1].name, u"sub");
    EXPECT_EQ(entries[1].attributes, os::ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(RemoveDirectoryW(reinterpret_cast<LPCWSTR>(sub_path.c_str())));

    EXPECT_TRUE(os::delete_file_in(folder, u"a.img.z"));
    os::close_handle(folder);
    EXPECT_TRUE(RemoveDirectoryW(reinterpret_cast<LPCWSTR>(folder_path.c_str())));
}

}  // namespace
}  // namespace orvelo
