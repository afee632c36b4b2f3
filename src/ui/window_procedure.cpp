#include "ui/window_procedure.h"

#include <commctrl.h>

#include "core/format.h"
#include "core/job_status.h"
#include "core/messages.h"
#include "core/progress_display.h"
#include "core/text.h"
#include "drive/drive_discovery.h"
#include "job/install_job.h"
#include "job/job_session.h"
#include "ui/main_window.h"

namespace orvelo::ui {
namespace {

constexpr UINT QUESTION_FLAGS = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
constexpr UINT SUCCESS_FLAGS = MB_OK | MB_ICONINFORMATION;
constexpr UINT FAILURE_FLAGS = MB_OK | MB_ICONERROR;

// The drop-down, the status line and the Create button as drive discovery drives them.
class WindowDriveControls final : public DriveControls {
  public:
    WindowDriveControls() {
        const std::lock_guard guard(controls_lock);
        combo_ = controls.drive_combo;
        status_ = controls.status_label;
        create_ = controls.create_button;
    }

    int selected_index() override {
        return static_cast<int>(SendMessageW(combo_, CB_GETCURSEL, 0, 0));
    }

    void show(const DriveListView& view) override {
        SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
        for (const std::string& item : view.items) {
            const WideString wide = utf8_to_wide(item);
            SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        }
        SendMessageW(combo_, CB_SETCURSEL, view.selected_index, 0);
        if (!view.enabled) {
            move_focus_off({combo_, create_});
        }
        EnableWindow(combo_, view.enabled);
        EnableWindow(create_, view.enabled);
        // A drive plugged in or pulled out changes what the user may do next; a screen reader
        // hears it only through the live region. A line that stays the same is not repeated.
        if (text_of(status_) != view.status_text) {
            set_text(status_, view.status_text);
            announce_status(status_);
        }
    }

