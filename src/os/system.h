// The operating-system seam, process and error part: the calls that the portable code makes into
// the system, in portable types. Implemented by os/win32 (the product), os/posix (the Linux
// front end) and os/fake (native tests, scriptable and recording every call).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace orvelo::os {

// The size of the buffer the system writes an error's text into, terminating zero included.
inline constexpr std::size_t SYSTEM_MESSAGE_UNITS = 512;

// A window that receives the end-of-job message; 0 is no window.
enum class WindowHandle : std::uintptr_t {};

// The calling thread's last error code (GetLastError).
[[nodiscard]] std::uint32_t last_error_code();

// Writes the system's text for `code` into `buffer`, which the caller zero-fills, and gives the
// number of units written without the terminating zero: 0 when the system has no text for the
// code or none that fits (FormatMessageW from the system, inserts ignored, language 0).
[[nodiscard]] std::uint32_t system_message(std::uint32_t code,
                                           std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer);

// The same from the message table of the HTTP library's module (winhttp.dll, which is where the
// texts of its codes live): 0 when the module is not loaded or has no text for the code, or
// none that fits (FormatMessageW from that module, inserts ignored, language 0).
[[nodiscard]] std::uint32_t http_library_message(std::uint32_t code,
                                                 std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer);

// How a failure's code is shown after its text: the number itself, and on Linux a code of the
// HTTP library as that library names it ("CURLcode 7"), since the number the seam carries for
// it is offset into a range of its own.
[[nodiscard]] std::string error_code_label(std::uint32_t code);

// The process's command line as the system keeps it (GetCommandLineW), without the terminating
// zero.
[[nodiscard]] std::u16string command_line();

// Suspends the calling thread for `milliseconds` (Sleep).
void sleep_ms(std::uint32_t milliseconds);

// A hint that [data, data + size) is a large buffer about to be filled: where the system can,
// it backs it with large pages, so that first touching it costs one fault per large page
// instead of one per page (madvise MADV_HUGEPAGE on Linux; nothing on Windows, where large
// pages need a privilege that users do not hold). Nothing observable changes either way.
void advise_large_buffer(void* data, std::size_t size);

// Posts the end-of-job message (WM_APP, wParam 0, lParam 0) to `window`. Whether the post
// succeeded is not reported: nobody could act on it.
void post_job_end(WindowHandle window);

// While `awake`, the calling thread keeps the system out of sleep:
// SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED). Disk and processor work do not
// count as activity for the idle timer, so without it a machine left alone sleeps in the middle
// of a download or a write. SetThreadExecutionState(ES_CONTINUOUS) ends it. The state belongs
// to the thread that set it. Nothing on Linux.
void keep_system_awake(bool awake);

// ShutdownBlockReasonCreate(window, reason): the reason shown when the user ends the session
// while the window answers WM_QUERYENDSESSION with FALSE. ShutdownBlockReasonDestroy(window)
// takes it back. Only the thread that created the window may call either. `reason` is
// zero-terminated UTF-16. Nothing on Linux.
void block_shutdown(WindowHandle window, const char16_t* reason);
void unblock_shutdown(WindowHandle window);

}  // namespace orvelo::os
