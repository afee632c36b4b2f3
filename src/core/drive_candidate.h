// One drive that may be written: made by drive discovery, copied into the job.
#pragma once

#include <string>

#include "core/types.h"

namespace orvelo {

struct DriveCandidate {
    std::string label;         // the drive's name as the user sees it (UTF-8)
    u64 size_bytes = 0;        // the whole disk's size
    u32 disk_number = 0;       // the N of "\\.\PhysicalDrive{N}"
    u32 bytes_per_sector = 0;  // the logical sector size

    friend bool operator==(const DriveCandidate&, const DriveCandidate&) = default;
};

}  // namespace orvelo
