#include "drive/linux/system_drives.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "core/format.h"
#include "core/messages.h"
#include "core/terminal_text.h"
#include "core/text.h"

namespace orvelo::linux_drive {
namespace {

namespace fs = std::filesystem;

// Layers of loop devices, device-mapper or md over each other are few. A tree that goes deeper
// is refused, never taken on what part of it shows.
constexpr int MAX_LAYERS = 16;

// Whether `root` is the machine the program runs on, whose devices can be opened and asked,
// rather than a machine laid out by a test, which has only its sysfs and /proc files.
bool is_live(const fs::path& root) {
    return root == "/";
}

// A sysfs attribute or a /proc file: its whole text, or empty when it cannot be read.
std::string read_file_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A one-line attribute without its surrounding white space; empty unless it is valid UTF-8.
std::string attribute(const fs::path& file) {
    const std::string text = read_file_text(file);
    if (!is_valid_utf8(text)) {
        return {};
    }
    return std::string(trim_white_space(text));
}

std::optional<u64> number_attribute(const fs::path& file) {
    const std::string text = attribute(file);
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoull(text);
}

std::optional<fs::path> resolved_path(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    if (error) {
        return std::nullopt;
    }
    return resolved;
}

// The device's folder in sysfs for the number "major:minor".
std::optional<fs::path> device_folder(const fs::path& root, const std::string& number) {
    return resolved_path(root / "sys/dev/block" / number);
}

// The device's folder in sysfs for its major and minor numbers.
std::optional<fs::path> device_folder(const fs::path& root, unsigned device_major,
                                      unsigned device_minor) {
    return device_folder(root, std::to_string(device_major) + ":" + std::to_string(device_minor));
}

// The device number in a sysfs folder's "dev" attribute ("8:16").
std::optional<dev_t> number_of(const fs::path& folder) {
    const std::string text = attribute(folder / "dev");
    unsigned device_major = 0;
    unsigned device_minor = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%u:%u%c", &device_major, &device_minor, &end) != 2) {
        return std::nullopt;
    }
    return makedev(device_major, device_minor);
}

std::string number_text(dev_t number) {
    return std::to_string(major(number)) + ":" + std::to_string(minor(number));
}

// A node of the device at `folder` that the kernel confirms has its number, open without access
// (O_PATH): udev's "/dev/block/MAJOR:MINOR", then "/dev/NAME". Invalid when neither is.
Descriptor device_node(const fs::path& root, const fs::path& folder) {
    const std::optional<dev_t> number = number_of(folder);
    if (!number) {
        return {};
    }
    for (const fs::path& node :
         {root / "dev/block" / number_text(*number), root / "dev" / folder.filename()}) {
        Descriptor fd(open(node.c_str(), O_PATH | O_CLOEXEC));
        struct stat info {};
        if (fd.valid() && fstat(fd.get(), &info) == 0 && S_ISBLK(info.st_mode) &&
            info.st_rdev == *number) {
            return fd;
        }
    }
    return {};
}

// A card's name and a stick's vendor and model come from the device itself: whatever they hold
// is shown, never obeyed.
std::string label_in(const fs::path& folder) {
    const std::string vendor = attribute(folder / "device/vendor");
    const std::string model = attribute(folder / "device/model");
    if (!vendor.empty() && !model.empty()) {
        return visible_field(format(msg::VENDOR_PRODUCT_LABEL, vendor, model));
    }
    if (!vendor.empty() || !model.empty()) {
        return visible_field(vendor.empty() ? model : vendor);
    }
    return visible_field(attribute(folder / "device/name"));  // an SD or MMC card's own name
}

// The bus that makes a disk one the Windows program would offer: its path runs through a USB
// host ("usbN", the root hub) or an MMC host, or the disk is marked removable. Optical drives
// (SCSI type 5) are no drives to write.
std::string bus_of(const fs::path& folder) {
    const std::string type = attribute(folder / "device/type");
    if (type == "5") {
        return {};
    }
    for (const fs::path& part : folder) {
        const std::string piece = part.string();
        if (piece.size() > 3 && piece.starts_with("usb") &&
            std::all_of(piece.begin() + 3, piece.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return "USB";
        }
        if (piece == "mmc_host") {
            return type == "SD" ? "SD" : "MMC";
        }
    }
    return attribute(folder / "removable") == "1" ? "removable" : "";
}

SystemDisk describe(const fs::path& folder, const std::string& name) {
    SystemDisk disk;
    disk.name = name;
    disk.device_path = "/dev/" + name;
    disk.bus = bus_of(folder);
    disk.label = label_in(folder);
    if (disk.label.empty()) {
        disk.label = visible_field(name);
    }
    disk.never_a_drive = is_never_a_drive(name);
    if (is_never_offered(name)) {
        disk.bus.clear();
    }
    const std::optional<u64> units = number_attribute(folder / "size");
    disk.size_bytes = units && *units <= UINT64_MAX / 512 ? *units * 512 : 0;
    disk.bytes_per_sector =
        static_cast<u32>(number_attribute(folder / "queue/logical_block_size").value_or(512));
    return disk;
}

// Adds the whole disks beneath the device at `folder`: a partition's disk, and for a device
// built on others (device-mapper, md) the disks beneath each of those.
void add_disks_beneath(const fs::path& folder, std::set<std::string>& names, int depth) {
    if (depth > MAX_LAYERS) {
        return;
    }
    const fs::path whole = fs::exists(folder / "partition") ? folder.parent_path() : folder;
    names.insert(whole.filename().string());
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(whole / "slaves", error)) {
        if (const auto lower = resolved_path(entry.path())) {
            add_disks_beneath(*lower, names, depth + 1);
        }
    }
}

// The fields of a line split at single spaces, with the kernel's octal escapes (\040 for a
// space) decoded.
std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (in >> field) {
        std::string decoded;
        for (std::size_t i = 0; i < field.size(); ++i) {
            const auto octal = [&](std::size_t k) { return field[k] >= '0' && field[k] <= '7'; };
            if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] <= '3' && octal(i + 1) &&
                octal(i + 2) && octal(i + 3)) {
                decoded.push_back(static_cast<char>(
                    (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
                i += 3;
            } else {
                decoded.push_back(field[i]);
            }
        }
        fields.push_back(std::move(decoded));
    }
    return fields;
}

// The sysfs folder of a device named by its node: "/dev/sda2" by its name, "/dev/mapper/NAME"
// through device-mapper's names.
std::optional<fs::path> folder_of_node(const fs::path& root, const std::string& node) {
    constexpr std::string_view MAPPER = "/dev/mapper/";
    if (node.starts_with(MAPPER)) {
        const std::string wanted = node.substr(MAPPER.size());
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root / "sys/block", error)) {
            if (attribute(entry.path() / "dm/name") == wanted) {
                return resolved_path(entry.path());
            }
        }
        return std::nullopt;
    }
    if (!node.starts_with("/dev/")) {
        return std::nullopt;
    }
    return resolved_path(root / "sys/class/block" / fs::path(node).filename());
}

