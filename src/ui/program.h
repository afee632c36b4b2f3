// Program entry of OrveloInstaller.exe: the command line first, then the common controls, the
// window class, the window at its DPI-scaled size centred on the screen, and the message loop
// until the window is destroyed. The process ends here, with code 1 when the window could not be
// created and 0 when the loop ends.
#pragma once

namespace orvelo::ui {

[[noreturn]] void run_program();

}  // namespace orvelo::ui
