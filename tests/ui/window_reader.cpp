// Reads the live main window of OrveloInstaller from outside, for the Wine tests: prints one
// JSON object with the window, each child control (class, id, text, style, rectangle in client
// coordinates and on the screen, enabled, visible, font height, progress position, drop-down
// items and selection), the control with the keyboard focus, the process's error mode and the
// widths of the class icons (from the test build's probe), and every message box the process
// shows (caption, text, buttons). Texts of another process's controls come through
// SendMessageTimeoutW(WM_GETTEXT): GetWindowTextW does not ask another process's controls.
//
// Usage: inspector            print the state; exit 3 when there is no main window
//        inspector close      post WM_CLOSE to the main window, as its close box does
//        inspector manifest EXE
//                             print the application manifest (resource 1 of type RT_MANIFEST)
//                             that EXE carries; exit 4 when it has none
//        inspector post-end   post WM_APP (wParam 0, lParam 0) to the main window, as a job's
//                             end does
//        inspector query-end  send WM_QUERYENDSESSION (a sign-out) to the main window, as
//                             Windows does before ending the session; print its answer
//        inspector end-session
//                             send WM_ENDSESSION (TRUE, a sign-out) to the main window, as
//                             Windows does when the session ends anyway; print whether the
//                             window answered within 10 s
//        inspector watch-live SECONDS
//                             for SECONDS, or until the main window is gone, print one JSON
//                             line per EVENT_OBJECT_LIVEREGIONCHANGED that the program raises,
//                             with the raising control's id and text, seen by an out-of-context
//                             WinEvent hook as a screen reader sees them
//        inspector other-window SECONDS
//                             show a window titled "Orvelo Test Other" for SECONDS: another
//                             window for the test to give the focus to
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/unicode.h"

namespace {

constexpr UINT TIMEOUT_MS = 2000;
constexpr UINT PROBE_FONT_HEIGHT = WM_APP + 0x100;  // answered by OrveloInstallerTest.exe
constexpr UINT PROBE_ERROR_MODE = WM_APP + 0x101;   // likewise
constexpr UINT PROBE_CLASS_ICONS = WM_APP + 0x102;  // likewise

// Concatenation by appending: GCC 12 warns falsely about operator+ on strings at -O3.
template <class... Parts>
std::string cat(const Parts&... parts) {
    std::string joined;
    (joined.append(std::string_view(parts)), ...);
    return joined;
}

std::string json_text(const std::u16string& text) {
    const std::string utf8 = orvelo::wide_to_utf8(text);
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

LRESULT send(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, w_param, l_param, SMTO_ABORTIFHUNG, TIMEOUT_MS,
                             &result)) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

std::u16string window_text(HWND window) {
    const LRESULT length = send(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) {
        return {};
    }
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    const LRESULT copied =
        send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

std::u16string class_of(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return std::u16string(reinterpret_cast<const char16_t*>(name));
}

std::vector<HWND> children_of(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string rect_json(const RECT& rect) {
    return cat("[", std::to_string(rect.left), ",", std::to_string(rect.top), ",",
               std::to_string(rect.right - rect.left), ",", std::to_string(rect.bottom - rect.top),
               "]");
}

// The height of the control's font, from the test build's font probe; 0 without a probe.
int font_height(HWND control) {
    const HWND probe = FindWindowExW(HWND_MESSAGE, nullptr, L"OrveloFontProbe", nullptr);
    if (probe == nullptr) {
        return 0;
    }
    return static_cast<int>(send(probe, PROBE_FONT_HEIGHT, reinterpret_cast<WPARAM>(control), 0));
}

// The process's error mode (GetErrorMode) from the test build's probe; -1 without a probe.
int error_mode() {
    const HWND probe = FindWindowExW(HWND_MESSAGE, nullptr, L"OrveloFontProbe", nullptr);
    if (probe == nullptr) {
        return -1;
    }
    return static_cast<int>(send(probe, PROBE_ERROR_MODE, 0, 0));
}

// The widths of the window class's large and small icons from the test build's probe; [0, 0]
// without a probe.
std::string class_icon_widths(HWND main) {
    const HWND probe = FindWindowExW(HWND_MESSAGE, nullptr, L"OrveloFontProbe", nullptr);
    const LRESULT widths =
        probe != nullptr ? send(probe, PROBE_CLASS_ICONS, reinterpret_cast<WPARAM>(main), 0) : 0;
    return cat("[", std::to_string(LOWORD(widths)), ",", std::to_string(HIWORD(widths)), "]");
}

// Writes the manifest resource of the program at `path` to stdout, byte for byte.
int print_manifest(const wchar_t* path) {
    const HMODULE module =
        LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return 4;
    }
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        FreeLibrary(module);
        return 4;
    }
    std::fwrite(bytes, 1, SizeofResource(module, found), stdout);
    FreeLibrary(module);
    return 0;
}

std::string control_json(HWND main, HWND control) {
    RECT screen{};
    GetWindowRect(control, &screen);
    RECT client = screen;
    MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&client), 2);
    const std::u16string kind = class_of(control);
    std::string out = "{\"class\":";
    out += json_text(kind);
    out += cat(",\"id\":", std::to_string(GetDlgCtrlID(control)));
    out += cat(",\"text\":", json_text(window_text(control)));
    out += cat(",\"style\":",
               std::to_string(static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE))));
    out += cat(",\"rect\":", rect_json(client));
    out += cat(",\"screen\":", rect_json(screen));
    out += cat(",\"enabled\":", std::string(IsWindowEnabled(control) ? "true" : "false"));
    out += cat(",\"visible\":", std::string(IsWindowVisible(control) ? "true" : "false"));
    out += cat(",\"font_height\":", std::to_string(font_height(control)));
    if (kind == u"msctls_progress32") {
        out += ",\"position\":" + std::to_string(send(control, PBM_GETPOS, 0, 0));
        out += cat(",\"range\":", std::to_string(send(control, PBM_GETRANGE, FALSE, 0)));
    }
    if (kind == u"ComboBox") {
        RECT dropped{};
        send(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&dropped), 2);
        out += cat(",\"dropped_rect\":", rect_json(dropped));
        out += cat(",\"selected\":", std::to_string(send(control, CB_GETCURSEL, 0, 0)));
        out += ",\"items\":[";
        const LRESULT count = send(control, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            // CB_GETLBTEXT writes without a bound, and a rescan may replace the item between
            // the two messages: the buffer keeps room for a longer text than the length read.
            constexpr std::size_t SPARE_UNITS = 512;
            const LRESULT length = send(control, CB_GETLBTEXTLEN, i, 0);
            std::u16string item(
                (length > 0 ? static_cast<std::size_t>(length) : 0) + 1 + SPARE_UNITS, u'\0');
            const LRESULT copied =
                send(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
            item.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
            out += i == 0 ? "" : ",";
            out += json_text(item);
        }
        out += "]";
    }
    return out + "}";
}