struct Mount {
    std::string number;  // "major:minor"; major 0 for file systems without one device (btrfs)
    std::string point;
    std::string source;
};

std::vector<Mount> mounts(const fs::path& root) {
    std::vector<Mount> found;
    std::istringstream in(read_file_text(root / "proc/self/mountinfo"));
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = fields_of(line);
        const auto separator = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 5 || separator == fields.end() || fields.end() - separator < 3) {
            continue;
        }
        found.push_back(Mount{fields[2], fields[4], *(separator + 2)});
    }
    return found;
}

std::optional<fs::path> folder_of_mount(const fs::path& root, const Mount& mount) {
    if (!mount.number.starts_with("0:")) {
        if (auto folder = device_folder(root, mount.number)) {
            return folder;
        }
    }
    return folder_of_node(root, mount.source);
}

bool is_under(const std::string& path, const std::string& folder) {
    return folder == "/" || path == folder ||
           (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// An active swap area as /proc/swaps names it: a header line, then "FILENAME TYPE SIZE USED
// PRIORITY".
struct Swap {
    std::string name;
    std::string type;  // "partition" or "file"
};

std::vector<Swap> swaps(const fs::path& root) {
    std::vector<Swap> found;
    std::istringstream in(read_file_text(root / "proc/swaps"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = fields_of(line);
        if (fields.size() >= 2) {
            found.push_back(Swap{fields[0], fields[1]});
        }
    }
    return found;
}

bool is_system_point(std::string_view point) {
    return point == "/" || point == "/boot" || point == "/boot/efi" || point == "/usr";
}

}  // namespace

bool is_never_offered(std::string_view name) {
    for (const std::string_view prefix : {"fd", "nbd", "mtdblock"}) {
        if (name.size() > prefix.size() && name.starts_with(prefix) &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return true;
        }
    }
    return false;
}

bool is_never_a_drive(std::string_view name) {
    // `text` starts with `prefix`, then digits, then ends or continues with what `rest` accepts.
    const auto numbered = [](std::string_view text, std::string_view prefix) -> std::size_t {
        if (!text.starts_with(prefix)) {
            return 0;
        }
        std::size_t end = prefix.size();
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
            ++end;
        }
        return end > prefix.size() ? end : 0;
    };
    if (const std::size_t end = numbered(name, "zram"); end == name.size() && end != 0) {
        return true;
    }
    if (const std::size_t end = numbered(name, "ram"); end == name.size() && end != 0) {
        return true;
    }
    const std::size_t card = numbered(name, "mmcblk");
    if (card == 0) {
        return false;
    }
    const std::string_view area = name.substr(card);
    const std::size_t boot = numbered(area, "boot");
    return area == "rpmb" || (boot != 0 && boot == area.size());
}

std::set<std::string> system_disk_names(const fs::path& root) {
    std::set<std::string> names;
    const std::vector<Mount> all = mounts(root);
    for (const Mount& mount : all) {
        if (!is_system_point(mount.point)) {
            continue;
        }
        if (const auto folder = folder_of_mount(root, mount)) {
            add_disks_beneath(*folder, names, 0);
        }
    }
    // A swap file is on the disk of the file system that holds it: the mount with the longest
    // matching point.
    for (const Swap& swap : swaps(root)) {
        std::optional<fs::path> folder;
        if (swap.type == "file") {
            const Mount* holder = nullptr;
            for (const Mount& mount : all) {
                if (is_under(swap.name, mount.point) &&
                    (holder == nullptr || mount.point.size() >= holder->point.size())) {
                    holder = &mount;
                }
            }
            if (holder != nullptr) {
                folder = folder_of_mount(root, *holder);
            }
        } else {
            folder = folder_of_node(root, swap.name);
        }
        if (folder) {
            add_disks_beneath(*folder, names, 0);
        }
    }
    return names;
}

std::vector<SystemDisk> system_disks(const fs::path& root) {
    const std::set<std::string> system = system_disk_names(root);
    std::vector<SystemDisk> disks;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / "sys/block", error)) {
        const std::optional<fs::path> folder = resolved_path(entry.path());
        if (!folder) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        if (!is_valid_utf8(name)) {
            continue;
        }
        SystemDisk disk = describe(*folder, name);
        disk.holds_system = system.contains(folder->filename().string());
        disks.push_back(std::move(disk));
    }
    std::sort(disks.begin(), disks.end(),
              [](const SystemDisk& a, const SystemDisk& b) { return a.name < b.name; });
    return disks;
}

