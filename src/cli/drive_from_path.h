// The Linux front end names the drive by its path: a block device or a regular file standing in
// for one. This makes the DriveCandidate the job writes, as discovery would on Windows, and
// remembers what identifies it, so that the drive opened for writing minutes later can be
// checked to be the one the user confirmed.
#pragma once

#include <filesystem>
#include <string>

#include "core/drive_candidate.h"
#include "core/error_text.h"

namespace orvelo::cli {

// The disk number under which the front end registers the drive for the job.
inline constexpr u32 CLI_DISK_NUMBER = 0;

// What must be unchanged between the confirmation and the writing. A block device: its device
// number, size, logical sector size and sysfs label. A drive file: the file (device and inode)
// and its size.
struct DriveIdentity {
    bool block_device = false;
    u64 device = 0;  // st_rdev of a block device, st_dev of a file
    u64 inode = 0;   // a file's; 0 for a block device
    u64 size_bytes = 0;
    u32 bytes_per_sector = 0;
    std::string label;  // a block device's sysfs label; empty for a file

    friend bool operator==(const DriveIdentity&, const DriveIdentity&) = default;
};

struct PathDrive {
    DriveCandidate drive;
    DriveIdentity identity;
};

// A regular file is always taken. A block device must be a whole disk that does not hold the
// running system, and without `any_disk` one that `orvelo list` offers (system_drives.h), read
// under `root`; it is refused with the text that says why before anything opens it.
// Label: the device's vendor and model as the system knows them ("{vendor} {model}", or the one
// that is there), else the file name. Size and logical sector size from the device, or the
// file's size and 512 for a regular file. "{path} can't be read." when it is neither.
[[nodiscard]] Result<PathDrive> drive_from_path(const std::string& path, bool any_disk,
                                                const std::filesystem::path& root);

// The identity of the open file `fd` as drive_from_path takes it, read on that handle (and
// the label through sysfs under `root`); false when it cannot be read.
[[nodiscard]] bool identity_of(int fd, const std::filesystem::path& root, DriveIdentity& identity);

}  // namespace orvelo::cli
