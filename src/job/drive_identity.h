// Identify before destroying: the disk about to be written must still be the drive the user
// confirmed. The confirmation can be minutes old (the erase question, a long download), and a
// disk number is only a slot: a stick pulled meanwhile and another disk plugged in may take the
// same number. So the job asks again, as late as it can: once before it locks any volume, and
// once on the very handle it will write through.
#pragma once

#include <functional>

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "core/messages.h"
#include "os/file.h"

namespace orvelo {

// The two checks a front end runs on the confirmed drive. `before_locking` runs before any
// volume is locked or the disk opened for writing; `on_open_disk`, when not null, on the disk
// handle opened for writing, before anything is written. Each gives nothing or the failure.
// A front end's checks carry what it confirmed with them.
struct DriveIdentityChecks {
    std::function<Status(const DriveCandidate& confirmed)> before_locking;
    std::function<Status(os::Handle disk, const DriveCandidate& confirmed)> on_open_disk;
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

inline const DriveIdentityChecks DISCOVERY_IDENTITY_CHECKS{confirm_listed_drive,
                                                           confirm_opened_drive};

// The texts of the drive's failures that name the system's own state, in the front end's
// words: a drive that is held by something else, and a disk that the system did not open.
struct DriveTexts {
    msg::Text in_use;      // drive label
    msg::Text not_opened;  // drive label; the system's text
};

inline constexpr DriveTexts WINDOWS_DRIVE_TEXTS{msg::DRIVE_IN_USE, msg::DRIVE_NOT_OPENED};

// What the front end that confirmed the drive hands the job about it: how to tell that the disk
// about to be written is still that drive, and how to word the drive's failures. The window
// names drives by discovery's disk numbers; a front end that names them otherwise (by a path)
// brings its own checks.
struct DriveAccess {
    DriveIdentityChecks checks = DISCOVERY_IDENTITY_CHECKS;
    DriveTexts texts = WINDOWS_DRIVE_TEXTS;
};

}  // namespace orvelo
