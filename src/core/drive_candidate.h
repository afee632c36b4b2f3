// One drive that may be written: made by drive discovery, copied into the job.
#pragma once

#include <optional>
#include <string>

#include "core/types.h"

namespace orvelo {

struct DriveCandidate {
    std::string label;         // the drive's name as the user sees it (UTF-8)
    u64 size_bytes = 0;        // the whole disk's size
    u32 disk_number = 0;       // the N of "\\.\PhysicalDrive{N}"
    u32 bytes_per_sector = 0;  // the logical sector size
    // What tells one medium from another where label, size and number belong to a card
    // reader: the device's serial number text (empty when it reports none), and how many times
    // its medium has changed since its driver started (none when it does not say).
    std::string serial_number = {};
    std::optional<u32> media_change_count = {};

    friend bool operator==(const DriveCandidate&, const DriveCandidate&) = default;
};

}  // namespace orvelo
