// The main window's panel: the painted icon, the eight child controls, their fonts, their
// placement in 96-DPI units scaled to the window's DPI, the colours of the static texts and the
// re-layout when the DPI changes. Only the window thread runs any of this.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "core/spin_lock.h"
#include "core/types.h"

namespace orvelo::ui {

inline constexpr int IDC_DRIVES = 100;
inline constexpr int IDC_CREATE = 101;
inline constexpr int IDC_QUIT = 102;

// The client area at 96 DPI.
inline constexpr int CLIENT_WIDTH = 520;
inline constexpr int CLIENT_HEIGHT = 420;

// The icon group (16, 24, 32, 48, 64 and 256 pixels) and the painted icon's square at 96 DPI.
inline constexpr int APP_ICON_RESOURCE = 1;
inline constexpr int APP_ICON_SIZE = 72;

// The window's DPI, never below 96: set at creation and on every DPI change, read by the layout
// and by painting.
extern u32 window_dpi;

// The icon and the eight child controls, in creation (and Tab) order. Filled once at creation
// under controls_lock; readers copy what they need under the lock and use the copy after it.
struct ControlSet {
    HICON app_icon = nullptr;
    HWND title_label = nullptr;
    HWND intro_label = nullptr;
    HWND drive_label = nullptr;
    HWND drive_combo = nullptr;
    HWND status_label = nullptr;
    HWND progress_bar = nullptr;
    HWND create_button = nullptr;
    HWND quit_button = nullptr;
};

extern SpinLock controls_lock;
extern ControlSet controls;

// A copy of the control set, taken under its lock.
[[nodiscard]] ControlSet copy_controls();

// The four fonts of the last layout, in the order title, body, label, small; empty before the
// first layout. Each layout replaces them and deletes the previous ones.
extern SpinLock fonts_lock;
extern std::vector<HFONT> font_set;

// `value` in 96-DPI units at `dpi`, the remainder discarded.
[[nodiscard]] constexpr int scaled(u32 dpi, int value) {
    return static_cast<int>(dpi * static_cast<u32>(value) / 96);
}

// The push buttons' styles: BS_NOTIFY, so that they tell their parent when they get the focus.
inline constexpr DWORD DEFAULT_BUTTON_STYLE = BS_DEFPUSHBUTTON | BS_NOTIFY;
inline constexpr DWORD PLAIN_BUTTON_STYLE = BS_PUSHBUTTON | BS_NOTIFY;

// A child control of `parent` at (0, 0), 10 × 10, with WS_CHILD | WS_VISIBLE added to `style`;
// null when it cannot be made.
HWND make_control(HWND parent, std::string_view class_name, std::string_view text, DWORD style,
                  int id);

// "Segoe UI" at `points` and `weight` for `dpi`; its height is points × dpi / −72, truncated.
HFONT make_font(int points, int weight, u32 dpi);

// The icon group at `pixels` square, scaled down from the nearest larger image rather than up
// from a smaller one (the painted 72-unit icon would otherwise be the 64-pixel image
// stretched); null when it cannot be loaded.
HICON load_app_icon(HINSTANCE instance, int pixels);

// SetWindowTextW of the UTF-8 text.
void set_text(HWND control, std::string_view text);

// GetWindowTextW, as UTF-8.
std::string text_of(HWND control);

// WM_CREATE's part for the panel: the window's DPI, the icon and the eight controls.
void create_controls(HWND window);

// Makes the fonts for window_dpi, places and sizes every control with its font, then swaps the
// font set and deletes the old fonts, which no control uses any more.
void layout_controls();

// WM_PAINT: the icon, centred at the top.
void paint(HWND window);

// Whether the system's high-contrast theme was on when last read: read at creation and again
// on every change of the system's colours or settings. Only the window thread touches it.
extern bool high_contrast;

// SystemParametersInfoW(SPI_GETHIGHCONTRAST) into high_contrast; off when the call fails.
void read_high_contrast();

// WM_CTLCOLORSTATIC: grey for the explanation and the status line, the window-text colour for
// the other statics, all over the window's background; gives the brush. Under a high-contrast
// theme the grey, barely readable on its dark backgrounds, becomes the window-text colour too.
HBRUSH static_colours(HDC context, HWND control);

// WM_SYSCOLORCHANGE and WM_SETTINGCHANGE: reads the high-contrast setting again and repaints
// the window with its controls.
void colours_changed(HWND window);

// WM_DPICHANGED: lays out for the new DPI, loads the painted icon again at its new size with
// the loader of creation (a picture scaled at paint time is blurred), then takes the suggested
// window rectangle.
void dpi_changed(HWND window, u32 new_dpi, const RECT& suggested);

// Sends the message, as received, to each child control of `window`: the common controls learn
// of a change of the system's colours (WM_SYSCOLORCHANGE) only from their parent.
void forward_to_children(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

// ---- The keyboard ----

// Before `disabling` are disabled: when the focus is on one of them, it moves to the next
// control in Tab order that has WS_TABSTOP, is visible and stays enabled. Without that the
// focus would rest on a disabled control, keys would arrive as WM_SYSKEYDOWN and Tab would move
// nowhere. Quit is never disabled, so there always is one.
void move_focus_off(std::initializer_list<HWND> disabling);

// WM_ACTIVATE: on deactivation the focused control is remembered; on activation (unless
// minimised) it gets the focus back, or, when none was remembered or it is disabled now, the
// first enabled tab stop. DefWindowProcW would give the focus to the frame, where no key does
// anything.
void on_activate(HWND window, WPARAM w_param);

// The focus reached `focused`: the push button that has the focus is the default one (the
// dialog manager presses the focused default button on Enter); with the focus elsewhere,
// Create is. BM_SETSTYLE on both buttons, which keep BS_NOTIFY so that their focus is told.
void default_button_follows_focus(HWND focused);

// DM_GETDEFID, asked by IsDialogMessageW on Enter when no default button has the focus:
// Create (with DC_HASDEFID) while it is enabled, otherwise no default button.
[[nodiscard]] LRESULT default_button_answer();

// ---- Screen readers ----

// Makes the status line a polite live region: IAccPropServices::SetHwndProp with
// LiveSetting_Property_GUID = Polite. Needs COM on this thread. Nothing when the service cannot
// be had.
void make_live_region(HWND status_line);

// Takes the annotation back and lets the service go (WM_DESTROY).
void clear_live_region(HWND status_line);

// Tells screen readers that the live region's text changed
// (EVENT_OBJECT_LIVEREGIONCHANGED); a polite region is read out once the reader is idle.
void announce_status(HWND status_line);

}  // namespace orvelo::ui
