#include "drive/linux/system_drives.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include <sys/stat.h>

#include "core/format.h"
#include "core/messages.h"
#include "core/terminal_text.h"
#include "core/text.h"

namespace orvelo::linux_drive {
namespace {

namespace fs = std::filesystem;

// Layers of device-mapper or md over each other are few; the bound only stops a looped tree.
constexpr int MAX_LAYERS = 16;

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

bool is_system_point(std::string_view point) {
    return point == "/" || point == "/boot" || point == "/boot/efi" || point == "/usr";
}

}  // namespace

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
    // /proc/swaps: a header line, then "FILENAME TYPE SIZE USED PRIORITY". A swap file is on
    // the disk of the file system that holds it: the mount with the longest matching point.
    std::istringstream in(read_file_text(root / "proc/swaps"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = fields_of(line);
        if (fields.size() < 2) {
            continue;
        }
        std::optional<fs::path> folder;
        if (fields[1] == "file") {
            const Mount* holder = nullptr;
            for (const Mount& mount : all) {
                if (is_under(fields[0], mount.point) &&
                    (holder == nullptr || mount.point.size() >= holder->point.size())) {
                    holder = &mount;
                }
            }
            if (holder != nullptr) {
                folder = folder_of_mount(root, *holder);
            }
        } else {
            folder = folder_of_node(root, fields[0]);
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
    const auto folder =
        device_folder(root, std::to_string(device_major) + ":" + std::to_string(device_minor));
    return folder ? label_in(*folder) : std::string();
}

Status check_block_device(const fs::path& root, const std::string& path, unsigned device_major,
                          unsigned device_minor, bool any_disk) {
    const auto folder =
        device_folder(root, std::to_string(device_major) + ":" + std::to_string(device_minor));
    if (!folder) {
        // Unknown to sysfs: only its own number can tie it to the system's mounts.
        const std::string number =
            std::to_string(device_major) + ":" + std::to_string(device_minor);
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
    if (!any_disk && !disk.offered()) {
        return fail(format(msg::NOT_REMOVABLE, path));
    }
    if (disk.size_bytes == 0) {
        return fail(format(msg::NO_MEDIUM, path));
    }
    return check_device_tree(root, *folder, path);
}

namespace {

// The devices that a write of the target reaches or disturbs, found from its sysfs folder.
class DeviceTree {
  public:
    DeviceTree(const fs::path& root, const fs::path& target) : root_(root) {
        add_beneath(target, 0);
        const std::vector<fs::path> chain = beneath_;
        for (const fs::path& device : chain) {
            // A partition's disk holds other partitions that a write of this one leaves alone.
            if (std::find(partition_disks_.begin(), partition_disks_.end(), device) ==
                partition_disks_.end()) {
                add_above(device, 0);
            }
        }
    }

    // The target and what it is built on: its backing devices, slaves, and a partition's disk.
    [[nodiscard]] const std::vector<fs::path>& beneath() const { return beneath_; }
    // Partitions on any of those, then what is built on any device found (holders and loop
    // devices over it), with their partitions; the target's own partitions among them.
    [[nodiscard]] const std::vector<fs::path>& above() const { return above_; }
    // Whether `device` was reached as a partition of a device on the tree, not built on one.
    [[nodiscard]] bool is_partition(const fs::path& device) const {
        return fs::exists(device / "partition");
    }

  private:
    bool seen(const fs::path& device) const {
        return std::find(beneath_.begin(), beneath_.end(), device) != beneath_.end() ||
               std::find(above_.begin(), above_.end(), device) != above_.end();
    }

    void add_beneath(const fs::path& device, int depth) {
        if (depth > MAX_LAYERS || seen(device)) {
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
        // A loop device over a block device; one over a regular file ends here.
        const std::string backing = attribute(device / "loop/backing_file");
        if (!backing.empty()) {
            if (const auto lower = folder_of_node(root_, backing)) {
                add_beneath(*lower, depth + 1);
            }
        }
    }

    void add_above(const fs::path& device, int depth) {
        if (depth > MAX_LAYERS) {
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
        for (const auto& entry : fs::directory_iterator(root_ / "sys/block", error)) {
            const std::string backing = attribute(entry.path() / "loop/backing_file");
            if (backing.empty()) {
                continue;
            }
            const auto lower = folder_of_node(root_, backing);
            const auto loop = resolved_path(entry.path());
            if (lower && loop && *lower == device) {
                upper.push_back(*loop);
            }
        }
        for (const fs::path& found : upper) {
            if (!seen(found)) {
                above_.push_back(found);
                add_above(found, depth + 1);
            }
        }
    }

    fs::path root_;
    std::vector<fs::path> beneath_;
    std::vector<fs::path> above_;
    std::vector<fs::path> partition_disks_;
};

std::string node_of(const fs::path& device) {
    return "/dev/" + device.filename().string();
}

}  // namespace

Status check_device_tree(const fs::path& root, const fs::path& folder, const std::string& path) {
    const DeviceTree tree(root, folder);
    std::vector<fs::path> all = tree.beneath();
    all.insert(all.end(), tree.above().begin(), tree.above().end());

    // An active swap area on the tree is named as such, though it also counts among the
    // system's disks.
    std::istringstream swaps(read_file_text(root / "proc/swaps"));
    std::string line;
    std::getline(swaps, line);
    while (std::getline(swaps, line)) {
        const std::vector<std::string> fields = fields_of(line);
        const auto device = fields.empty() ? std::nullopt : folder_of_node(root, fields[0]);
        if (device && std::find(all.begin(), all.end(), *device) != all.end()) {
            return fail(format(msg::IN_USE_SWAP, path, node_of(*device)));
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
    const std::vector<Mount> mounted = mounts(root);
    for (const Mount& mount : mounted) {
        const auto device = folder_of_mount(root, mount);
        if (device && std::find(all.begin(), all.end(), *device) != all.end()) {
            return fail(
                format(msg::IN_USE_MOUNTED, path, node_of(*device), visible_field(mount.point)));
        }
    }
    for (const fs::path& device : tree.above()) {
        if (!tree.is_partition(device)) {
            return fail(format(msg::IN_USE_HELD, path, node_of(device)));
        }
    }
    return {};
}

std::string loop_device_backed_by(const fs::path& root, u64 device, u64 inode) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / "sys/block", error)) {
        const std::string backing = attribute(entry.path() / "loop/backing_file");
        struct stat info {};
        if (!backing.empty() && stat(backing.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_dev == device && info.st_ino == inode) {
            return "/dev/" + entry.path().filename().string();
        }
    }
    return {};
}

}  // namespace orvelo::linux_drive
