// What switching a high-contrast theme sends to every top-level window, for the window tests:
//   orvelo_theme_switch colours WINDOW TEXT   sets the system's window and window-text colours
//                                             (hex RRGGBB); WM_SYSCOLORCHANGE follows
//   orvelo_theme_switch announce              broadcasts WM_SETTINGCHANGE for the high-contrast
//                                             setting
// The colours are kept in the user's registry: a test that changes them puts them back.
#include <windows.h>

#include <cwchar>

namespace {

COLORREF colour(const wchar_t* text) {
    const unsigned long rgb = std::wcstoul(text, nullptr, 16);
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wcscmp(argv[1], L"colours") == 0) {
        const INT elements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
        const COLORREF values[] = {colour(argv[2]), colour(argv[3])};
        return SetSysColors(2, elements, values) ? 0 : 1;
    }
    if (argc == 2 && std::wcscmp(argv[1], L"announce") == 0) {
        return SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0,
                                   SMTO_ABORTIFHUNG, 5000, nullptr) != 0
                   ? 0
                   : 1;
    }
    return 2;
}
