#include "ui/main_window.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

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

std::string text_of(HWND control) {
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) {
        return {};
    }
    WideString wide(static_cast<std::size_t>(length) + 1, u'\0');
    const int copied = GetWindowTextW(control, reinterpret_cast<LPWSTR>(wide.data()), length + 1);
    wide.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return wide_to_utf8(wide);
}

void create_controls(HWND window) {
    window_dpi = std::max<u32>(GetDpiForWindow(window), 96);
    read_high_contrast();
    // The painted icon at this DPI; dpi_changed loads it again at the next one.
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
                                      DEFAULT_BUTTON_STYLE | WS_TABSTOP, IDC_CREATE);
    made.quit_button =
        make_control(window, "BUTTON", msg::QUIT_BUTTON, PLAIN_BUTTON_STYLE | WS_TABSTOP, IDC_QUIT);
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
    const HICON icon = load_app_icon(GetModuleHandleW(nullptr), scaled(window_dpi, APP_ICON_SIZE));
    HICON old_icon = nullptr;
    {
        const std::lock_guard guard(controls_lock);
        old_icon = std::exchange(controls.app_icon, icon);
    }
    if (old_icon != nullptr) {
        DestroyIcon(old_icon);
    }
    layout_controls();
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void forward_to_children(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageW(child, message, w_param, l_param);
    }
}

namespace {

// The control remembered when the window was last deactivated; null before that.
HWND saved_focus = nullptr;

bool can_take_focus(HWND control) {
    return control != nullptr && IsWindow(control) && IsWindowVisible(control) &&
           IsWindowEnabled(control) && (GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP) != 0;
}

// The children of `parent` in Tab order, which is their creation order.
std::vector<HWND> tab_order(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

}  // namespace

void move_focus_off(std::initializer_list<HWND> disabling) {
    const HWND focus = GetFocus();
    HWND losing = nullptr;
    for (const HWND control : disabling) {
        if (control != nullptr && (focus == control || IsChild(control, focus))) {
            losing = control;
        }
    }
    if (losing == nullptr) {
        return;
    }
    const std::vector<HWND> order = tab_order(GetParent(losing));
    const auto at = std::find(order.begin(), order.end(), losing);
    for (std::size_t step = 1; step < order.size(); ++step) {
        const HWND next =
            order[(static_cast<std::size_t>(at - order.begin()) + step) % order.size()];
        if (can_take_focus(next) &&
            std::find(disabling.begin(), disabling.end(), next) == disabling.end()) {
            SetFocus(next);
            return;
        }
    }
}

void on_activate(HWND window, WPARAM w_param) {
    if (LOWORD(w_param) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus)) {
            saved_focus = focus;
        }
        return;
    }
    if (HIWORD(w_param) != 0) {
        return;  // minimised: no control is shown to take the keys
    }
    if (saved_focus != nullptr && IsWindow(saved_focus) && IsWindowVisible(saved_focus) &&
        IsWindowEnabled(saved_focus)) {
        SetFocus(saved_focus);
        return;
    }
    for (const HWND control : tab_order(window)) {
        if (can_take_focus(control)) {
            SetFocus(control);
            return;
        }
    }
}

void default_button_follows_focus(HWND focused) {
    const ControlSet set = copy_controls();
    const bool quit_is_default = focused != nullptr && focused == set.quit_button;
    SendMessageW(set.create_button, BM_SETSTYLE,
                 quit_is_default ? PLAIN_BUTTON_STYLE : DEFAULT_BUTTON_STYLE, TRUE);
    SendMessageW(set.quit_button, BM_SETSTYLE,
                 quit_is_default ? DEFAULT_BUTTON_STYLE : PLAIN_BUTTON_STYLE, TRUE);
}

LRESULT default_button_answer() {
    const ControlSet set = copy_controls();
    if (!IsWindowEnabled(set.create_button)) {
        return 0;
    }
    return MAKELRESULT(IDC_CREATE, DC_HASDEFID);
}

namespace {

// The annotation service of oleacc and the live-setting property, by their published values:
// MinGW's headers lack LiveSetting_Property_GUID, and the others would need its import library.
constexpr GUID ACC_PROP_SERVICES_CLASS = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID ACC_PROP_SERVICES_INTERFACE = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID LIVE_SETTING_PROPERTY = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG LIVE_SETTING_POLITE = 1;  // the LiveSetting enumeration's Polite

// The service that holds the status line's annotation, from make_live_region to
// clear_live_region; window thread only.
IAccPropServices* prop_services = nullptr;

}  // namespace

void make_live_region(HWND status_line) {
    void* services = nullptr;
    if (FAILED(CoCreateInstance(ACC_PROP_SERVICES_CLASS, nullptr, CLSCTX_INPROC_SERVER,
                                ACC_PROP_SERVICES_INTERFACE, &services))) {
        return;
    }
    prop_services = static_cast<IAccPropServices*>(services);
    VARIANT polite{};
    polite.vt = VT_I4;
    polite.lVal = LIVE_SETTING_POLITE;
    prop_services->SetHwndProp(status_line, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                               LIVE_SETTING_PROPERTY, polite);
}

void clear_live_region(HWND status_line) {
    if (prop_services == nullptr) {
        return;
    }
    MSAAPROPID property = LIVE_SETTING_PROPERTY;
    prop_services->ClearHwndProps(status_line, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                  &property, 1);
    prop_services->Release();
    prop_services = nullptr;
}

void announce_status(HWND status_line) {
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, status_line, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace orvelo::ui
