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
#include "job/drive_identity.h"
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

// Whether `image` can be written to `drive` as it is (512-byte sectors, a GPT disk image that
// fits): nothing, or the failure. `image_file` names a local image file in the texts of an image
// that is no installer or is damaged; empty for the release, whose texts speak of the download.
[[nodiscard]] Status check_image_for_drive(std::span<const u8> image, const DriveCandidate& drive,
                                           std::string_view image_file);

// What a front end hands the job besides the drive and the settings: its access to the drive,
// and a local image that it read and checked itself before the user was asked to erase
// anything (then the job takes these bytes instead of reading the settings' file again).
struct JobFrontEnd {
    DriveAccess drive_access;
    std::optional<JobImage> local_image;
};

// The download road: the newest signed release from the update server, through the cache.
[[nodiscard]] Result<JobImage> take_release(JobStatus& status, const std::string& server_url,
                                            bool dev_keys);

// Steps from the stop check to closing the drive: the checks of drive and image
// (check_image_for_drive, with `image_file`), the access's check before locking, preparation,
// writing and checking. The drive is untouched unless the image fits it.
[[nodiscard]] Status write_image(JobStatus& status, const DriveCandidate& drive,
                                 std::span<const u8> image, const DriveAccess& access = {},
                                 std::string_view image_file = {});

// The whole job against the given shared records: the drive copied from `status`, the image
// from `front_end` or the road chosen from `source`, then the end sequence. Returns without
// touching anything when no drive was stored.
void run_job(JobStatus& status, SpinLock& settings_guard, const Settings& source,
             JobFrontEnd& front_end);

// The thread procedure: run_job on the process's records, with the JobFrontEnd that
// `start_argument` points to, or the window's (discovery's checks and texts) when it is null.
// Returns 0.
u32 run_install_job(void* start_argument);

}  // namespace orvelo