struct BoxSearch {
    DWORD process;
    std::vector<HWND> boxes;
};

std::string box_json(HWND box) {
    RECT screen{};
    GetWindowRect(box, &screen);
    std::string out = "{\"caption\":";
    out += json_text(window_text(box));
    out += cat(",\"screen\":", rect_json(screen));
    std::u16string text;
    std::string buttons;
    for (const HWND child : children_of(box)) {
        const std::u16string kind = class_of(child);
        const std::u16string child_text = window_text(child);
        if (kind == u"Button") {
            buttons += buttons.empty() ? "" : ",";
            buttons += json_text(child_text);
        } else if (kind == u"Static" && child_text.size() > text.size()) {
            text = child_text;  // the message; the icon's static has no text
        }
    }
    out += ",\"text\":" + json_text(text);
    out += cat(",\"buttons\":[", buttons, "]}");
    return out;
}

// The events seen by watch_live_region's hook.
DWORD watched_process = 0;

void CALLBACK live_region_changed(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != watched_process) {
        return;
    }
    const std::string line = cat("{\"id\":", std::to_string(GetDlgCtrlID(window)),
                                 ",\"text\":", json_text(window_text(window)), "}\n");
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// Dispatches this thread's messages (the hook's callbacks, the window's own) for `seconds`, or
// until `watched`, when given, is gone.
void pump_messages(DWORD seconds, HWND watched) {
    const ULONGLONG end = GetTickCount64() + 1000ULL * seconds;
    while (GetTickCount64() < end && (watched == nullptr || IsWindow(watched))) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
}

int watch_live_region(DWORD seconds) {
    const HWND main = FindWindowW(L"OrveloInstaller", nullptr);
    if (main == nullptr) {
        return 3;
    }
    GetWindowThreadProcessId(main, &watched_process);
    const HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_LIVEREGIONCHANGED, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                        live_region_changed, watched_process, 0, WINEVENT_OUTOFCONTEXT);
    if (hook == nullptr) {
        return 5;
    }
    // Ready: the test starts acting only after this line.
    std::fputs("{\"watching\":true}\n", stdout);
    std::fflush(stdout);
    pump_messages(seconds, main);
    UnhookWinEvent(hook);
    return 0;
}

