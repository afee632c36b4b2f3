// The machine's disks as the Linux front end offers them: whole disks on a USB or MMC host, or
// marked removable, never one that holds the running system. Everything is read from sysfs,
// /proc/self/mountinfo and /proc/swaps under one root: "/" in the program, a folder of its own in
// a test that lays out a machine.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/drive_candidate.h"
#include "core/error_text.h"
#include "drive/linux/descriptor.h"

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

// Block devices that are no USB stick or card however the system marks them, and that `orvelo
// list` never offers: floppy drives ("fd0"), network block devices ("nbd0") and raw flash
// ("mtdblock0"). With --any-disk they are written like any other disk.
[[nodiscard]] bool is_never_offered(std::string_view name);

// Every whole disk under `root`'s sys/block, by name, with the system disks marked.
[[nodiscard]] std::vector<SystemDisk> system_disks(const std::filesystem::path& root);

// The names of the whole disks that hold /, /boot, /boot/efi, /usr or an active swap area,
// through partitions, device-mapper and md layers down to the disks beneath.
[[nodiscard]] std::set<std::string> system_disk_names(const std::filesystem::path& root);

// The sysfs label of the block device with this number (as in "8:16"), or empty when sysfs
// knows no such device.
[[nodiscard]] std::string block_device_label(const std::filesystem::path& root,
                                             unsigned device_major, unsigned device_minor);

// The bus of the block device with this number as SystemDisk has it ("USB", "SD", "MMC",
// "removable"), or empty.
[[nodiscard]] std::string block_device_bus(const std::filesystem::path& root, unsigned device_major,
                                           unsigned device_minor);

// Whether the block device `path` (device number major:minor) may be written: a whole disk
// that is offered, or with `any_disk` any whole disk that does not hold the system, and in
// either case one that nothing uses (check_device_tree, which `claims` is handed to). An empty
// card reader has no medium in it. Otherwise the text that refuses it, naming `path`.
[[nodiscard]] Status check_block_device(const std::filesystem::path& root, const std::string& path,
                                        unsigned device_major, unsigned device_minor, bool any_disk,
                                        std::vector<Descriptor>* claims = nullptr);

// What a loop device reads, as the kernel says: its backing's numbers from LOOP_GET_STATUS64,
// whatever the backing was called, where its node was made, or whether its name still exists.
// Where the loop device cannot be asked (a user who may not open it), its sysfs name is
// followed only while it leads to a block device or a regular file; otherwise the backing is
// untraceable. On a machine laid out by a test, the names are all there is.
struct LoopBacking {
    enum class Kind { Untraceable, Block, File };
    std::filesystem::path loop;  // the loop device's sysfs folder
    Kind kind = Kind::Untraceable;
    std::filesystem::path lower;  // Block: the backing device's sysfs folder
    u64 device = 0;               // Block: its device number; File: its file system's device
    u64 inode = 0;                // File: its inode number
    std::string name;             // the backing's name as sysfs gives it, escaped, for texts

    // Whether both read the same regular file.
    [[nodiscard]] bool same_file(const LoopBacking& other) const;
};

// Every attached loop device under `root` with its backing: the one scan of them.
[[nodiscard]] std::vector<LoopBacking> loop_backings(const std::filesystem::path& root);

// Whether anything uses the block device at `folder` (its sysfs folder) or what it is built on.
// The tree runs down from it through loop devices' backings, device-mapper and md slaves and
// partitions' disks, and up through holders, partitions and loop devices backed by any device
// on it; a loop device over a regular file ends the tree there, and every other loop device
// over that same file is above. The target is refused when the tree can't be traced (a backing
// the kernel does not name, or more than 16 layers), or when a device on it belongs to a disk
// that holds the running system ("{path} holds the running system."), is mounted, is an active
// swap area, or, above the target, is built on it; when a file on it is an active swap file or
// mounted as it is; each with a text that names what it found.
//
// With `claims`, on the running machine, each device beneath the target (but a partition's
// disk) is then opened with O_EXCL, the kernel's word on what no file of this namespace shows,
// and the descriptors are added to `claims`; EBUSY refuses the target, unless only the tree's
// own device-mapper or md layers hold that device.
[[nodiscard]] Status check_device_tree(const std::filesystem::path& root,
                                       const std::filesystem::path& folder, const std::string& path,
                                       std::vector<Descriptor>* claims = nullptr);

// What uses the regular file with these device and inode numbers, as a text naming `path`: a
// loop device reading it, an active swap area in it, or a file system mounted from it.
[[nodiscard]] std::optional<std::string> file_in_use(const std::filesystem::path& root,
                                                     const std::string& path, u64 device,
                                                     u64 inode);

}  // namespace orvelo::linux_drive
