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

}  // namespace orvelo::os