int show_other_window(DWORD seconds) {
    const HWND other =
        CreateWindowExW(0, L"STATIC", L"Orvelo Test Other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20,
                        20, 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (other == nullptr) {
        return 1;
    }
    pump_messages(seconds, nullptr);
    DestroyWindow(other);
    return 0;
}

// One pass over the window: everything below but the "settled" flag, in the order read.
std::string read_window(HWND main) {
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(main, &process);

    RECT frame{};
    GetWindowRect(main, &frame);
    RECT client{};
    GetClientRect(main, &client);
    POINT origin{0, 0};
    ClientToScreen(main, &origin);
    std::string out = "{\"window\":{\"title\":";
    out += json_text(window_text(main));
    out +=
        cat(",\"style\":", std::to_string(static_cast<DWORD>(GetWindowLongPtrW(main, GWL_STYLE))));
    out += cat(",\"ex_style\":",
               std::to_string(static_cast<DWORD>(GetWindowLongPtrW(main, GWL_EXSTYLE))));
    out += cat(",\"frame\":", rect_json(frame));
    out += cat(",\"client\":[", std::to_string(origin.x), ",", std::to_string(origin.y), ",",
               std::to_string(client.right), ",", std::to_string(client.bottom), "]");
    out += cat(",\"screen_size\":[", std::to_string(GetSystemMetrics(SM_CXSCREEN)), ",",
               std::to_string(GetSystemMetrics(SM_CYSCREEN)), "]");
    out += cat(",\"visible\":", std::string(IsWindowVisible(main) ? "true" : "false"));
    out += cat(",\"enabled\":", std::string(IsWindowEnabled(main) ? "true" : "false"), "}");

    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    int focus_id = -1;
    if (GetGUIThreadInfo(thread, &gui) && gui.hwndFocus != nullptr) {
        focus_id = GetDlgCtrlID(gui.hwndFocus);
        // The drop-down list's own edit or list child reports its parent's id.
        if (GetParent(gui.hwndFocus) != main && GetParent(gui.hwndFocus) != nullptr &&
            GetParent(GetParent(gui.hwndFocus)) == main) {
            focus_id = GetDlgCtrlID(GetParent(gui.hwndFocus));
        }
    }
    out += ",\"focus_id\":" + std::to_string(focus_id);
    out += ",\"error_mode\":" + std::to_string(error_mode());
    out += ",\"class_icon_widths\":" + class_icon_widths(main);

    out += ",\"controls\":[";
    bool first = true;
    for (const HWND child : children_of(main)) {
        if (GetParent(child) != main) {
            continue;
        }
        out += first ? "" : ",";
        out += control_json(main, child);
        first = false;
    }
    out += "]";

    BoxSearch search{process, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* found = reinterpret_cast<BoxSearch*>(context);
            DWORD owner_process = 0;
            GetWindowThreadProcessId(window, &owner_process);
            if (owner_process == found->process && IsWindowVisible(window) &&
                class_of(window) == u"#32770") {
                found->boxes.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    out += ",\"boxes\":[";
    for (std::size_t i = 0; i < search.boxes.size(); ++i) {
        out += i == 0 ? "" : ",";
        out += box_json(search.boxes[i]);
    }
    out += "]";
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 2 && std::wstring(argv[1]) == L"manifest") {
        return print_manifest(argv[2]);
    }
    if (argc > 2 && std::wstring(argv[1]) == L"watch-live") {
        return watch_live_region(static_cast<DWORD>(_wtoi(argv[2])));
    }
    if (argc > 2 && std::wstring(argv[1]) == L"other-window") {
        return show_other_window(static_cast<DWORD>(_wtoi(argv[2])));
    }
    const HWND main = FindWindowW(L"OrveloInstaller", nullptr);
    if (main == nullptr) {
        std::fputs("{\"window\":null}\n", stdout);
        return 3;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"close") {
        return PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"post-end") {
        return PostMessageW(main, WM_APP, 0, 0) ? 0 : 1;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"end-session") {
        DWORD_PTR result = 0;
        const bool answered = SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF,
                                                  SMTO_ABORTIFHUNG, 10000, &result) != 0;
        std::printf("{\"answered\":%s}\n", answered ? "true" : "false");
        return 0;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"query-end") {
        const LRESULT answer = send(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        std::printf("{\"answer\":%d}\n", static_cast<int>(answer));
        return 0;
    }
    // A pass reads one value after another while the window goes on working, so a pass that
    // spans one of its updates mixes the state before it with the state after it (a status line
    // of one phase beside the bar of the next). Passes are repeated until two in a row agree:
    // the window changes its state as a whole within one message, and every value is read
    // through its thread, so two equal passes show a state that it really had. Up to 10 s.
    std::string previous = read_window(main);
    bool settled = false;
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!settled && GetTickCount64() < deadline) {
        if (FindWindowW(L"OrveloInstaller", nullptr) != main) {
            std::fputs("{\"window\":null}\n", stdout);
            return 3;
        }
        std::string current = read_window(main);
        settled = current == previous;
        previous = std::move(current);
    }
    previous += settled ? ",\"settled\":true}\n" : ",\"settled\":false}\n";
    std::fwrite(previous.data(), 1, previous.size(), stdout);
    return 0;
}
