// OrveloInstaller.exe: program entry. The command line is parsed first, before anything else the
// process does; the window and its message loop sit on top of the libraries.
#include <windows.h>

#include "core/settings.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    orvelo::parse_command_line();
    ExitProcess(0);
}
