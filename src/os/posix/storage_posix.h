// Linux-only additions to the seam: which device or drive file stands behind a disk number.
// The Linux front end names a drive by its path; the job opens disks by number, as on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace orvelo::os {

// Makes `path` (a block device such as /dev/sdb, or a regular file standing in for a drive) the
// disk that "\\.\PhysicalDrive{number}" opens. The partitions of a block device become its
// volumes, named "\\?\Volume{/dev/sdb1}\".
void register_disk(std::uint32_t number, const std::string& path);

// Tells whether the open file `fd` is still the drive that was registered, the one the user
// confirmed.
using DiskCheck = bool (*)(int fd);

// Installs the check for disk `number`. It runs on a handle of the registered path before its
// partitions are enumerated (a disk that fails contributes none, so none is locked) and on the
// disk's handle right after it is opened for writing (a disk that fails is closed again and
// the open fails with ENODEV), so nothing reaches a drive that took the confirmed one's place.
void set_disk_check(std::uint32_t number, DiskCheck check);

}  // namespace orvelo::os
