// The one record shared by the window thread and the job's worker thread, and the operations
// each side uses on it. There is no other channel between the two: the window hands over the
// drive and may request a stop; the job publishes its phase and byte counts, and at its end
// leaves its outcome and posts one message.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "core/spin_lock.h"
#include "core/types.h"
#include "os/system.h"

namespace orvelo {

enum class JobPhase : u32 {
    Starting = 0,
    Fetching = 1,
    Preparing = 2,
    Writing = 3,
    Checking = 4,
    Succeeded = 5,
    Failed = 6,
};

// The single-word fields are relaxed atomics: each is stored and loaded whole, and the window
// tolerates seeing bytes_done of one update with bytes_total of another for one tick. The texts
// sit under their own spin locks, never held together.
struct JobStatus {
    SpinLock job_drive_lock;
    std::optional<DriveCandidate> job_drive;  // the window's copy of the chosen drive

    std::atomic<bool> stop_requested{false};
    std::atomic<u32> phase{static_cast<u32>(JobPhase::Starting)};  // a JobPhase
    std::atomic<u64> bytes_done{0};
    std::atomic<u64> bytes_total{0};

    SpinLock outcome_lock;
    std::string outcome_text;  // version text after success, the ErrorText after failure

    // Written once when the main window exists, before any job.
    std::atomic<os::WindowHandle> main_window{os::WindowHandle{0}};
};

// The record of this process.
extern JobStatus job_status;

// ---- Window side ----

// Before the worker starts: clears the stop request, sets Starting and stores a copy of `drive`
// (releasing the previous one). The byte counts are left: the job resets them when it enters
// Fetching or Preparing, and nothing shows them in Starting.
void begin_job(JobStatus& status, const DriveCandidate& drive);

// Sets the stop request; whether the job has already ended does not matter.
void request_stop(JobStatus& status);

struct JobOutcome {
    JobPhase phase;
    std::string outcome_text;
    std::string drive_label;  // empty when no drive was stored
};

// On the end-of-job message: the phase, a copy of the outcome and the drive's label.
[[nodiscard]] JobOutcome read_job_outcome(JobStatus& status);

[[nodiscard]] JobPhase load_phase(const JobStatus& status);

// ---- Job side ----

// The job's copy of the drive, taken once at its start.
[[nodiscard]] std::optional<DriveCandidate> copy_job_drive(JobStatus& status);

// "Stopped." when the stop was requested; done otherwise.
[[nodiscard]] Status check_stopped(const JobStatus& status);

[[nodiscard]] bool is_stop_requested(const JobStatus& status);

// Stores bytes_done, then bytes_total, then phase, in that order.
void publish_progress(JobStatus& status, JobPhase phase, u64 bytes_done, u64 bytes_total);

// The image download's progress: the bytes received so far, capped at the expected size of the
// file, so that a server sending too much never shows more than 100%.
void on_download_progress(JobStatus& status, u64 received_bytes, u64 expected_bytes);

// The manifest fetch's progress callback: nothing is shown for it.
void ignore_progress(u64 received_bytes);

// The end sequence, once per job: the outcome text under its lock, then Succeeded or Failed,
// then the end-of-job message to the main window. `outcome` holds the version text written, or
// the job's ErrorText.
void end_job(JobStatus& status, const Result<std::string>& outcome);

}  // namespace orvelo
