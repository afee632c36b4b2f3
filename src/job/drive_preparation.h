// Taking the chosen disk away from the system before anything is written: every volume on it
// opened, locked and dismounted, the disk opened for unbuffered write-through access and tested
// for write protection, and the transfer buffer made.
#pragma once

#include <vector>

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "drive/raw_drive.h"

namespace orvelo {

// The drive must use 512-byte sectors; any other size is refused before anything is touched.
[[nodiscard]] Status check_sector_size(const DriveCandidate& drive);

// Locks and dismounts every volume whose first extent lies on `disk_number`, giving the open
// handles in the order they were locked. A volume that refuses the lock releases every lock
// taken so far and fails the whole step; volumes that cannot be opened or asked are skipped.
[[nodiscard]] Result<std::vector<os::Handle>> lock_disk_volumes(u32 disk_number,
                                                                std::string_view label);

struct PreparedDrive {
    RawDrive drive;
    TransferBuffer buffer;
};

// lock_disk_volumes, then the disk opened, found to be the confirmed drive still (the installed
// on_open_disk check) and writable, then the buffer. On failure, everything taken so far is
// released again.
[[nodiscard]] Result<PreparedDrive> prepare_drive(const DriveCandidate& drive);

}  // namespace orvelo
