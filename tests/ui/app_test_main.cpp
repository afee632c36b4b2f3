// OrveloInstallerTest.exe: the product's program entry, plus a probe for the Wine tests.
// Another process cannot read a font handle or the process's error mode, so a hidden window of
// class "OrveloFontProbe", on a thread of its own, answers PROBE_FONT_HEIGHT for a control
// handle (wParam) with the height of the font that control uses (0 when it has none), and
// PROBE_ERROR_MODE with GetErrorMode(), and PROBE_CLASS_ICONS for a window (wParam) with the
// widths of its class's large icon (low word) and small icon (high word). The high-contrast
// switch is read from the registry (high_contrast_switch.h). Everything else is the product's
// code.
#include <windows.h>

#include "high_contrast_switch.h"
#include "icon_width.h"
#include "ui/program.h"

namespace {

constexpr UINT PROBE_FONT_HEIGHT = WM_APP + 0x100;
constexpr UINT PROBE_ERROR_MODE = WM_APP + 0x101;
constexpr UINT PROBE_CLASS_ICONS = WM_APP + 0x102;

LRESULT CALLBACK probe_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    if (message == PROBE_ERROR_MODE) {
        return GetErrorMode();
    }
    if (message == PROBE_CLASS_ICONS) {
        const auto target = reinterpret_cast<HWND>(w_param);
        const auto large = reinterpret_cast<HICON>(GetClassLongPtrW(target, GCLP_HICON));
        const auto small = reinterpret_cast<HICON>(GetClassLongPtrW(target, GCLP_HICONSM));
        return MAKELONG(icon_width(large), icon_width(small));
    }
    if (message != PROBE_FONT_HEIGHT) {
        return DefWindowProcW(window, message, w_param, l_param);
    }
    const auto font =
        reinterpret_cast<HFONT>(SendMessageW(reinterpret_cast<HWND>(w_param), WM_GETFONT, 0, 0));
    LOGFONTW info{};
    if (font == nullptr || GetObjectW(font, sizeof info, &info) == 0) {
        return 0;
    }
    return info.lfHeight;
}

DWORD WINAPI probe_thread(LPVOID) {
    WNDCLASSEXW probe_class{};
    probe_class.cbSize = sizeof probe_class;
    probe_class.lpfnWndProc = probe_procedure;
    probe_class.hInstance = GetModuleHandleW(nullptr);
    probe_class.lpszClassName = L"OrveloFontProbe";
    RegisterClassExW(&probe_class);
    CreateWindowExW(0, L"OrveloFontProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                    GetModuleHandleW(nullptr), nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    redirect_high_contrast_switch();
    const HANDLE thread = CreateThread(nullptr, 0, probe_thread, nullptr, 0, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
    }
    orvelo::ui::run_program();
}
