#include "cli/drive_from_path.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"

namespace orvelo::cli {
namespace {

std::string sysfs_text(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!is_valid_utf8(text)) {
        return {};
    }
    return std::string(trim_white_space(text));
}

// "{vendor} {model}" from the device's sysfs entry, the one present, or nothing.
std::string device_label(dev_t device) {
    std::error_code error;
    const auto block = std::filesystem::canonical(
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)),
        error);
    if (error) {
        return {};
    }
    const std::string vendor = sysfs_text(block / "device" / "vendor");
    const std::string model = sysfs_text(block / "device" / "model");
    if (!vendor.empty() && !model.empty()) {
        return format(msg::VENDOR_PRODUCT_LABEL, vendor, model);
    }
    return vendor.empty() ? model : vendor;
}

}  // namespace

Result<DriveCandidate> drive_from_path(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !(S_ISBLK(info.st_mode) || S_ISREG(info.st_mode))) {
        return fail(format(msg::CANT_BE_READ, path));
    }
    DriveCandidate drive;
    drive.disk_number = CLI_DISK_NUMBER;
    const std::string file_name = std::filesystem::path(path).filename().string();
    drive.label = is_valid_utf8(file_name) ? file_name : path;
    if (S_ISREG(info.st_mode)) {
        drive.size_bytes = static_cast<u64>(info.st_size);
        drive.bytes_per_sector = 512;
        return drive;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail(format(msg::CANT_BE_READ, path));
    }
    u64 size = 0;
    int sector = 0;
    const bool known = ioctl(fd, BLKGETSIZE64, &size) == 0 && ioctl(fd, BLKSSZGET, &sector) == 0;
    close(fd);
    if (!known) {
        return fail(format(msg::CANT_BE_READ, path));
    }
    drive.size_bytes = size;
    drive.bytes_per_sector = static_cast<u32>(sector);
    if (std::string label = device_label(info.st_rdev); !label.empty()) {
        drive.label = std::move(label);
    }
    return drive;
}

}  // namespace orvelo::cli
