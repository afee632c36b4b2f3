#include "cli/drive_from_path.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "cli/system_drives.h"
#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"

namespace orvelo::cli {

bool identity_of(int fd, const std::filesystem::path& root, DriveIdentity& identity) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !(S_ISBLK(info.st_mode) || S_ISREG(info.st_mode))) {
        return false;
    }
    identity = DriveIdentity{};
    if (S_ISREG(info.st_mode)) {
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        identity.size_bytes = static_cast<u64>(info.st_size);
        identity.bytes_per_sector = 512;
        return true;
    }
    int sector = 0;
    if (ioctl(fd, BLKGETSIZE64, &identity.size_bytes) != 0 || ioctl(fd, BLKSSZGET, &sector) != 0) {
        return false;
    }
    identity.block_device = true;
    identity.device = info.st_rdev;
    identity.bytes_per_sector = static_cast<u32>(sector);
    identity.label = block_device_label(root, major(info.st_rdev), minor(info.st_rdev));
    return true;
}

Result<PathDrive> drive_from_path(const std::string& path, bool any_disk,
                                  const std::filesystem::path& root) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !(S_ISBLK(info.st_mode) || S_ISREG(info.st_mode))) {
        return fail(format(msg::CANT_BE_READ, path));
    }
    if (S_ISBLK(info.st_mode)) {
        Status allowed =
            check_block_device(root, path, major(info.st_rdev), minor(info.st_rdev), any_disk);
        if (!allowed) {
            return fail(std::move(allowed.error()));
        }
    }
    // The identity is read on an open handle, as it will be when the drive is opened for
    // writing; opening for reading has no effect on a device.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(format(msg::CANT_BE_READ, path));
    }
    PathDrive picked;
    const bool known = identity_of(fd, root, picked.identity);
    close(fd);
    if (!known) {
        return fail(format(msg::CANT_BE_READ, path));
    }
    DriveCandidate& drive = picked.drive;
    drive.disk_number = CLI_DISK_NUMBER;
    drive.size_bytes = picked.identity.size_bytes;
    drive.bytes_per_sector = picked.identity.bytes_per_sector;
    drive.label = picked.identity.label;
    if (drive.label.empty()) {
        const std::string file_name = std::filesystem::path(path).filename().string();
        drive.label = is_valid_utf8(file_name) ? file_name : path;
    }
    return picked;
}

}  // namespace orvelo::cli