std::string block_device_label(const fs::path& root, unsigned device_major, unsigned device_minor) {
    const auto folder = device_folder(root, device_major, device_minor);
    return folder ? label_in(*folder) : std::string();
}

std::string block_device_bus(const fs::path& root, unsigned device_major, unsigned device_minor) {
    const auto folder = device_folder(root, device_major, device_minor);
    return folder ? describe(*folder, folder->filename().string()).bus : std::string();
}

Status check_block_device(const fs::path& root, const std::string& path, unsigned device_major,
                          unsigned device_minor, bool any_disk, std::vector<Descriptor>* claims) {
    const auto folder = device_folder(root, device_major, device_minor);
    if (!folder) {
        // Unknown to sysfs: only its own number can tie it to the system's mounts.
        const std::string number = number_text(makedev(device_major, device_minor));
        for (const Mount& mount : mounts(root)) {
            if (mount.number == number && is_system_point(mount.point)) {
                return fail(format(msg::HOLDS_SYSTEM, path));
            }
        }
        if (any_disk) {
            return {};
        }
        return fail(format(msg::NOT_REMOVABLE, path));
    }
    if (fs::exists(*folder / "partition")) {
        return fail(format(msg::IS_PARTITION, path));
    }
    const std::string name = folder->filename().string();
    const SystemDisk disk = describe(*folder, name);
    if (disk.never_a_drive) {
        return fail(format(msg::NOT_A_DRIVE, path));
    }
    if (system_disk_names(root).contains(name)) {
        return fail(format(msg::HOLDS_SYSTEM, path));
    }
    // An empty card reader is a drive the user means, waiting for its card.
    if (disk.size_bytes == 0 && (any_disk || !disk.bus.empty())) {
        return fail(format(msg::NO_MEDIUM, path));
    }
    if (!any_disk && !disk.offered()) {
        return fail(format(msg::NOT_REMOVABLE, path));
    }
    return check_device_tree(root, *folder, path, claims);
}

