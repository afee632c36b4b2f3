// The `orvelo` command's flow: the drive resolved and checked, the local image read and checked,
// the user asked, then the job on a worker thread while the terminal shows its progress.
#include "cli/program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "core/format.h"
#include "core/job_status.h"
#include "core/messages.h"
#include "core/progress_display.h"
#include "core/settings.h"
#include "core/terminal_text.h"
#include "core/text.h"
#include "core/unicode.h"
#include "crypto/sha256.h"
#include "crypto/signed_document.h"
#include "drive/linux/drive_from_path.h"
#include "drive/linux/system_drives.h"
#include "job/drive_identity.h"
#include "job/image_cache.h"
#include "job/install_job.h"
#include "job/release_manifest.h"
#include "os/posix/storage_posix.h"
#include "os/posix/system_posix.h"

namespace orvelo::cli {
namespace {

using linux_drive::CLI_DISK_NUMBER;
using linux_drive::Descriptor;
using linux_drive::DriveIdentity;
using linux_drive::PathDrive;
using linux_drive::SystemDisk;

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// The Linux words for a drive that something holds and a device the system did not open.
constexpr DriveTexts LINUX_DRIVE_TEXTS{msg::IN_USE_LINUX, msg::NOT_OPENED_LINUX};

// The end of the job, signalled by the worker as it ends.
std::mutex job_end_mutex;
std::condition_variable job_end_signal;
bool job_ended = false;

// The drive that the user confirmed, how it was allowed, and what became of it. The job's
// identity checks carry it; it lives as long as the job.
struct Confirmed {
    PathDrive drive;
    bool any_disk = false;
    std::filesystem::path root;
    std::atomic<bool> replaced{false};
    std::atomic<bool> opened_for_writing{false};

    // Before anything is locked: the drive must still be the confirmed one, and still free. It
    // is asked through the descriptor that the path led to at the confirmation, never by name.
    Status before_locking() {
        Status same = linux_drive::confirm_path_drive(drive, any_disk, root);
        if (!same && same.error().text == format(msg::DRIVE_REPLACED, drive.drive.label)) {
            replaced.store(true);
        }
        return same;
    }

