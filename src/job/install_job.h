// The installer job: the worker that makes one installer drive, from the choice of image to the
// final check, and leaves a single outcome in the shared job state.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "core/job_status.h"
#include "core/settings.h"
#include "core/types.h"
#include "os/file.h"

namespace orvelo {

// Local files are read whole, below this size, in reads of at most 16 MiB.
inline constexpr u64 LOCAL_FILE_LIMIT_BYTES = 1'073'741'824;
inline constexpr u32 FILE_READ_PIECE_BYTES = 16'777'216;

// The first `size` bytes of an open file, in reads of at most FILE_READ_PIECE_BYTES into one
// buffer taken once; fewer when a read fails or the file ends early.
[[nodiscard]] std::vector<u8> read_open_file(os::Handle file, u64 size);

// Nothing when the file cannot be opened; otherwise the bytes that could be read, possibly
// fewer than the file holds (no size, a size of 1 GiB or more, or a read error give fewer bytes
// without a failure: the callers check what they got).
[[nodiscard]] std::optional<std::vector<u8>> read_whole_file(std::string_view path);

// What the job writes: the uncompressed disk image and the version text shown on success.
struct JobImage {
    std::vector<u8> image;
    std::string version;
};

// The local road: the file named with --image, as it is, with the version "(local image)".
[[nodiscard]] Result<JobImage> take_local_image(const std::string& path);

// The download road: the newest signed release from the update server, through the cache.
[[nodiscard]] Result<JobImage> take_release(JobStatus& status, const std::string& server_url,
                                            bool dev_keys);

// Steps from the stop check to closing the drive: the checks of drive and image, preparation,
// writing and checking. The drive is untouched unless the image fits it.
[[nodiscard]] Status write_image(JobStatus& status, const DriveCandidate& drive,
                                 std::span<const u8> image);

// The whole job against the given shared records: the drive copied from `status`, the road
// chosen from `source`, then the end sequence. Returns without touching anything when no drive
// was stored.
void run_job(JobStatus& status, SpinLock& settings_guard, const Settings& source);

// The thread procedure: run_job on the process's records. Ignores its argument; returns 0.
u32 run_install_job(void* start_argument);

}  // namespace orvelo
