#include "core/job_status.h"

#include <mutex>

#include "core/messages.h"

namespace orvelo {

JobStatus job_status;

namespace {

void store_phase(JobStatus& status, JobPhase phase) {
    status.phase.store(static_cast<u32>(phase), std::memory_order_release);
}

}  // namespace

void begin_job(JobStatus& status, const DriveCandidate& drive) {
    status.stop_requested.store(false, std::memory_order_relaxed);
    store_phase(status, JobPhase::Starting);
    const std::lock_guard guard(status.job_drive_lock);
    status.job_drive = drive;
}

void request_stop(JobStatus& status) {
    status.stop_requested.store(true, std::memory_order_relaxed);
}

JobPhase load_phase(const JobStatus& status) {
    return static_cast<JobPhase>(status.phase.load(std::memory_order_acquire));
}

JobOutcome read_job_outcome(JobStatus& status) {
    JobOutcome outcome{load_phase(status), {}, {}};
    {
        const std::lock_guard guard(status.outcome_lock);
        outcome.outcome_text = status.outcome_text;
    }
    const std::lock_guard guard(status.job_drive_lock);
    if (status.job_drive) {
        outcome.drive_label = status.job_drive->label;
    }
    return outcome;
}

std::optional<DriveCandidate> copy_job_drive(JobStatus& status) {
    const std::lock_guard guard(status.job_drive_lock);
    return status.job_drive;
}

Status check_stopped(const JobStatus& status) {
    if (is_stop_requested(status)) {
        return fail(std::string(msg::STOPPED));
    }
    return {};
}

bool is_stop_requested(const JobStatus& status) {
    return status.stop_requested.load(std::memory_order_relaxed);
}

void publish_progress(JobStatus& status, JobPhase phase, u64 bytes_done, u64 bytes_total) {
    status.bytes_done.store(bytes_done, std::memory_order_relaxed);
    status.bytes_total.store(bytes_total, std::memory_order_relaxed);
    store_phase(status, phase);
}

void on_download_progress(JobStatus& status, u64 received_bytes, u64 expected_bytes) {
    publish_progress(status, JobPhase::Fetching,
                     received_bytes < expected_bytes ? received_bytes : expected_bytes,
                     expected_bytes);
}

void ignore_progress(u64) {}

void end_job(JobStatus& status, const Result<std::string>& outcome) {
    {
        const std::lock_guard guard(status.outcome_lock);
        status.outcome_text = outcome ? *outcome : outcome.error().text;
    }
    store_phase(status, outcome ? JobPhase::Succeeded : JobPhase::Failed);
    os::post_job_end(status.main_window.load(std::memory_order_relaxed));
}

}  // namespace orvelo
