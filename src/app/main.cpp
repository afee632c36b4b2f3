// OrveloInstaller.exe: program entry. Everything lives in the window library; the command line
// is parsed there first, before anything else the process does.
#include <windows.h>

#include "ui/program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    orvelo::ui::run_program();
}
