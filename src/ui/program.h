// Program entry of OrveloInstaller.exe: the critical-error mode and the command line first, then
// the common controls, the window class, the window at its DPI-scaled size centred on the screen,
// and the message loop until the window is destroyed. The process ends here, with code 1 when the
// window could not be created and 0 when the loop ends.
#pragma once

#include <windows.h>

#include "core/types.h"

namespace orvelo::ui {

[[noreturn]] void run_program();

// When the window's DPI differs from `system_dpi`, the DPI the frame was sized at: sizes the
// frame again for the client area at the window's DPI, keeping its centre, and lays the
// controls out again.
void fit_to_window_dpi(HWND window, u32 system_dpi);

}  // namespace orvelo::ui
