// The Linux front end names the drive by its path: a block device or a regular file standing in
// for one. This makes the DriveCandidate the job writes, as discovery would on Windows.
#pragma once

#include <string>

#include "core/drive_candidate.h"
#include "core/error_text.h"

namespace orvelo::cli {

// The disk number under which the front end registers the drive for the job.
inline constexpr u32 CLI_DISK_NUMBER = 0;

// Label: the device's vendor and model as the system knows them ("{vendor} {model}", or the one
// that is there), else the file name. Size and logical sector size from the device, or the
// file's size and 512 for a regular file. "{path} can't be read." when it is neither.
[[nodiscard]] Result<DriveCandidate> drive_from_path(const std::string& path);

}  // namespace orvelo::cli
