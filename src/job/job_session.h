// What a running job holds of the machine besides the drive: the system kept awake by the
// worker, and the end of the session held off by the window, from the job's start to its end.
// A laptop left alone during a long download or write would otherwise sleep (and the stick come
// back as a new device), and a sign-out or an update restart would end the process with the
// drive half written and no word said.
#pragma once

#include "core/drive_candidate.h"
#include "core/job_status.h"
#include "core/types.h"
#include "os/system.h"

namespace orvelo {

// How often the wait at the end of the session looks at the job again.
inline constexpr u32 SESSION_END_POLL_MS = 50;

// The window's side of a job's start: the shutdown block with its reason on `window`, then the
// shared record set up for the job (begin_job). Window thread only, before the worker starts.
void start_job_session(JobStatus& status, os::WindowHandle window, const DriveCandidate& drive);

// The window's side of the job's end, when its end message is handled: the shutdown block is
// taken back. Window thread only.
void end_job_session(os::WindowHandle window);

// The worker's side: `procedure` run with the system kept awake, which the worker releases
// when the procedure returns, on every road the job takes. Gives the procedure's result.
u32 run_awake(u32 (*procedure)(void*), void* argument);

// The session ends anyway (WM_ENDSESSION with TRUE): asks the job to stop and waits until it
// has stored its end phase, which it does only after releasing the drive. The system ends the
// process when its patience runs out; until then the drive is given back whole.
void stop_and_wait_for_job_end(JobStatus& status);

}  // namespace orvelo
