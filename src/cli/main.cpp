// orvelo: the installer's job from a Linux terminal. It writes an installer drive (a block
// device or a drive file) from a local image or the signed release, with the same job, texts
// and checks as the Windows program.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "cli/drive_from_path.h"
#include "core/format.h"
#include "core/job_status.h"
#include "core/messages.h"
#include "core/progress_display.h"
#include "core/settings.h"
#include "core/text.h"
#include "crypto/sha256.h"
#include "crypto/signed_document.h"
#include "job/drive_identity.h"
#include "job/install_job.h"
#include "job/release_manifest.h"
#include "os/posix/storage_posix.h"
#include "os/posix/system_posix.h"

namespace {

using namespace orvelo;

constexpr std::string_view USAGE =
    "usage: orvelo write --drive PATH --image FILE [--yes]\n"
    "       orvelo write --drive PATH [--server URL] [--dev] [--yes]\n"
    "       orvelo check-manifest FILE [--dev]\n";
constexpr std::string_view ERASE_PROMPT = "Erase it? [y/N] ";
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

std::atomic<bool> job_ended{false};

void on_job_end(os::WindowHandle) {
    job_ended.store(true);
}

void on_interrupt(int) {
    request_stop(job_status);
}

// The drive is named by its path, not by a disk number that discovery lists: before anything is
// locked, the path must still describe the confirmed drive (size, sector size, label).
std::string confirmed_drive_path;

Status confirm_drive_path(const DriveCandidate& confirmed) {
    const Result<DriveCandidate> now = cli::drive_from_path(confirmed_drive_path);
    if (!now || *now != confirmed) {
        return fail(format(msg::DRIVE_REPLACED, confirmed.label));
    }
    return {};
}

struct WriteOptions {
    std::string drive_path;
    std::vector<std::string> job_arguments;  // as the Windows command line would carry them
    bool confirmed = false;
};

bool parse_write(const std::vector<std::string>& arguments, WriteOptions& options) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool has_value = i + 1 < arguments.size();
        if (argument == "--drive" && has_value) {
            options.drive_path = arguments[++i];
        } else if ((argument == "--image" || argument == "--server") && has_value) {
            options.job_arguments.push_back(argument);
            options.job_arguments.push_back(arguments[++i]);
        } else if (argument == "--dev") {
            options.job_arguments.push_back(argument);
        } else if (argument == "--yes") {
            options.confirmed = true;
        } else {
            return false;
        }
    }
    return !options.drive_path.empty();
}

