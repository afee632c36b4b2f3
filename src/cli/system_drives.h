// The machine's disks as the Linux front end offers them: whole disks on a USB or MMC host, or
// marked removable, never one that holds the running system. Everything is read from sysfs,
// /proc/self/mountinfo and /proc/swaps under one root (system_root()), so that a test can lay
// out a machine of its own.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/drive_candidate.h"
#include "core/error_text.h"

namespace orvelo::cli {

// ORVELO_SYSTEM_ROOT when it is set and not empty, else "/".
[[nodiscard]] std::filesystem::path system_root();

// One whole disk of sysfs's block class.
struct SystemDisk {
    std::string name;          // the kernel's name: "sdb", "mmcblk0", "nvme0n1"
    std::string device_path;   // "/dev/{name}"
    std::string bus;           // "USB", "SD", "MMC", "removable", or empty for a fixed disk
    std::string label;         // "{vendor} {model}", the one present, the card's name, or `name`
    u64 size_bytes = 0;        // sysfs's size, which counts 512-byte units whatever the sectors
    u32 bytes_per_sector = 0;  // the logical block size
    bool holds_system = false;

    // What `orvelo list` shows and `--drive` takes without --any-disk.
    [[nodiscard]] bool offered() const { return !bus.empty() && size_bytes != 0 && !holds_system; }
};

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
// that is offered, or with `any_disk` any whole disk that does not hold the system. Otherwise
// the text that refuses it, naming `path`.
[[nodiscard]] Status check_block_device(const std::filesystem::path& root, const std::string& path,
                                        unsigned device_major, unsigned device_minor,
                                        bool any_disk);

}  // namespace orvelo::cli