std::vector<LoopBacking> loop_backings(const fs::path& root) {
    std::vector<LoopBacking> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / "sys/block", error)) {
        // The name is what the kernel made of the path when the file was attached; sysfs ends
        // it with a line feed. It may hold any byte, and end in a space or in " (deleted)".
        std::string name = read_file_text(entry.path() / "loop/backing_file");
        if (name.ends_with('\n')) {
            name.pop_back();
        }
        const std::optional<fs::path> loop = resolved_path(entry.path());
        if (name.empty() || !loop) {
            continue;  // not a loop device, or one with nothing attached
        }
        LoopBacking backing;
        backing.loop = *loop;
        backing.name = visible_field(name);
        const auto block_at = [&](dev_t number) {
            if (const auto lower = device_folder(root, number_text(number))) {
                backing.kind = LoopBacking::Kind::Block;
                backing.lower = *lower;
                backing.device = number;
            }
        };
        if (is_live(root)) {
            // The kernel's own answer: the backing's device and inode numbers, and for a block
            // device its device number, whatever its name and wherever its node was.
            const Descriptor node = device_node(root, *loop);
            const Descriptor reader =
                node.valid() ? reopen(node.get(), O_RDONLY | O_NONBLOCK) : Descriptor();
            loop_info64 info{};
            if (reader.valid() && ioctl(reader.get(), LOOP_GET_STATUS64, &info) == 0) {
                if (info.lo_rdevice != 0) {
                    block_at(static_cast<dev_t>(info.lo_rdevice));
                } else {
                    backing.kind = LoopBacking::Kind::File;
                    backing.device = info.lo_device;
                    backing.inode = info.lo_inode;
                }
                found.push_back(std::move(backing));
                continue;
            }
            if (reader.valid() && errno == ENXIO) {
                continue;  // detached since sysfs was read
            }
            // Without the kernel's answer (a user who may not open the loop device), the name
            // is followed only where it still leads to something.
            struct stat info_by_name {};
            if (!name.ends_with(" (deleted)") && stat(name.c_str(), &info_by_name) == 0) {
                if (S_ISBLK(info_by_name.st_mode)) {
                    block_at(info_by_name.st_rdev);
                } else if (S_ISREG(info_by_name.st_mode)) {
                    backing.kind = LoopBacking::Kind::File;
                    backing.device = info_by_name.st_dev;
                    backing.inode = info_by_name.st_ino;
                }
            }
        } else if (const auto lower = folder_of_node(root, name)) {
            // A laid-out machine has names only: "/dev/NAME" of one of its devices, or a file.
            backing.kind = LoopBacking::Kind::Block;
            backing.lower = *lower;
            backing.device = number_of(*lower).value_or(0);
        } else {
            backing.kind = LoopBacking::Kind::File;
        }
        found.push_back(std::move(backing));
    }
    return found;
}

