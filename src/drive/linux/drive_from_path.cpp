#include "drive/linux/drive_from_path.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <optional>

#include "core/format.h"
#include "core/messages.h"
#include "core/terminal_text.h"
#include "core/text.h"
#include "drive/linux/system_drives.h"

#ifndef BLKGETDISKSEQ
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)  // Linux 5.15
#endif

namespace orvelo::linux_drive {
namespace {

namespace fs = std::filesystem;

// The kernel's own bound on links followed in one lookup.
constexpr int MAX_LINKS = 40;

std::string magic_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The path the descriptor `fd` leads to now, as the kernel names it.
std::optional<std::string> path_of(int fd) {
    std::string target(4096, '\0');
    const ssize_t length = readlink(magic_path(fd).c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(length));
    return target;
}

// Whether a link that belongs to `owner` may choose what is written: root's and the running
// user's own links, and under sudo those of the account that ran it.
bool trusted_link_owner(uid_t owner) {
    if (owner == 0 || owner == geteuid() || owner == getuid()) {
        return true;
    }
    const char* sudo_uid = std::getenv("SUDO_UID");
    if (geteuid() != 0 || sudo_uid == nullptr || *sudo_uid == 0) {
        return false;
    }
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(sudo_uid, &end, 10);
    return *end == 0 && parsed == owner;
}

std::string account_name(uid_t owner) {
    if (const passwd* entry = getpwuid(owner); entry != nullptr && entry->pw_name != nullptr) {
        return visible_field(entry->pw_name);
    }
    return format(msg::ACCOUNT_NUMBER, owner);
}

std::deque<std::string> components_of(std::string_view path) {
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

// Walks `path` component by component with no link followed by the system, and gives the open
// (O_PATH) descriptor of what it names. A link is read and followed here when its owner may
// choose (trusted_link_owner); otherwise the walk stops with the text that names the link.
Result<Descriptor> open_resolved(const std::string& path) {
    const std::string shown = visible_field(path);
    Descriptor at(open(path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!at.valid()) {
        return fail(format(msg::CANT_BE_READ, shown));
    }
    std::deque<std::string> left = components_of(path);
    // The path to what `at` holds, as the user would write it, for the text that names a link.
    std::string walked = path.starts_with('/') ? "/" : "";
    int links = 0;
    while (!left.empty()) {
        const std::string part = std::move(left.front());
        left.pop_front();
        if (part == ".") {
            continue;
        }
        Descriptor next(openat(at.get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!next.valid() || fstat(next.get(), &info) != 0) {
            return fail(format(msg::CANT_BE_READ, shown));
        }
        const std::string parent = walked;
        walked += (walked.empty() || walked.ends_with('/') ? "" : "/") + part;
        if (!S_ISLNK(info.st_mode)) {
            at = std::move(next);
            continue;
        }
        if (!trusted_link_owner(info.st_uid)) {
            return fail(format(msg::LINK_OF_OTHER_ACCOUNT, visible_field(walked),
                               account_name(info.st_uid)));
        }
        std::string target(4096, '\0');
        const ssize_t length = readlinkat(next.get(), "", target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size() ||
            ++links > MAX_LINKS) {
            return fail(format(msg::CANT_BE_READ, shown));
        }
        target.resize(static_cast<std::size_t>(length));
        std::deque<std::string> parts = components_of(target);
        left.insert(left.begin(), parts.begin(), parts.end());
        walked = target.starts_with('/') ? "/" : parent;
        if (target.starts_with('/')) {
            at = Descriptor(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!at.valid()) {
                return fail(format(msg::CANT_BE_READ, shown));
            }
        }
    }
    return at;
}

// Opens the file behind an O_PATH descriptor for reading, without a second lookup by name.
Descriptor reopen_for_reading(int fd) {
    return Descriptor(open(magic_path(fd).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

std::optional<std::string> drive_file_in_use(const fs::path& root, const PathDrive& drive) {
    const std::string loop =
        loop_device_backed_by(root, drive.identity.device, drive.identity.inode);
    if (!loop.empty()) {
        return format(msg::IN_USE_LOOP, drive.real_path, loop);
    }
    // The kernel refuses writers to a file that is an active swap file or a running program.
    const int writer =
        open(magic_path(drive.handle.get()).c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (writer < 0 && (errno == ETXTBSY || errno == EBUSY)) {
        return format(msg::IN_USE_LINUX, drive.real_path);
    }
    if (writer >= 0) {
        close(writer);
    }
    return std::nullopt;
}

}  // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

Descriptor::~Descriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string PathDrive::reopen_path() const {
    return magic_path(handle.get());
}

bool identity_of(int fd, const fs::path& root, DriveIdentity& identity) {
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
    // Kernels before 5.15 have no sequence number: the identity is then what they can tell.
    __u64 sequence = 0;
    if (ioctl(fd, BLKGETDISKSEQ, &sequence) == 0) {
        identity.disk_sequence = sequence;
    }
    identity.block_device = true;
    identity.device = info.st_rdev;
    identity.bytes_per_sector = static_cast<u32>(sector);
    identity.label = block_device_label(root, major(info.st_rdev), minor(info.st_rdev));
    return true;
}

Result<PathDrive> drive_from_path(const std::string& path, bool any_disk, const fs::path& root) {
    Result<Descriptor> resolved = open_resolved(path);
    if (!resolved) {
        return fail(std::move(resolved.error()));
    }
    PathDrive picked;
    picked.handle = std::move(*resolved);
    const std::optional<std::string> real_path = path_of(picked.handle.get());
    struct stat info {};
    if (!real_path || fstat(picked.handle.get(), &info) != 0 ||
        !(S_ISBLK(info.st_mode) || S_ISREG(info.st_mode))) {
        return fail(format(msg::CANT_BE_READ, visible_field(path)));
    }
    picked.real_path = visible_field(*real_path);
    picked.is_file = S_ISREG(info.st_mode);
    if (!picked.is_file) {
        Status allowed = check_block_device(root, picked.real_path, major(info.st_rdev),
                                            minor(info.st_rdev), any_disk);
        if (!allowed) {
            return fail(std::move(allowed.error()));
        }
    }
    // The identity is read on an open handle, as it will be when the drive is opened for
    // writing; opening for reading has no effect on a device.
    const Descriptor reader = reopen_for_reading(picked.handle.get());
    if (!reader.valid() || !identity_of(reader.get(), root, picked.identity)) {
        return fail(format(msg::CANT_BE_READ, picked.real_path));
    }
    if (picked.is_file) {
        if (const auto in_use = drive_file_in_use(root, picked)) {
            return fail(*in_use);
        }
    }
    DriveCandidate& drive = picked.drive;
    drive.disk_number = CLI_DISK_NUMBER;
    drive.size_bytes = picked.identity.size_bytes;
    drive.bytes_per_sector = picked.identity.bytes_per_sector;
    picked.device_label = picked.identity.label;
    drive.label = picked.device_label.empty()
                      ? picked.real_path
                      : format(msg::LABEL_AND_PATH, picked.device_label, picked.real_path);
    return picked;
}

Status confirm_path_drive(const PathDrive& confirmed, bool any_disk, const fs::path& root) {
    const Status replaced = fail(format(msg::DRIVE_REPLACED, confirmed.drive.label));
    struct stat info {};
    // A drive file renamed over or deleted since has no name left: what its name shows now is
    // not what the user confirmed.
    if (fstat(confirmed.handle.get(), &info) != 0 || (confirmed.is_file && info.st_nlink == 0)) {
        return replaced;
    }
    DriveIdentity now;
    const Descriptor reader = reopen_for_reading(confirmed.handle.get());
    if (!reader.valid() || !identity_of(reader.get(), root, now) || now != confirmed.identity) {
        return replaced;
    }
    if (confirmed.is_file) {
        if (const auto in_use = drive_file_in_use(root, confirmed)) {
            return fail(*in_use);
        }
        return {};
    }
    return check_block_device(root, confirmed.real_path, major(info.st_rdev), minor(info.st_rdev),
                              any_disk);
}

}  // namespace orvelo::linux_drive
