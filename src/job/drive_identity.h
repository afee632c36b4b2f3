// Identify before destroying: the disk about to be written must still be the drive the user
// confirmed. The confirmation can be minutes old (the erase question, a long download), and a
// disk number is only a slot: a stick pulled meanwhile and another disk plugged in may take the
// same number. So the job asks again, as late as it can: once before it locks any volume, and
// once on the very handle it will write through.
#pragma once

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "os/file.h"

namespace orvelo {

// The two checks a front end runs on the confirmed drive. `before_locking` runs before any
// volume is locked or the disk opened for writing; `on_open_disk`, when not null, on the disk
// handle opened for writing, before anything is written. Each gives nothing or the failure.
struct DriveIdentityChecks {
    Status (*before_locking)(const DriveCandidate& confirmed);
    Status (*on_open_disk)(os::Handle disk, const DriveCandidate& confirmed);
};

// Discovery's own queries: the disk number is probed again exactly as a scan probes it, and it
// must be a disk that a scan would list (on a USB, SD or MMC bus, not the system disk) with the
// confirmed label, size, sector size, serial number and media change count. In a card reader
// the label, the size and the number belong to the reader: another card of the same capacity
// differs only in its serial number and in the reader's media change count. A device that
// reports neither is compared on the rest, as before. Otherwise "{label} was unplugged or
// replaced. Pick the drive again." with the confirmed label.
[[nodiscard]] Status confirm_listed_drive(const DriveCandidate& confirmed);

// The same on the disk handle opened for writing: its descriptor, geometry and media change
// count answers must describe the confirmed drive.
[[nodiscard]] Status confirm_opened_drive(os::Handle disk, const DriveCandidate& confirmed);

inline constexpr DriveIdentityChecks DISCOVERY_IDENTITY_CHECKS{confirm_listed_drive,
                                                               confirm_opened_drive};

// The checks the job runs: discovery's unless a front end that names drives otherwise (by a
// path) installed its own before starting the job.
[[nodiscard]] const DriveIdentityChecks& drive_identity_checks();
void set_drive_identity_checks(const DriveIdentityChecks& checks);

}  // namespace orvelo
