// The Linux front end names the drive by its path: a block device or a regular file standing in
// for one. This makes the DriveCandidate the job writes, as discovery would on Windows, and
// remembers what identifies it, so that the drive opened for writing minutes later can be
// checked to be the one the user confirmed.
//
// The path is resolved once, one component at a time, without letting the system follow any
// link: each link met is read and followed here, and only when it belongs to root, to the
// effective or real user, or to the account that ran sudo. Running as root, a link in a folder
// of another account is that account's choice of what root overwrites. What the walk ends on
// stays open, and the drive is only ever reopened through that descriptor, never by name.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "drive/linux/descriptor.h"

namespace orvelo::linux_drive {

// The disk number under which the front end registers the drive for the job.
inline constexpr u32 CLI_DISK_NUMBER = 0;

// What must be unchanged between the confirmation and the writing. A block device: its device
// number, disk sequence number, size, logical sector size and sysfs label. A drive file: the
// file (device and inode) and its size.
struct DriveIdentity {
    bool block_device = false;
    u64 device = 0;  // st_rdev of a block device, st_dev of a file
    u64 inode = 0;   // a file's; 0 for a block device
    // The kernel's count of media it has seen, which changes when a card is swapped in a reader
    // or a loop device is given another file, though the device number stays; 0 for a file or
    // where the kernel has none.
    u64 disk_sequence = 0;
    u64 size_bytes = 0;
    u32 bytes_per_sector = 0;
    std::string label;  // a block device's sysfs label; empty for a file

    friend bool operator==(const DriveIdentity&, const DriveIdentity&) = default;
};

struct PathDrive {
    DriveCandidate drive;
    DriveIdentity identity;
    std::string real_path;     // the path with every link resolved, escaped for the terminal
    std::string device_label;  // a block device's sysfs label (escaped); empty for a file
    bool is_file = false;      // a regular file standing in for a drive
    Descriptor handle;         // what the path led to, open without access (O_PATH)
    // The drive claimed for the job, held from before the question to the end: a block device
    // opened with O_EXCL for writing, a drive file opened for writing and locked (flock).
    Descriptor claim;
    // The devices beneath a block device, each opened with O_EXCL (check_device_tree).
    std::vector<Descriptor> claims_beneath;

    // The path that reopens the drive through `handle`, for the seam.
    [[nodiscard]] std::string reopen_path() const;
};

// A block device must be a whole disk that nothing uses and that does not hold the running
// system, and without `any_disk` one that `orvelo list` offers (system_drives.h), read under
// `root`. On the running machine it is then claimed, with every device beneath it, through
// O_EXCL opens kept in the PathDrive: the kernel's word that nothing holds them, in any mount
// namespace, and that nothing will while the job runs. A regular file must be writable by the
// user, free of loop devices, swap and mounts, locked by no other job and open for writing
// nowhere else; it is claimed open for writing and locked. Every refusal comes here, before
// the question, with the text that says why ("… needs root: run it with sudo.", "… is
// read-only: …", "… is being written by another job. …").
// Label: a block device's vendor and model as the system knows them ("{vendor} {model}", or
// the one that is there) followed by " ({real path})", or its real path alone; a file's real
// path. Size and logical sector size from the device, or the file's size and 512 for a regular
// file. "{path} can't be read." when it is neither.
[[nodiscard]] Result<PathDrive> drive_from_path(const std::string& path, bool any_disk,
                                                const std::filesystem::path& root);

// Whether the drive is still the one `confirmed` describes and still free, asked through its
// descriptor: it must still be at the path confirmed, for a block device the checks of
// drive_from_path again (its claims still held), for a file none of its users; then the identity.
// "{label} was unplugged or replaced. Pick the drive again." when it is another.
[[nodiscard]] Status confirm_path_drive(const PathDrive& confirmed, bool any_disk,
                                        const std::filesystem::path& root);

// Where the drive is now, as the kernel names the file its descriptor leads to (unescaped).
[[nodiscard]] std::optional<std::string> path_now(const PathDrive& drive);

// The identity of the open file `fd` as drive_from_path takes it, read on that handle (and
// the label through sysfs under `root`); false when it cannot be read.
[[nodiscard]] bool identity_of(int fd, const std::filesystem::path& root, DriveIdentity& identity);

}  // namespace orvelo::linux_drive
