// Taking the chosen disk away from the system before anything is written: every volume on it
// opened, locked and dismounted, the disk opened for unbuffered write-through access and tested
// for write protection, and the transfer buffer made.
#pragma once

#include <vector>

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "core/job_status.h"
#include "drive/raw_drive.h"
#include "job/drive_identity.h"

namespace orvelo {

// The drive must use 512-byte sectors; any other size is refused before anything is touched.
[[nodiscard]] Status check_sector_size(const DriveCandidate& drive);

// A refused lock is asked again at this interval until this much time has passed: a drive that
// was just plugged in is held for a few seconds by the shell, scanners and the indexer.
inline constexpr u32 LOCK_RETRY_INTERVAL_MS = 250;
inline constexpr u32 LOCK_PATIENCE_MS = 5000;

// Locks and dismounts every volume whose first extent lies on `disk_number`, giving the open
// handles in the order they were locked. Every volume is asked for its extents through a handle
// with no access, which touches no medium (an empty card-reader slot stays quiet); only the
// volumes of this disk are opened for reading and writing. A volume of the disk that another
// program holds (its open refused as in use, os::open_refused_as_in_use) or that still refuses
// the lock after LOCK_PATIENCE_MS fails the whole step with the in-use text of `texts`; one that
// cannot be opened so for another reason, with its not-opened text ("Windows did not open
// {label}: {system text}"); a stop requested between tries with "Stopped."; in every case every
// lock taken so far is released. Volumes that cannot be opened for the query or asked for their
// extents are skipped.
[[nodiscard]] Result<std::vector<os::Handle>> lock_disk_volumes(
    const JobStatus& status, u32 disk_number, std::string_view label,
    const DriveTexts& texts = WINDOWS_DRIVE_TEXTS);

struct PreparedDrive {
    RawDrive drive;
    TransferBuffer buffer;
};

// lock_disk_volumes, then the disk opened, found to be the confirmed drive still (the access's
// on_open_disk check) and writable, then the buffer. On failure, everything taken so far is
// released again.
[[nodiscard]] Result<PreparedDrive> prepare_drive(const JobStatus& status,
                                                  const DriveCandidate& drive,
                                                  const DriveAccess& access = {});

}  // namespace orvelo
