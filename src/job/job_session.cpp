#include "job/job_session.h"

#include "core/messages.h"
#include "core/unicode.h"

namespace orvelo {

void start_job_session(JobStatus& status, os::WindowHandle window, const DriveCandidate& drive) {
    const WideString reason = utf8_to_wide(msg::SHUTDOWN_BLOCK_REASON);
    os::block_shutdown(window, reason.c_str());
    begin_job(status, drive);
}

void end_job_session(os::WindowHandle window) {
    os::unblock_shutdown(window);
}

u32 run_awake(u32 (*procedure)(void*), void* argument) {
    os::keep_system_awake(true);
    const u32 result = procedure(argument);
    os::keep_system_awake(false);
    return result;
}

void stop_and_wait_for_job_end(JobStatus& status) {
    request_stop(status);
    for (;;) {
        const JobPhase phase = load_phase(status);
        if (phase == JobPhase::Succeeded || phase == JobPhase::Failed) {
            return;
        }
        os::sleep_ms(SESSION_END_POLL_MS);
    }
}

}  // namespace orvelo
