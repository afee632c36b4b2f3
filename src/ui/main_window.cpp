#include "ui/main_window.h"

#include <commctrl.h>

#include <array>
#include <mutex>

#include "core/messages.h"
#include "core/unicode.h"

namespace orvelo::ui {
namespace {

constexpr COLORREF GREY_TEXT = RGB(96, 96, 96);

// The icon's top, in 96-DPI units; it is centred horizontally.
constexpr int ICON_TOP = 30;

enum FontRole { TITLE_FONT, BODY_FONT, LABEL_FONT, SMALL_FONT, FONT_COUNT };

struct FontStyle {
    int points;
    int weight;
};

// Indexed by FontRole: the order in which the fonts are made and kept.
constexpr std::array<FontStyle, FONT_COUNT> FONT_STYLES = {{
    {18, 600},  // title
    {10, 400},  // body
    {9, 600},   // label
    {9, 400},   // small
}};

struct Placement {
    HWND ControlSet::*control;
    int x;
    int y;
    int width;
    int height;
    FontRole font;
};

// In 96-DPI client units, in the order the layout applies them. The drop-down's height covers
// its open list as well as the closed box.
constexpr std::array<Placement, 8> PLACEMENTS = {{
    {&ControlSet::title_label, 20, 112, 480, 34, TITLE_FONT},
    {&ControlSet::intro_label, 50, 150, 420, 60, BODY_FONT},
    {&ControlSet::drive_label, 62, 222, 200, 20, LABEL_FONT},
    {&ControlSet::drive_combo, 60, 244, 400, 300, BODY_FONT},
    {&ControlSet::status_label, 62, 282, 396, 20, SMALL_FONT},
    {&ControlSet::progress_bar, 62, 308, 396, 12, SMALL_FONT},
    {&ControlSet::quit_button, 186, 362, 96, 32, BODY_FONT},
    {&ControlSet::create_button, 290, 362, 170, 32, BODY_FONT},
}};

}  // namespace

u32 window_dpi = 96;
bool high_contrast = false;
SpinLock controls_lock;
ControlSet controls;
SpinLock fonts_lock;
std::vector<HFONT> font_set;

ControlSet copy_controls() {
    const std::lock_guard guard(controls_lock);
    return controls;
}

HWND make_control(HWND parent, std::string_view class_name, std::string_view text, DWORD style,
                  int id) {
    const WideString wide_class = utf8_to_wide(class_name);
    const WideString wide_text = utf8_to_wide(text);
    return CreateWindowExW(0, reinterpret_cast<LPCWSTR>(wide_class.c_str()),
                           reinterpret_cast<LPCWSTR>(wide_text.c_str()),
                           WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

HFONT make_font(int points, int weight, u32 dpi) {
    const int height = points * static_cast<int>(dpi) / -72;
    const WideString face = utf8_to_wide(msg::FONT_FACE);
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, reinterpret_cast<LPCWSTR>(face.c_str()));
}

HICON load_app_icon(HINSTANCE instance, int pixels) {
    // A version-6 export of the common controls that MinGW's import library lacks: taken from
    // the comctl32 the manifest loaded. Without it the icon is loaded as plain LoadImageW does.
    using LoadIconWithScaleDownCall = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    const HMODULE common_controls = GetModuleHandleW(L"comctl32.dll");
    const FARPROC found = common_controls != nullptr
                              ? GetProcAddress(common_controls, "LoadIconWithScaleDown")
                              : nullptr;
    if (found == nullptr) {
        return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(APP_ICON_RESOURCE),
                                             IMAGE_ICON, pixels, pixels, LR_DEFAULTCOLOR));
    }
    const auto load_with_scale_down =
        reinterpret_cast<LoadIconWithScaleDownCall>(reinterpret_cast<void*>(found));
    HICON icon = nullptr;
    if (FAILED(load_with_scale_down(instance, MAKEINTRESOURCEW(APP_ICON_RESOURCE), pixels, pixels,
                                    &icon))) {
        return nullptr;
    }
    return icon;
}

