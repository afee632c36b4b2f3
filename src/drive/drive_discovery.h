// Drive discovery: finds the disks that may become an installer (on a USB, SD or MMC bus,
// answering the storage and geometry queries, with a size, and not the disk Windows runs from)
// and keeps the window's drop-down in step with them. Everything here runs on the window thread;
// the controls are reached through DriveControls so that the whole refresh runs against the fake
// OS in native tests.
#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/drive_candidate.h"
#include "core/spin_lock.h"
#include "core/types.h"
#include "drive/storage_requests.h"

namespace orvelo {

// Disks 0 to 31 are probed, every one of them: numbering may have gaps.
inline constexpr u32 DISK_NUMBER_LIMIT = 32;

// Poll ticks: a scan comes when the count before a tick's increment was at least this.
inline constexpr u32 REFRESH_TICKS_DUE = 8;
// A device change sets the count so that the scan comes on the third tick after it.
inline constexpr u32 DEVICE_CHANGE_TICKS = 6;

// The drop-down's list and its bookkeeping. `entries` is what the drop-down shows, item for
// item; only the window thread touches it, under `lock`, which is never held across a system
// call. `refresh_ticks` counts poll ticks since the last scan.
struct DriveListState {
    SpinLock lock;
    std::vector<DriveCandidate> entries;
    std::atomic<u32> refresh_ticks{0};
};

// The process's list.
extern DriveListState drive_list;

// The entry the window starts with: no scan can produce it (empty label, size 0), so the first
// scan always rewrites the controls.
[[nodiscard]] DriveCandidate placeholder_drive();

// Replaces the stored entries under the lock; the old ones are released.
void store_drive_list(DriveListState& state, std::vector<DriveCandidate> entries);

// A copy of the stored entries, taken under the lock.
[[nodiscard]] std::vector<DriveCandidate> copy_drive_list(DriveListState& state);

// The entry at `index`, when there is one.
[[nodiscard]] std::optional<DriveCandidate> drive_list_entry(DriveListState& state,
                                                             std::size_t index);

// The text at `offset` of a storage device descriptor: empty for offset 0 or an offset at or
// past the buffer's end; otherwise the bytes up to the first zero (or the buffer's end) decoded as
// UTF-8 with one U+FFFD for each maximal invalid subsequence, without White_Space at either end.
[[nodiscard]] std::string read_descriptor_text(std::span<const u8, DEVICE_DESCRIPTOR_BYTES> answer,
                                               u32 offset);

// `bytes` as UTF-8, each maximal subpart of an ill-formed sequence replaced by one U+FFFD.
[[nodiscard]] std::string decode_utf8_replacing(std::span<const u8> bytes);

// "{vendor} {product}", the one that is not empty, or "USB drive".
[[nodiscard]] std::string drive_label(std::string_view vendor, std::string_view product);

// The disk that holds the Windows directory; nothing when it cannot be found.
[[nodiscard]] std::optional<u32> find_system_disk();

// The candidate that the disk open on `disk` (as number `disk_number`) makes, from its answers
// to the descriptor and geometry queries, with the descriptor's serial number and the media
// change count where the device answers it; nothing when the descriptor or geometry query
// fails, the disk sits on another bus or has no size. The handle stays open.
[[nodiscard]] std::optional<DriveCandidate> describe_disk(os::Handle disk, u32 disk_number);

// The candidate for disk `disk_number`, or nothing when the disk is missing, fails a query,
// sits on another bus or has no size: describe_disk on a handle opened for its attributes only.
[[nodiscard]] std::optional<DriveCandidate> probe_disk(u32 disk_number);

// Probes every disk number below DISK_NUMBER_LIMIT but `system_disk`, in ascending order.
[[nodiscard]] std::vector<DriveCandidate> scan_drives(std::optional<u32> system_disk);

// What the drop-down, the status line and the Create button show for a list.
struct DriveListView {
    std::vector<std::string> items;  // one per entry, or the single "Insert a USB drive…"
    std::string_view status_text;
    std::size_t selected_index = 0;
    bool enabled = false;  // the drop-down and the Create button
};

// The view of `found`, keeping the drive that `shown_index` selects in `shown` when it is still
// there (wherever it moved), else selecting the first item.
[[nodiscard]] DriveListView drive_list_view(const std::vector<DriveCandidate>& shown,
                                            int shown_index,
                                            const std::vector<DriveCandidate>& found);

// The drop-down, the status line and the Create button, as the refresh drives them.
class DriveControls {
  public:
    virtual ~DriveControls() = default;
    // The drop-down's selected index; -1 for none.
    [[nodiscard]] virtual int selected_index() = 0;
    // Empties the drop-down, adds the items, selects one, enables or disables the drop-down and
    // the Create button, and sets the status line, in that order.
    virtual void show(const DriveListView& view) = 0;
};

// One scan. When the drives found differ from the stored list (same count and, entry by entry,
// the same disk number, size, sector size and label), the controls are rewritten and the list
// replaced; otherwise nothing is touched, the user's selection included.
void refresh_drive_list(DriveListState& state, DriveControls& controls);

// The poll tick while no job runs: counts the tick and tells whether a scan is due.
[[nodiscard]] bool count_refresh_tick(DriveListState& state);

// A device change: the scan comes a few ticks later, once per burst of changes.
void note_device_change(DriveListState& state);

}  // namespace orvelo
