// orvelo: the installer's job from a Linux terminal. It writes an installer drive (a block
// device or a drive file) from a local image or the signed release, with the same job, texts
// and checks as the Windows program.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/drive_from_path.h"
#include "cli/system_drives.h"
#include "cli/terminal_text.h"
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

constexpr std::string_view ERASE_PROMPT = "Erase it? [y/N] ";
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

std::atomic<bool> job_ended{false};

// The drive that the user confirmed, and whether a drive found in its place was refused.
cli::DriveIdentity confirmed_identity;
std::filesystem::path system_root;
std::atomic<bool> drive_replaced{false};

void on_job_end(os::WindowHandle) {
    job_ended.store(true);
}

void on_interrupt(int) {
    request_stop(job_status);
}

// The drive is named by its path, not by a disk number that discovery lists: before anything is
// locked, the path must still lead to the confirmed drive (device or file, size, sector size,
// label). The handle opened for writing is checked once more by is_confirmed_drive.
std::string confirmed_drive_path;

Status confirm_drive_path(const DriveCandidate& confirmed) {
    const Result<cli::PathDrive> now =
        cli::drive_from_path(confirmed_drive_path, true, system_root);
    if (!now || now->identity != confirmed_identity) {
        drive_replaced.store(true);
        return fail(format(msg::DRIVE_REPLACED, confirmed.label));
    }
    return {};
}

bool stop_is_requested() {
    return is_stop_requested(job_status);
}

bool is_confirmed_drive(int fd) {
    cli::DriveIdentity now;
    if (cli::identity_of(fd, system_root, now) && now == confirmed_identity) {
        return true;
    }
    drive_replaced.store(true);
    return false;
}

// Writes our own bytes (the terminal's cursor controls among them) unchanged.
void print_raw(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

// Writes a text, with whatever came from outside made visible.
void print(std::FILE* out, std::string_view text) {
    print_raw(out, cli::visible_text(text));
}

std::string line_of(std::string_view text) {
    return std::string(text) + "\n";
}

bool ask_to_erase(const DriveCandidate& drive) {
    print(stdout, line_of(msg::ERASE_TITLE) +
                      line_of(format(msg::ERASE_TEXT, drive.label, size_text(drive.size_bytes))) +
                      std::string(ERASE_PROMPT));
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

std::string drive_line(const cli::SystemDisk& disk) {
    return format(msg::DRIVE_LIST_LINE, disk.device_path, size_text(disk.size_bytes), disk.label,
                  disk.bus);
}

std::vector<cli::SystemDisk> offered_drives() {
    std::vector<cli::SystemDisk> offered;
    for (cli::SystemDisk& disk : cli::system_disks(system_root)) {
        if (disk.offered()) {
            offered.push_back(std::move(disk));
        }
    }
    return offered;
}

int list_drives() {
    const std::vector<cli::SystemDisk> drives = offered_drives();
    if (drives.empty()) {
        print(stdout, line_of(msg::STATUS_PLUG_IN));
    }
    for (const cli::SystemDisk& disk : drives) {
        print(stdout, line_of(drive_line(disk)));
    }
    return EXIT_DONE;
}

// Shows the offered drives numbered and reads the user's pick: its path, or nothing.
std::optional<std::string> pick_drive() {
    const std::vector<cli::SystemDisk> drives = offered_drives();
    if (drives.empty()) {
        print(stderr, line_of(msg::STATUS_PLUG_IN));
        return std::nullopt;
    }
    std::string menu;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        menu += line_of(format(msg::NUMBERED_ITEM, i + 1, drive_line(drives[i])));
    }
    print(stdout, menu + format(msg::WHICH_DRIVE, drives.size()));
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        print(stdout, "\n");
    }
    std::size_t number = 0;
    if (!is_valid_utf8(answer)) {
        answer.clear();
    }
    const std::string_view trimmed = trim_white_space(answer);
    for (const char c : trimmed) {
        if (c < '0' || c > '9' || number > drives.size()) {
            number = 0;
            break;
        }
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    if (number == 0 || number > drives.size()) {
        print(stderr, line_of(msg::NO_DRIVE_PICKED));
        return std::nullopt;
    }
    return drives[number - 1].device_path;
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
            print_raw(stdout, "\r\033[K");
            print(stdout, line);
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

int write_drive(cli::CommandLine options) {
    if (options.drive_path.empty()) {
        std::optional<std::string> picked = pick_drive();
        if (!picked) {
            return EXIT_FAILED;
        }
        options.drive_path = std::move(*picked);
    }
    Result<cli::PathDrive> picked =
        cli::drive_from_path(options.drive_path, options.any_disk, system_root);
    if (!picked) {
        print(stderr, line_of(picked.error().text));
        return EXIT_FAILED;
    }
    const DriveCandidate& drive = picked->drive;
    if (!options.confirmed && !ask_to_erase(drive)) {
        print(stdout, line_of(msg::STATUS_NOT_MADE));
        return EXIT_FAILED;
    }
    confirmed_identity = picked->identity;
    store_settings(options.job_arguments, settings_lock, settings);
    os::register_disk(cli::CLI_DISK_NUMBER, options.drive_path);
    confirmed_drive_path = options.drive_path;
    set_drive_identity_checks({confirm_drive_path, nullptr});
    os::set_disk_check(cli::CLI_DISK_NUMBER, is_confirmed_drive);
    os::set_job_end_handler(on_job_end);
    os::set_stop_query(stop_is_requested);
    signal(SIGINT, on_interrupt);

    begin_job(job_status, drive);
    std::thread worker(run_install_job, nullptr);
    follow_job();
    worker.join();

    const JobOutcome outcome = read_job_outcome(job_status);
    if (outcome.phase == JobPhase::Succeeded) {
        print(stdout, line_of(msg::STATUS_READY) + "\n" + line_of(msg::READY_TITLE) +
                          line_of(success_text(outcome.drive_label, outcome.outcome_text)));
        return EXIT_DONE;
    }
    print(stdout, line_of(msg::STATUS_NOT_MADE));
    // A stop ends whatever the job was waiting for; its end is the stop, not a failure.
    if (outcome.outcome_text == msg::STOPPED || is_stop_requested(job_status)) {
        return EXIT_FAILED;
    }
    const std::string reason =
        drive_replaced.load() ? format(msg::DRIVE_REPLACED, drive.label) : outcome.outcome_text;
    print(stderr, line_of(msg::FAILED_TITLE) + line_of(reason));
    return EXIT_FAILED;
}

// Checks a manifest file as the job would and prints its fields, so that a release can be
// checked before it is published.
int check_manifest(const cli::CommandLine& line) {
    const std::string& path = line.manifest_path;
    const bool dev_keys = line.dev_keys;
    const std::optional<std::vector<u8>> document = read_whole_file(path);
    if (!document) {
        print(stderr, format(msg::CANT_BE_READ, path) + "\n");
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
    const Result<cli::CommandLine> line = cli::parse_command_line(arguments);
    if (!line) {
        print(stderr,
              line.error().text.ends_with('\n') ? line.error().text : line_of(line.error().text));
        return EXIT_USAGE;
    }
    system_root = cli::system_root();
    switch (line->command) {
        case cli::Command::Help:
            print(stdout, cli::USAGE);
            return EXIT_DONE;
        case cli::Command::Version:
            print(stdout, line_of("orvelo " ORVELO_VERSION));
            return EXIT_DONE;
        case cli::Command::List:
            return list_drives();
        case cli::Command::Write:
            return write_drive(*line);
        case cli::Command::CheckManifest:
            return check_manifest(*line);
    }
    return EXIT_USAGE;
}