void set_text(HWND control, std::string_view text) {
    const WideString wide = utf8_to_wide(text);
    SetWindowTextW(control, reinterpret_cast<LPCWSTR>(wide.c_str()));
}

void create_controls(HWND window) {
    window_dpi = std::max<u32>(GetDpiForWindow(window), 96);
    read_high_contrast();
    // The one picture of the icon: painting scales it after a DPI change.
    const HICON icon = load_app_icon(GetModuleHandleW(nullptr), scaled(window_dpi, APP_ICON_SIZE));
    ControlSet made;
    made.app_icon = icon;
    made.title_label = make_control(window, "STATIC", msg::HEADING, SS_CENTER | SS_NOPREFIX, 0);
    made.intro_label = make_control(window, "STATIC", msg::EXPLANATION, SS_CENTER | SS_NOPREFIX, 0);
    made.drive_label = make_control(window, "STATIC", msg::USB_DRIVE, SS_NOPREFIX, 0);
    made.drive_combo = make_control(window, "COMBOBOX", "",
                                    CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, IDC_DRIVES);
    made.status_label = make_control(window, "STATIC", "", SS_NOPREFIX, 0);
    made.progress_bar = make_control(window, "msctls_progress32", "", 0, 0);
    made.create_button = make_control(window, "BUTTON", msg::CREATE_BUTTON,
                                      BS_DEFPUSHBUTTON | WS_TABSTOP, IDC_CREATE);
    made.quit_button =
        make_control(window, "BUTTON", msg::QUIT_BUTTON, BS_PUSHBUTTON | WS_TABSTOP, IDC_QUIT);
    const std::lock_guard guard(controls_lock);
    controls = made;
}

void layout_controls() {
    const ControlSet set = copy_controls();
    const u32 dpi = window_dpi;
    std::vector<HFONT> fonts;
    fonts.reserve(FONT_COUNT);
    for (const FontStyle& style : FONT_STYLES) {
        fonts.push_back(make_font(style.points, style.weight, dpi));
    }
    for (const Placement& place : PLACEMENTS) {
        const HWND control = set.*place.control;
        SetWindowPos(control, nullptr, scaled(dpi, place.x), scaled(dpi, place.y),
                     scaled(dpi, place.width), scaled(dpi, place.height),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[place.font]), TRUE);
    }
    std::vector<HFONT> old;
    {
        const std::lock_guard guard(fonts_lock);
        old.swap(font_set);
        font_set.swap(fonts);
    }
    for (const HFONT font : old) {
        DeleteObject(font);
    }
}

void paint(HWND window) {
    HICON icon = nullptr;
    {
        const std::lock_guard guard(controls_lock);
        icon = controls.app_icon;
    }
    const u32 dpi = window_dpi;
    PAINTSTRUCT paint_info;
    const HDC context = BeginPaint(window, &paint_info);
    const int size = scaled(dpi, APP_ICON_SIZE);
    const int x = (scaled(dpi, CLIENT_WIDTH) - size) / 2;
    DrawIconEx(context, x, scaled(dpi, ICON_TOP), icon, size, size, 0, nullptr, DI_NORMAL);
    EndPaint(window, &paint_info);
}

HBRUSH static_colours(HDC context, HWND control) {
    HWND intro = nullptr;
    HWND status = nullptr;
    {
        const std::lock_guard guard(controls_lock);
        intro = controls.intro_label;
        status = controls.status_label;
    }
    const bool grey = !high_contrast && (control == intro || control == status);
    SetTextColor(context, grey ? GREY_TEXT : GetSysColor(COLOR_WINDOWTEXT));
    SetBkMode(context, TRANSPARENT);
    return GetSysColorBrush(COLOR_WINDOW);
}

void read_high_contrast() {
    HIGHCONTRASTW setting{};
    setting.cbSize = sizeof setting;
    high_contrast = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
                    (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void colours_changed(HWND window) {
    read_high_contrast();
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void dpi_changed(HWND window, u32 new_dpi, const RECT& suggested) {
    window_dpi = std::max<u32>(new_dpi, 96);
    layout_controls();
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace orvelo::ui