bool LoopBacking::same_file(const LoopBacking& other) const {
    if (kind != Kind::File || other.kind != Kind::File) {
        return false;
    }
    if (inode == 0 || other.inode == 0) {
        return name == other.name;  // a laid-out machine's files have names only
    }
    return device == other.device && inode == other.inode;
}

namespace {

// The devices that a write of the target reaches or disturbs, found from its sysfs folder.
class DeviceTree {
  public:
    DeviceTree(const fs::path& root, const fs::path& target) : loops_(loop_backings(root)) {
        add_beneath(target, 0);
        const std::vector<fs::path> chain = beneath_;
        for (const fs::path& device : chain) {
            // A partition's disk holds other partitions that a write of this one leaves alone.
            if (std::find(partition_disks_.begin(), partition_disks_.end(), device) ==
                partition_disks_.end()) {
                add_above(device, 0);
            }
        }
        // Another loop device reading a file that the tree reads shares its storage.
        for (const LoopBacking* file : files_) {
            for (const LoopBacking& loop : loops_) {
                if (loop.same_file(*file) && !seen(loop.loop)) {
                    above_.push_back(loop.loop);
                    shares_file_.push_back(loop.loop);
                    add_above(loop.loop, 0);
                }
            }
        }
    }

    // The target and what it is built on: its backing devices, slaves, and a partition's disk.
    [[nodiscard]] const std::vector<fs::path>& beneath() const { return beneath_; }
    // Partitions on any of those, then what is built on any device found (holders and loop
    // devices over it), with their partitions; the target's own partitions among them.
    [[nodiscard]] const std::vector<fs::path>& above() const { return above_; }
    // The regular files that loop devices on the tree read.
    [[nodiscard]] const std::vector<const LoopBacking*>& files() const { return files_; }
    // A loop device on the tree whose backing the kernel did not name, if any.
    [[nodiscard]] const LoopBacking* untraced() const { return untraced_; }
    // Whether the tree went on beyond MAX_LAYERS.
    [[nodiscard]] bool too_deep() const { return too_deep_; }
    // Whether `device` was reached as a partition of a device on the tree, not built on one.
    [[nodiscard]] bool is_partition(const fs::path& device) const {
        return fs::exists(device / "partition");
    }
    // Whether `device` is a loop device over a file that a loop device beneath the target reads.
    [[nodiscard]] bool shares_file(const fs::path& device) const {
        return std::find(shares_file_.begin(), shares_file_.end(), device) != shares_file_.end();
    }
    // Whether `device` is the disk of a partition beneath the target, written only in part.
    [[nodiscard]] bool is_partition_disk(const fs::path& device) const {
        return std::find(partition_disks_.begin(), partition_disks_.end(), device) !=
               partition_disks_.end();
    }

  private:
    bool seen(const fs::path& device) const {
        return std::find(beneath_.begin(), beneath_.end(), device) != beneath_.end() ||
               std::find(above_.begin(), above_.end(), device) != above_.end();
    }

    void add_beneath(const fs::path& device, int depth) {
        if (depth > MAX_LAYERS) {
            too_deep_ = true;
            return;
        }
        if (seen(device)) {
            return;
        }
        beneath_.push_back(device);
        if (is_partition(device)) {
            partition_disks_.push_back(device.parent_path());
            add_beneath(device.parent_path(), depth + 1);
            return;  // a partition is built on its disk alone
        }
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(device / "slaves", error)) {
            if (const auto lower = resolved_path(entry.path())) {
                add_beneath(*lower, depth + 1);
            }
        }
        for (const LoopBacking& loop : loops_) {
            if (loop.loop != device) {
                continue;
            }
            if (loop.kind == LoopBacking::Kind::Block) {
                add_beneath(loop.lower, depth + 1);
            } else if (loop.kind == LoopBacking::Kind::File) {
                files_.push_back(&loop);  // a regular file ends the tree
            } else if (untraced_ == nullptr) {
                untraced_ = &loop;
            }
        }
    }

