// The main window's procedure: the whole user flow. The user picks a drive, confirms the erase,
// watches the job's phases on the poll timer, may stop it, and reads the outcome that the job's
// end-of-job message brings; then the window is ready for another drive.
#pragma once

#include <windows.h>

#include <string_view>

namespace orvelo::ui {

// The poll timer: progress while a job runs, drive rescans otherwise. Never killed.
inline constexpr UINT_PTR POLL_TIMER = 1;
inline constexpr UINT POLL_PERIOD_MS = 250;

// True from the confirmed erase until the job's end-of-job message has been handled. Only the
// window thread touches it.
extern bool job_running;

// MessageBoxW(owner, text, caption, flags) with UTF-8 texts; gives the button chosen.
int show_message_box(HWND owner, std::string_view caption, std::string_view text, UINT flags);

// One scan of the drives into the drop-down, the status line and the Create button.
void refresh_drive_list();

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

}  // namespace orvelo::ui