void print(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

bool ask_to_erase(const DriveCandidate& drive) {
    print(stdout, std::string(msg::ERASE_TITLE) + "\n" +
                      format(msg::ERASE_TEXT, drive.label, size_text(drive.size_bytes)) + "\n" +
                      std::string(ERASE_PROMPT));
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

std::string bar(u32 position) {
    constexpr u32 WIDTH = 30;
    const u32 filled = std::min(position, PROGRESS_RANGE) * WIDTH / PROGRESS_RANGE;
    std::string text(WIDTH + 2, '-');
    text.front() = '[';
    text.back() = ']';
    std::fill_n(text.begin() + 1, filled, '#');
    return text;
}

// Follows the job like the window's timer: every 250 ms, the status for the current counts. On
// a terminal the line is redrawn in place; otherwise each new status text gets a line of its own.
void follow_job() {
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    std::string shown;
    JobPhase shown_phase = JobPhase::Starting;
    print(stdout, std::string(msg::STATUS_STARTING) + (terminal ? "" : "\n"));
    while (!job_ended.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const JobPhase phase = load_phase(job_status);
        const auto display =
            progress_display(phase, job_status.bytes_done.load(), job_status.bytes_total.load());
        if (!display) {
            continue;
        }
        const std::string line = display->status_text + " " + bar(display->bar_position);
        if (terminal && line != shown) {
            print(stdout, "\r\033[K" + line);
            shown = line;
        } else if (!terminal && phase != shown_phase) {
            print(stdout, line + "\n");
            shown_phase = phase;
        }
    }
    if (terminal) {
        print(stdout, "\n");
    }
}

int write_drive(const std::vector<std::string>& arguments) {
    WriteOptions options;
    if (!parse_write(arguments, options)) {
        print(stderr, USAGE);
        return EXIT_USAGE;
    }
    Result<DriveCandidate> drive = cli::drive_from_path(options.drive_path);
    if (!drive) {
        print(stderr, drive.error().text + "\n");
        return EXIT_FAILED;
    }
    if (!options.confirmed && !ask_to_erase(*drive)) {
        print(stdout, std::string(msg::STATUS_NOT_MADE) + "\n");
        return EXIT_FAILED;
    }
    store_settings(options.job_arguments, settings_lock, settings);
    os::register_disk(cli::CLI_DISK_NUMBER, options.drive_path);
    confirmed_drive_path = options.drive_path;
    set_drive_identity_checks({confirm_drive_path, nullptr});
    os::set_job_end_handler(on_job_end);
    signal(SIGINT, on_interrupt);

    begin_job(job_status, *drive);
    std::thread worker(run_install_job, nullptr);
    follow_job();
    worker.join();

    const JobOutcome outcome = read_job_outcome(job_status);
    if (outcome.phase == JobPhase::Succeeded) {
        print(stdout, std::string(msg::STATUS_READY) + "\n\n" + std::string(msg::READY_TITLE) +
                          "\n" + success_text(outcome.drive_label, outcome.outcome_text) + "\n");
        return EXIT_DONE;
    }
    print(stdout, std::string(msg::STATUS_NOT_MADE) + "\n");
    if (outcome.outcome_text != msg::STOPPED) {
        print(stderr, std::string(msg::FAILED_TITLE) + "\n" + outcome.outcome_text + "\n");
    }
    return EXIT_FAILED;
}

// Checks a manifest file as the job would and prints its fields, so that a release can be
// checked before it is published.
int check_manifest(const std::vector<std::string>& arguments) {
    const bool dev_keys = arguments.size() == 2 && arguments[1] == "--dev";
    if (arguments.empty() || arguments.size() > 2 || (arguments.size() == 2 && !dev_keys)) {
        print(stderr, USAGE);
        return EXIT_USAGE;
    }
    const std::optional<std::vector<u8>> document = read_whole_file(arguments[0]);
    if (!document) {
        print(stderr, format(msg::CANT_BE_READ, arguments[0]) + "\n");
        return EXIT_FAILED;
    }
    const JobResult<std::string> body = check_signed_document(*document, dev_keys);
    if (!body) {
        print(stderr, job_error_text(body.error()).text + "\n");
        return EXIT_FAILED;
    }
    const JobResult<ReleaseManifest> manifest = parse_manifest(*body);
    if (!manifest) {
        print(stderr, job_error_text(manifest.error()).text + "\n");
        return EXIT_FAILED;
    }
    print(stdout, "version " + manifest->version + "\nbuild " + decimal_text(manifest->build) +
                      "\nissued " + decimal_text(manifest->issued) + "\nfile path " +
                      manifest->file_path + "\nfile size " + decimal_text(manifest->file_size) +
                      "\nfile sha256 " + hex_lower(manifest->file_sha256) + "\nimage size " +
                      decimal_text(manifest->image_size) + "\nimage sha256 " +
                      hex_lower(manifest->image_sha256) + "\n");
    return EXIT_DONE;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && arguments[0] == "write") {
        return write_drive(std::vector(arguments.begin() + 1, arguments.end()));
    }
    if (!arguments.empty() && arguments[0] == "check-manifest") {
        return check_manifest(std::vector(arguments.begin() + 1, arguments.end()));
    }
    print(stderr, USAGE);
    return EXIT_USAGE;
}