    void add_above(const fs::path& device, int depth) {
        if (depth > MAX_LAYERS) {
            too_deep_ = true;
            return;
        }
        std::vector<fs::path> upper;
        std::error_code error;
        if (!is_partition(device)) {
            for (const auto& entry : fs::directory_iterator(device, error)) {
                if (fs::exists(entry.path() / "partition")) {
                    upper.push_back(entry.path());
                }
            }
        }
        for (const auto& entry : fs::directory_iterator(device / "holders", error)) {
            if (const auto holder = resolved_path(entry.path())) {
                upper.push_back(*holder);
            }
        }
        for (const LoopBacking& loop : loops_) {
            if (loop.kind == LoopBacking::Kind::Block && loop.lower == device) {
                upper.push_back(loop.loop);
            }
        }
        for (const fs::path& found : upper) {
            if (!seen(found)) {
                above_.push_back(found);
                add_above(found, depth + 1);
            }
        }
    }

    std::vector<LoopBacking> loops_;
    std::vector<fs::path> beneath_;
    std::vector<fs::path> above_;
    std::vector<fs::path> partition_disks_;
    std::vector<const LoopBacking*> files_;
    std::vector<fs::path> shares_file_;
    const LoopBacking* untraced_ = nullptr;
    bool too_deep_ = false;
};

std::string node_of(const fs::path& device) {
    return "/dev/" + device.filename().string();
}

// The file that the absolute path `name` names on the running machine, when it is a regular
// file: its device and inode numbers.
std::optional<std::pair<u64, u64>> regular_file_at(const fs::path& root, const std::string& name) {
    struct stat info {};
    if (!is_live(root) || !name.starts_with('/') || name.ends_with(" (deleted)") ||
        stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return std::pair<u64, u64>(info.st_dev, info.st_ino);
}

// The sysfs folder of a swap area named in /proc/swaps: by the device number of its node where
// the machine is the running one, by its name otherwise.
std::optional<fs::path> folder_of_swap(const fs::path& root, const std::string& name) {
    struct stat info {};
    if (is_live(root) && stat(name.c_str(), &info) == 0 && S_ISBLK(info.st_mode)) {
        return device_folder(root, number_text(info.st_rdev));
    }
    return folder_of_node(root, name);
}

// Whether a device beneath the target that the kernel says is held is held only by the devices
// of the tree above it, as device-mapper and md hold what they are built on.
bool held_by_tree(const fs::path& device, const DeviceTree& tree) {
    std::error_code error;
    bool any = false;
    for (const auto& entry : fs::directory_iterator(device / "holders", error)) {
        const auto holder = resolved_path(entry.path());
        if (!holder || std::find(tree.beneath().begin(), tree.beneath().end(), *holder) ==
                           tree.beneath().end()) {
            return false;
        }
        any = true;
    }
    return any;
}

}  // namespace