    // On the handle opened for writing, from which on the drive is changed.
    Status on_open_disk(os::Handle disk) {
        const int fd = static_cast<int>(static_cast<std::uintptr_t>(disk));
        DriveIdentity now;
        if (!linux_drive::identity_of(fd, root, now) || now != drive.identity) {
            replaced.store(true);
            return fail(format(msg::DRIVE_REPLACED, drive.drive.label));
        }
        if ((fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY) {
            opened_for_writing.store(true);
        }
        return {};
    }
};

void on_job_end(os::WindowHandle) {
    {
        const std::lock_guard lock(job_end_mutex);
        job_ended = true;
    }
    job_end_signal.notify_all();
}

void on_interrupt(int) {
    request_stop(job_status);
}

bool stop_is_requested() {
    return is_stop_requested(job_status);
}

// Writes our own bytes (the terminal's cursor controls among them) unchanged.
void print_raw(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

// Writes a text, with whatever came from outside made visible.
void print(std::FILE* out, std::string_view text) {
    print_raw(out, visible_text(text));
}

std::string line_of(std::string_view text) {
    return std::string(text) + "\n";
}

bool ask_to_erase(const PathDrive& picked) {
    const std::string size = size_text(picked.drive.size_bytes);
    std::string question;
    if (picked.is_file) {
        question = line_of(msg::ERASE_FILE_TITLE) +
                   line_of(format(msg::ERASE_FILE_TEXT, picked.real_path, size)) +
                   std::string(msg::OVERWRITE_PROMPT);
    } else if (picked.device_label.empty()) {
        question = line_of(msg::ERASE_TITLE) +
                   line_of(format(msg::ERASE_TEXT, picked.real_path, size)) +
                   std::string(msg::ERASE_PROMPT);
    } else {
        question =
            line_of(msg::ERASE_TITLE) +
            line_of(format(msg::ERASE_DEVICE_TEXT, picked.device_label, picked.real_path, size)) +
            std::string(msg::ERASE_PROMPT);
    }
    print(stdout, question);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

// Whether the drive file lies in the installer's own cache folder, whose files the job renames
// and deletes as its own: the folder and the file's are compared by their numbers.
bool in_cache_folder(const PathDrive& picked) {
    const std::optional<std::u16string> folder = cache_folder_path();
    const std::optional<std::string> file = linux_drive::path_now(picked);
    if (!folder || !file) {
        return false;
    }
    std::string folder_path = wide_to_utf8(*folder);
    std::replace(folder_path.begin(), folder_path.end(), '\\', '/');  // as the seam reads it
    const std::string parent = std::filesystem::path(*file).parent_path().string();
    struct stat cache {};
    struct stat holder {};
    return stat(folder_path.c_str(), &cache) == 0 && stat(parent.c_str(), &holder) == 0 &&
           cache.st_dev == holder.st_dev && cache.st_ino == holder.st_ino;
}

std::string drive_line(const SystemDisk& disk) {
    return format(msg::DRIVE_LIST_LINE, visible_field(disk.device_path), size_text(disk.size_bytes),
                  disk.label, disk.bus);
}

std::vector<SystemDisk> offered_drives(const std::filesystem::path& root) {
    std::vector<SystemDisk> offered;
    for (SystemDisk& disk : linux_drive::system_disks(root)) {
        if (disk.offered()) {
            offered.push_back(std::move(disk));
        }
    }
    return offered;
}

int list_drives(const std::filesystem::path& root) {
    const std::vector<SystemDisk> drives = offered_drives(root);
    if (drives.empty()) {
        print(stdout, line_of(msg::STATUS_PLUG_IN));
    }
    for (const SystemDisk& disk : drives) {
        print(stdout, line_of(drive_line(disk)));
    }
    return EXIT_DONE;
}

// Shows the offered drives numbered and reads the user's pick: its path, or nothing.
std::optional<std::string> pick_drive(const std::filesystem::path& root) {
    const std::vector<SystemDisk> drives = offered_drives(root);
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

// The local image, read whole before anyone is asked to erase anything: it must be a regular
// file (opened without blocking, so that a FIFO or a device cannot hold the program in open(),
// and judged on the handle), and an installer image that fits the drive.
Result<JobImage> read_local_image(const std::string& path, const DriveCandidate& drive) {
    const std::string shown = visible_field(path);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return fail(format(msg::CANT_BE_READ, shown));
    }
    const Descriptor file(fd);
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return fail(format(msg::CANT_BE_READ, shown));
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(format(msg::NOT_A_REGULAR_FILE, shown));
    }
    const u64 size = static_cast<u64>(info.st_size);
    JobImage image{{}, std::string(msg::LOCAL_IMAGE_VERSION)};
    if (size < LOCAL_FILE_LIMIT_BYTES) {
        image.image = read_open_file(os::Handle(static_cast<std::uintptr_t>(fd)), size);
    }
    if (image.image.size() != size) {
        return fail(format(msg::CANT_BE_READ, shown));
    }
    if (Status fits = check_image_for_drive(image.image, drive, shown); !fits) {
        return fail(std::move(fits.error()));
    }
    return image;
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

// Follows the job like the window's timer: every 250 ms, the status for the current counts,
// and at once when the worker signals the end. On a terminal the line is redrawn in place with
// the rate and time left; otherwise each new status text gets a line of its own.
void follow_job() {
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    std::string shown;
    JobPhase shown_phase = JobPhase::Starting;
    RateMeter meter;
    print(stdout, std::string(msg::STATUS_STARTING) + (terminal ? "" : "\n"));
    std::unique_lock lock(job_end_mutex);
    while (
        !job_end_signal.wait_for(lock, std::chrono::milliseconds(250), [] { return job_ended; })) {
        const JobPhase phase = load_phase(job_status);
        const u64 done = job_status.bytes_done.load();
        const u64 total = job_status.bytes_total.load();
        const auto display = progress_display(phase, done, total);
        if (!display) {
            continue;
        }
        const std::string line = display->status_text + " " + bar(display->bar_position);
        if (terminal) {
            const std::string with_rate =
                line + meter.text(phase, done, total, std::chrono::steady_clock::now());
            if (with_rate != shown) {
                print_raw(stdout, "\r\033[K");
                print(stdout, with_rate);
                shown = with_rate;
            }
        } else if (phase != shown_phase) {
            print(stdout, line + "\n");
            shown_phase = phase;
        }
    }
    if (terminal) {
        print(stdout, "\n");
    }
}

int write_drive(CommandLine options, const std::filesystem::path& root) {
    if (options.drive_path.empty()) {
        std::optional<std::string> picked = pick_drive(root);
        if (!picked) {
            return EXIT_FAILED;
        }
        options.drive_path = std::move(*picked);
    }
    Result<PathDrive> picked =
        linux_drive::drive_from_path(options.drive_path, options.any_disk, root);
    if (!picked) {
        print(stderr, line_of(picked.error().text));
        return EXIT_FAILED;
    }
    if (picked->is_file && in_cache_folder(*picked)) {
        print(stderr, line_of(format(msg::IN_CACHE_FOLDER, picked->real_path)));
        return EXIT_FAILED;
    }
    JobFrontEnd front_end;
    if (options.image_path) {
        Result<JobImage> image = read_local_image(*options.image_path, picked->drive);
        if (!image) {
            print(stderr, line_of(image.error().text));
            return EXIT_FAILED;
        }
        front_end.local_image = std::move(*image);
    }
    if (!options.confirmed && !ask_to_erase(*picked)) {
        print(stdout, line_of(msg::STATUS_NOT_MADE));
        return EXIT_FAILED;
    }
    const DriveCandidate drive = picked->drive;
    Confirmed confirmed{std::move(*picked), options.any_disk, root};
    front_end.drive_access =
        DriveAccess{{[&confirmed](const DriveCandidate&) { return confirmed.before_locking(); },
                     [&confirmed](os::Handle disk, const DriveCandidate&) {
                         return confirmed.on_open_disk(disk);
                     }},
                    LINUX_DRIVE_TEXTS};
    store_settings(options.job_arguments, settings_lock, settings);
    // A block device's claim goes with it: the job's own opens then leave the kernel's exclusive
    // use to the claim, which holds it from before the question to the end.
    os::register_disk(CLI_DISK_NUMBER, confirmed.drive.reopen_path(),
                      confirmed.drive.is_file ? -1 : confirmed.drive.claim.get());
    os::set_job_end_handler(on_job_end);
    os::set_stop_query(stop_is_requested);

    // The stop signals are taken once the job has begun: beginning a job clears its stop
    // request, and a stop that arrived before would be lost. Ctrl-C, a termination and the
    // terminal's hang-up all stop the job the same way, with the same lines.
    begin_job(job_status, drive);
    constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int stop_signal : STOP_SIGNALS) {
        signal(stop_signal, on_interrupt);
    }
    std::thread worker(run_install_job, &front_end);
    follow_job();
    worker.join();
    for (const int stop_signal : STOP_SIGNALS) {
        signal(stop_signal, SIG_DFL);
    }

    const JobOutcome outcome = read_job_outcome(job_status);
    if (outcome.phase == JobPhase::Succeeded) {
        print(stdout, line_of(msg::STATUS_READY) + "\n" + line_of(msg::READY_TITLE) +
                          line_of(success_text(outcome.drive_label, outcome.outcome_text)));
        return EXIT_DONE;
    }
    print(stdout, line_of(msg::STATUS_NOT_MADE));
    // A stop ends whatever the job was waiting for; its end is the stop, not a failure. Once
    // the drive was opened for writing, what it held is gone, and the user is told so.
    if (outcome.outcome_text == msg::STOPPED || is_stop_requested(job_status)) {
        if (confirmed.opened_for_writing.load()) {
            print(stdout, line_of(msg::STOP_TEXT));
        }
        return EXIT_FAILED;
    }
    const std::string reason =
        confirmed.replaced.load() ? format(msg::DRIVE_REPLACED, drive.label) : outcome.outcome_text;
    print(stderr, line_of(msg::FAILED_TITLE) + line_of(reason));
    return EXIT_FAILED;
}

// Checks a manifest file as the job would and prints its fields, so that a release can be
// checked before it is published.
int check_manifest(const CommandLine& line) {
    const std::string& path = line.manifest_path;
    const bool dev_keys = line.dev_keys;
    const std::optional<std::vector<u8>> document = read_whole_file(path);
    if (!document) {
        print(stderr, format(msg::CANT_BE_READ, visible_field(path)) + "\n");
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
    print(stdout, "version " + visible_field(manifest->version) + "\nbuild " +
                      decimal_text(manifest->build) + "\nissued " + decimal_text(manifest->issued) +
                      "\nfile path " + visible_field(manifest->file_path) + "\nfile size " +
                      decimal_text(manifest->file_size) + "\nfile sha256 " +
                      hex_lower(manifest->file_sha256) + "\nimage size " +
                      decimal_text(manifest->image_size) + "\nimage sha256 " +
                      hex_lower(manifest->image_sha256) + "\n");
    return EXIT_DONE;
}

}  // namespace

int run_program(std::span<const std::string> arguments, const std::filesystem::path& root) {
    const Result<CommandLine> line = parse_command_line(arguments);
    if (!line) {
        print(stderr,
              line.error().text.ends_with('\n') ? line.error().text : line_of(line.error().text));
        return EXIT_USAGE;
    }
    switch (line->command) {
        case Command::Help:
            print(stdout, USAGE);
            return EXIT_DONE;
        case Command::Version:
            print(stdout, line_of("orvelo " ORVELO_VERSION));
            return EXIT_DONE;
        case Command::List:
            return list_drives(root);
        case Command::Write:
            return write_drive(*line, root);
        case Command::CheckManifest:
            return check_manifest(*line);
    }
    return EXIT_USAGE;
}

}  // namespace orvelo::cli