  private:
    HWND combo_ = nullptr;
    HWND status_ = nullptr;
    HWND create_ = nullptr;
};

DWORD WINAPI job_thread(LPVOID start_argument) {
    return run_awake(run_install_job, start_argument);
}

os::WindowHandle handle_of(HWND window) {
    return os::WindowHandle(reinterpret_cast<std::uintptr_t>(window));
}

// From the job's start until its end message is handled: the worker is at work on the drive,
// and the end of the session is held off.
bool session_active = false;

// What screen readers were last told of the running job.
AnnouncedProgress announced;

void on_create(HWND window) {
    const ControlSet set = copy_controls();
    const LRESULT selection = SendMessageW(set.drive_combo, CB_GETCURSEL, 0, 0);
    const std::size_t index = selection < 1 ? 0 : static_cast<std::size_t>(selection);
    const std::optional<DriveCandidate> drive = drive_list_entry(drive_list, index);
    if (!drive) {
        return;
    }
    const std::string question =
        format(msg::ERASE_TEXT, drive->label, size_text(drive->size_bytes));
    if (show_message_box(window, msg::ERASE_TITLE, question, QUESTION_FLAGS) != IDYES) {
        return;
    }
    // The copy taken before the question is what the job writes, even if a scan changed the
    // list while the question was open.
    start_job_session(job_status, handle_of(window), *drive);
    session_active = true;
    job_running = true;
    move_focus_off({set.drive_combo, set.create_button});
    EnableWindow(set.drive_combo, FALSE);
    EnableWindow(set.create_button, FALSE);
    set_text(set.quit_button, msg::STOP_BUTTON);
    set_text(set.status_label, msg::STATUS_STARTING);
    announced = AnnouncedProgress{JobPhase::Starting, 0};
    announce_status(set.status_label);
    SendMessageW(set.progress_bar, PBM_SETPOS, 0, 0);
    ShowWindow(set.progress_bar, SW_SHOW);
    const HANDLE thread = CreateThread(nullptr, 0, job_thread, nullptr, 0, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
        return;
    }
    // No worker: the job ends here, through the same end sequence a worker would run, so the
    // window reports the system's reason and goes back to Idle instead of staying in Running.
    end_job(job_status, Result<std::string>(fail(last_error_text())));
}

void on_quit(HWND window) {
    if (job_running) {
        request_stop(job_status);
        return;
    }
    DestroyWindow(window);
}

void on_close(HWND window) {
    if (!job_running) {
        DestroyWindow(window);
        return;
    }
    if (show_message_box(window, msg::STOP_TITLE, msg::STOP_TEXT, QUESTION_FLAGS) == IDYES) {
        request_stop(job_status);
    }
}

void on_timer() {
    if (!job_running) {
        if (count_refresh_tick(drive_list)) {
            refresh_drive_list();
        }
        return;
    }
    const std::optional<ProgressDisplay> display = progress_display(
        load_phase(job_status), job_status.bytes_done.load(), job_status.bytes_total.load());
    if (!display) {
        return;
    }
    const ControlSet set = copy_controls();
    set_text(set.status_label, display->status_text);
    SendMessageW(set.progress_bar, PBM_SETPOS, display->bar_position, 0);
    if (announce_progress(announced, load_phase(job_status), job_status.bytes_done.load(),
                          job_status.bytes_total.load())) {
        announce_status(set.status_label);
    }
}

// True while the outcome of the ended job is being shown: its box pumps messages, and a repeated
// end message must not show a second box.
bool reporting = false;

// The end message is the job's own only while a job runs and has stored its end phase (it
// stores outcome and phase before posting). Any other arrival, a stray or repeated post, changes
// nothing: no box, no rescan, and Create stays disabled under a running worker.
bool is_end_of_running_job() {
    if (!job_running || reporting) {
        return false;
    }
    const JobPhase phase = load_phase(job_status);
    return phase == JobPhase::Succeeded || phase == JobPhase::Failed;
}

void on_job_end(HWND window) {
    if (!is_end_of_running_job()) {
        return;
    }
    reporting = true;
    // The worker has released the drive: the session may end again.
    end_job_session(handle_of(window));
    session_active = false;
    const ControlSet set = copy_controls();
    // Read before the outcome box, which takes the focus while it is open.
    const bool focus_on_stop = GetFocus() == set.quit_button;
    const JobOutcome outcome = read_job_outcome(job_status);
    if (outcome.phase == JobPhase::Succeeded) {
        set_text(set.status_label, msg::STATUS_READY);
        announce_status(set.status_label);
        show_message_box(window, msg::READY_TITLE,
                         success_text(outcome.drive_label, outcome.outcome_text), SUCCESS_FLAGS);
    } else {
        set_text(set.status_label, msg::STATUS_NOT_MADE);
        // After a stop this line is all the user is told.
        announce_status(set.status_label);
        if (outcome.outcome_text != msg::STOPPED) {
            show_message_box(window, msg::FAILED_TITLE, outcome.outcome_text, FAILURE_FLAGS);
        }
    }
    reporting = false;
    job_running = false;
    set_text(set.quit_button, msg::QUIT_BUTTON);
    ShowWindow(set.progress_bar, SW_HIDE);
    // With the stored list empty, the scan rewrites the controls as soon as it finds a drive and
    // remembers no earlier selection.
    store_drive_list(drive_list, {});
    refresh_drive_list();
    // The focus went to Stop only because the job took it off Create: it goes back there once
    // Create can take it again.
    if (focus_on_stop && IsWindowEnabled(set.create_button)) {
        SetFocus(set.create_button);
    }
}

void on_create_window(HWND window) {
    job_status.main_window.store(handle_of(window));
    create_controls(window);
    make_live_region(copy_controls().status_label);
    store_drive_list(drive_list, {placeholder_drive()});
    const ControlSet set = copy_controls();
    SendMessageW(set.progress_bar, PBM_SETRANGE32, 0, PROGRESS_RANGE);
    ShowWindow(set.progress_bar, SW_HIDE);
    SetTimer(window, POLL_TIMER, POLL_PERIOD_MS, nullptr);
    layout_controls();
    refresh_drive_list();
}

void on_command(HWND window, WPARAM w_param) {
    // The focus reached a control: the default push button follows it.
    const WORD code = HIWORD(w_param);
    if ((LOWORD(w_param) == IDC_DRIVES && code == CBN_SETFOCUS) ||
        ((LOWORD(w_param) == IDC_CREATE || LOWORD(w_param) == IDC_QUIT) && code == BN_SETFOCUS)) {
        default_button_follows_focus(GetDlgItem(window, LOWORD(w_param)));
        return;
    }
    // Only a click (or Enter, or the command sent as a click) presses a button; the buttons'
    // focus notifications carry their ids too.
    if (code != BN_CLICKED) {
        return;
    }
    switch (LOWORD(w_param)) {
        case IDC_CREATE:
            // The button is disabled while a job runs; a command that arrives anyway (sent by
            // another program, say) must not start a second job over the first.
            if (!job_running) {
                on_create(window);
            }
            break;
        case IDC_QUIT:
            on_quit(window);
            break;
        default:
            break;
    }
}

}  // namespace

bool job_running = false;

int show_message_box(HWND owner, std::string_view caption, std::string_view text, UINT flags) {
    const WideString wide_caption = utf8_to_wide(caption);
    const WideString wide_text = utf8_to_wide(text);
    return MessageBoxW(owner, reinterpret_cast<LPCWSTR>(wide_text.c_str()),
                       reinterpret_cast<LPCWSTR>(wide_caption.c_str()), flags);
}

void refresh_drive_list() {
    WindowDriveControls window_controls;
    orvelo::refresh_drive_list(drive_list, window_controls);
}

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    switch (message) {
        case WM_CREATE:
            on_create_window(window);
            return 0;
        case WM_DESTROY:
            clear_live_region(copy_controls().status_label);
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATE:
            on_activate(window, w_param);
            return 0;
        case DM_GETDEFID:
            return default_button_answer();
        case WM_QUERYENDSESSION:
            // Windows asks every program before ending the session; FALSE keeps it, and the
            // reason given at the job's start is shown beside the window.
            return session_active ? FALSE : TRUE;
        case WM_ENDSESSION:
            // Ended anyway (the user insisted, or the end was forced): the drive is given back
            // whole for as long as Windows lets the process live.
            if (w_param != FALSE && session_active) {
                stop_and_wait_for_job_end(job_status);
            }
            return 0;
        case WM_PAINT:
            paint(window);
            return 0;
        case WM_CLOSE:
            on_close(window);
            return 0;
        case WM_COMMAND:
            on_command(window, w_param);
            return 0;
        case WM_TIMER:
            on_timer();
            return 0;
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(
                static_colours(reinterpret_cast<HDC>(w_param), reinterpret_cast<HWND>(l_param)));
        case WM_SYSCOLORCHANGE:
            // The common controls learn of new system colours only from their parent.
            forward_to_children(window, message, w_param, l_param);
            colours_changed(window);
            return DefWindowProcW(window, message, w_param, l_param);
        case WM_SETTINGCHANGE:
            colours_changed(window);
            return DefWindowProcW(window, message, w_param, l_param);
        case WM_DEVICECHANGE:
            note_device_change(drive_list);
            return TRUE;
        case WM_DPICHANGED:
            dpi_changed(window, LOWORD(w_param), *reinterpret_cast<const RECT*>(l_param));
            return 0;
        case WM_APP:
            on_job_end(window);
            return 0;
        default:
            return DefWindowProcW(window, message, w_param, l_param);
    }
}

}  // namespace orvelo::ui