Status check_device_tree(const fs::path& root, const fs::path& folder, const std::string& path,
                         std::vector<Descriptor>* claims) {
    const DeviceTree tree(root, folder);
    if (tree.too_deep()) {
        return fail(format(msg::UNTRACEABLE, path,
                           format(msg::TRACE_TOO_DEEP, static_cast<u64>(MAX_LAYERS))));
    }
    if (const LoopBacking* loop = tree.untraced()) {
        return fail(format(msg::UNTRACEABLE, path,
                           format(msg::TRACE_LOST_BACKING, node_of(loop->loop), loop->name)));
    }
    std::vector<fs::path> all = tree.beneath();
    all.insert(all.end(), tree.above().begin(), tree.above().end());
    const auto reads_file = [&](const std::string& name) {
        const auto file = regular_file_at(root, name);
        return file && std::any_of(tree.files().begin(), tree.files().end(),
                                   [&](const LoopBacking* backing) {
                                       return backing->device == file->first &&
                                              backing->inode == file->second;
                                   });
    };

    // An active swap area on the tree is named as such, though it also counts among the
    // system's disks; so is a swap file that a loop device on the tree reads.
    for (const Swap& swap : swaps(root)) {
        const std::string& name = swap.name;
        const auto device = folder_of_swap(root, name);
        if (device && std::find(all.begin(), all.end(), *device) != all.end()) {
            return fail(format(msg::IN_USE_SWAP, path, node_of(*device)));
        }
        if (reads_file(name)) {
            return fail(format(msg::IN_USE_SWAP, path, visible_field(name)));
        }
    }
    const std::set<std::string> system = system_disk_names(root);
    for (const fs::path& device : all) {
        const fs::path whole = tree.is_partition(device) ? device.parent_path() : device;
        if (system.contains(device.filename().string()) ||
            system.contains(whole.filename().string())) {
            return fail(format(msg::HOLDS_SYSTEM, path));
        }
    }
    for (const Mount& mount : mounts(root)) {
        const auto device = folder_of_mount(root, mount);
        if (device && std::find(all.begin(), all.end(), *device) != all.end()) {
            return fail(
                format(msg::IN_USE_MOUNTED, path, node_of(*device), visible_field(mount.point)));
        }
        // A file system mounted straight from a file that the tree reads.
        if (reads_file(mount.source)) {
            return fail(format(msg::IN_USE_MOUNTED, path, visible_field(mount.source),
                               visible_field(mount.point)));
        }
    }
    for (const fs::path& device : tree.above()) {
        if (tree.shares_file(device)) {
            return fail(format(msg::IN_USE_SHARED, path, node_of(device)));
        }
        if (!tree.is_partition(device)) {
            return fail(format(msg::IN_USE_HELD, path, node_of(device)));
        }
    }
    if (claims == nullptr || !is_live(root)) {
        return {};
    }
    // What the files of this namespace don't show, the kernel knows: a device opened with
    // O_EXCL fails with EBUSY while a file system (mounted in any namespace), a swap area, a
    // RAID or btrfs member or another program holds it. Each device beneath the target is
    // claimed so, and the claims are kept, so that nothing takes them while the job writes. The
    // disk of a partition is written only in part and stays open to its other partitions' use.
    for (const fs::path& device : tree.beneath()) {
        if (device == tree.beneath().front() || tree.is_partition_disk(device)) {
            continue;  // the target is claimed by its caller, for writing
        }
        const Descriptor node = device_node(root, device);
        Descriptor claim =
            node.valid() ? reopen(node.get(), O_RDONLY | O_EXCL | O_NONBLOCK) : Descriptor();
        if (claim.valid()) {
            claims->push_back(std::move(claim));
        } else if (node.valid() && errno == EBUSY && !held_by_tree(device, tree)) {
            return fail(format(msg::IN_USE_ELSEWHERE, path, node_of(device)));
        }
    }
    return {};
}

std::optional<std::string> file_in_use(const fs::path& root, const std::string& path, u64 device,
                                       u64 inode) {
    for (const LoopBacking& loop : loop_backings(root)) {
        if (loop.kind == LoopBacking::Kind::File && loop.device == device && loop.inode == inode) {
            return format(msg::IN_USE_LOOP, path, node_of(loop.loop));
        }
    }
    const auto is_this_file = [&](const std::string& name) {
        const auto file = regular_file_at(root, name);
        return file && file->first == device && file->second == inode;
    };
    for (const Swap& swap : swaps(root)) {
        if (is_this_file(swap.name)) {
            return format(msg::IN_USE_SWAP, path, path);
        }
    }
    for (const Mount& mount : mounts(root)) {
        if (is_this_file(mount.source)) {
            return format(msg::IN_USE_MOUNTED, path, path, visible_field(mount.point));
        }
    }
    return std::nullopt;
}

}  // namespace orvelo::linux_drive
