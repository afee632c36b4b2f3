#include <windows.h>

#include "os/system.h"

namespace orvelo::os {

std::uint32_t last_error_code() {
    return GetLastError();
}

std::uint32_t system_message(std::uint32_t code, std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
    return FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                          0, reinterpret_cast<wchar_t*>(buffer.data()),
                          static_cast<DWORD>(buffer.size()), nullptr);
}

std::string error_code_label(std::uint32_t code) {
    return std::to_string(code);
}

std::uint32_t http_library_message(std::uint32_t code,
                                   std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
    // With a null module FormatMessageW would search this program's own image instead.
    const HMODULE module = GetModuleHandleW(L"winhttp.dll");
    if (module == nullptr) {
        return 0;
    }
    return FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module, code,
                          0, reinterpret_cast<wchar_t*>(buffer.data()),
                          static_cast<DWORD>(buffer.size()), nullptr);
}

void advise_large_buffer(void*, std::size_t) {}

void sleep_ms(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::u16string command_line() {
    return std::u16string(reinterpret_cast<const char16_t*>(GetCommandLineW()));
}

void post_job_end(WindowHandle window) {
    PostMessageW(reinterpret_cast<HWND>(window), WM_APP, 0, 0);
}

void keep_system_awake(bool awake) {
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

void block_shutdown(WindowHandle window, const char16_t* reason) {
    ShutdownBlockReasonCreate(reinterpret_cast<HWND>(window), reinterpret_cast<LPCWSTR>(reason));
}

void unblock_shutdown(WindowHandle window) {
    ShutdownBlockReasonDestroy(reinterpret_cast<HWND>(window));
}

}  // namespace orvelo::os
