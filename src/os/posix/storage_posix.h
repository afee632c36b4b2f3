// Linux-only additions to the seam: which device or drive file stands behind a disk number.
// The Linux front end names a drive by its path; the job opens disks by number, as on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace orvelo::os {

// Makes `path` (a block device such as /dev/sdb, or a regular file standing in for a drive) the
// disk that "\\.\PhysicalDrive{number}" opens. The partitions of a block device become its
// volumes, named "\\?\Volume{/dev/sdb1}\".
//
// `claim`, when not -1, is a descriptor of that block device which the caller opened with
// O_EXCL and holds for the job. The kernel then lets nothing else claim the disk or any of its
// partitions, in any mount namespace: the disk's opens for writing do not ask for exclusive use
// again (they would fail against the caller's own claim), its partitions count as locked, and
// the partition tables are re-read through the claim, the one opener the kernel lets rescan
// them while it is held.
void register_disk(std::uint32_t number, const std::string& path, int claim = -1);

}  // namespace orvelo::os
