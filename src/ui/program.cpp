#include "ui/program.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>

#include "core/messages.h"
#include "core/settings.h"
#include "core/types.h"
#include "core/unicode.h"
#include "ui/main_window.h"
#include "ui/window_procedure.h"

namespace orvelo::ui {
namespace {

// Fixed size, minimisable, neither resizable nor maximisable.
constexpr DWORD WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The class icons at the system DPI, which is what the window first opens with.
void register_window_class(HINSTANCE instance, const WideString& class_name, u32 dpi) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_procedure;
    window_class.hInstance = instance;
    window_class.hIcon = load_app_icon(instance, scaled(dpi, APP_ICON_SIZE));
    window_class.hIconSm = load_app_icon(instance, GetSystemMetricsForDpi(SM_CXSMICON, dpi));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    window_class.lpszClassName = reinterpret_cast<LPCWSTR>(class_name.c_str());
    // A failed registration shows up as a failed window creation.
    RegisterClassExW(&window_class);
}

// The whole window for the client area at `dpi`, with the same centre as `current`.
RECT frame_keeping_centre(const RECT& current, u32 dpi) {
    RECT frame{0, 0, scaled(dpi, CLIENT_WIDTH), scaled(dpi, CLIENT_HEIGHT)};
    AdjustWindowRectExForDpi(&frame, WINDOW_STYLE, FALSE, 0, dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = current.left + (current.right - current.left - width) / 2;
    const int top = current.top + (current.bottom - current.top - height) / 2;
    return RECT{left, top, left + width, top + height};
}

}  // namespace

void fit_to_window_dpi(HWND window, u32 system_dpi) {
    const u32 dpi = std::max<u32>(GetDpiForWindow(window), 96);
    if (dpi == system_dpi) {
        return;
    }
    RECT current{};
    GetWindowRect(window, &current);
    dpi_changed(window, dpi, frame_keeping_centre(current, dpi));
}

void run_program() {
    // No "There is no disk in the drive" box may stop the job thread: the job asks the system
    // about every volume, empty card-reader slots included.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    parse_command_line();

    // The status line's live-region annotation is a COM service of this thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    INITCOMMONCONTROLSEX common_controls{};
    common_controls.dwSize = sizeof common_controls;
    common_controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&common_controls);

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const u32 dpi = std::max<u32>(GetDpiForSystem(), 96);
    const WideString class_name = utf8_to_wide(msg::WINDOW_CLASS);
    register_window_class(instance, class_name, dpi);

    RECT frame{0, 0, scaled(dpi, CLIENT_WIDTH), scaled(dpi, CLIENT_HEIGHT)};
    AdjustWindowRectExForDpi(&frame, WINDOW_STYLE, FALSE, 0, dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetricsForDpi(SM_CXSCREEN, dpi) - width) / 2;
    const int y = (GetSystemMetricsForDpi(SM_CYSCREEN, dpi) - height) / 2;

    const WideString title = utf8_to_wide(msg::WINDOW_TITLE);
    const HWND window = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(class_name.c_str()),
                                        reinterpret_cast<LPCWSTR>(title.c_str()), WINDOW_STYLE, x,
                                        y, width, height, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        ExitProcess(1);
    }
    // The frame was sized at the system DPI, the controls at the window's; they differ when the
    // window opens on a monitor of another scale, or after the scale was changed without signing
    // out, and no WM_DPICHANGED comes then.
    fit_to_window_dpi(window, dpi);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);

    // As in a dialog box, Tab and Shift+Tab move among the controls with WS_TABSTOP.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        } else if (message.message == WM_KEYDOWN) {
            // After moving the focus with Tab, the dialog manager may take the default style
            // off every button (it asks DM_GETDEFID only when the focus lands on a button that
            // had it): the default button follows the focus again.
            default_button_follows_focus(GetFocus());
        }
    }
    ExitProcess(0);
}

}  // namespace orvelo::ui
