// The machine's disks as the Linux front end offers them: whole disks on a USB or MMC host, or
// marked removable, never one that holds the running system. Everything is read from sysfs,
// /proc/self/mountinfo and /proc/swaps under one root: "/" in the program, a folder of its own in
// a test that lays out a machine.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/drive_candidate.h"
#include "core/error_text.h"

namespace orvelo::linux_drive {

// One whole disk of sysfs's block class.
struct SystemDisk {
    std::string name;          // the kernel's name: "sdb", "mmcblk0", "nvme0n1"
    std::string device_path;   // "/dev/{name}"
    std::string bus;           // "USB", "SD", "MMC", "removable", or empty for a fixed disk
    std::string label;         // "{vendor} {model}", the one present, the card's name, or `name`,
                               // with control characters escaped (terminal_text.h)
    u64 size_bytes = 0;        // sysfs's size, which counts 512-byte units whatever the sectors
    u32 bytes_per_sector = 0;  // the logical block size
    bool holds_system = false;
    bool never_a_drive = false;  // see is_never_a_drive

    // What `orvelo list` shows and `--drive` takes without --any-disk.
    [[nodiscard]] bool offered() const {
        return !bus.empty() && size_bytes != 0 && !holds_system && !never_a_drive;
    }
};

// Block devices that no user means by a drive, and that are never written even with
// --any-disk: an eMMC's boot and RPMB areas ("mmcblk0boot0", "mmcblk0rpmb"), compressed swap in
// memory ("zram0") and RAM disks ("ram0").
[[nodiscard]] bool is_never_a_drive(std::string_view name);

// Every whole disk under `root`'s sys/block, by name, with the system disks marked.
[[nodiscard]] std::vector<SystemDisk> system_disks(const std::filesystem::path& root);

// The names of the whole disks that hold /, /boot, /boot/efi, /usr or an active swap area,
// through partitions, device-mapper and md layers down to the disks beneath.
[[nodiscard]] std::set<std::string> system_disk_names(const std::filesystem::path& root);

// The sysfs label of the block device with this number (as in "8:16"), or empty when sysfs
// knows no such device.
[[nodiscard]] std::string block_device_label(const std::filesystem::path& root,
                                             unsigned device_major, unsigned device_minor);

// Whether the block device `path` (device number major:minor) may be written: a whole disk
// that is offered, or with `any_disk` any whole disk that does not hold the system, and in
// either case one that nothing uses (check_device_tree). Otherwise the text that refuses it,
// naming `path`.
[[nodiscard]] Status check_block_device(const std::filesystem::path& root, const std::string& path,
                                        unsigned device_major, unsigned device_minor,
                                        bool any_disk);

// Whether anything uses the block device at `folder` (its sysfs folder) or what it is built on.
// The tree runs down from it through loop devices' backing devices, device-mapper and md slaves
// and partitions' disks, and up through holders, partitions and loop devices backed by any
// device on it. The target is refused when a device on that tree belongs to a disk that holds
// the running system ("{path} holds the running system."), is mounted, is an active swap area,
// or, above the target, is built on it; each with a text that names that device. A loop
// device backed by a regular file ends the tree there: that file is a drive file.
[[nodiscard]] Status check_device_tree(const std::filesystem::path& root,
                                       const std::filesystem::path& folder,
                                       const std::string& path);

// The loop device (its "/dev/" path) that the regular file with this device and inode number
// backs, or empty when none does.
[[nodiscard]] std::string loop_device_backed_by(const std::filesystem::path& root, u64 device,
                                                u64 inode);

}  // namespace orvelo::linux_drive
