#include "drive/linux/drive_from_path.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
        if (!next.valid() && errno == ENAMETOOLONG) {
            return fail(format(msg::PATH_TOO_LONG, shown));
        }
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
    return reopen(fd, O_RDONLY | O_NONBLOCK);
}

// The system's own words for an errno, for the failures that have no words of ours.
std::string system_text(int error) {
    return format(msg::SYSTEM_TEXT_AND_CODE, std::string(strerror(error)), static_cast<u64>(error));
}

// Claims the block device for the job: opened for writing with O_EXCL, which the kernel refuses
// while anything holds the device or one of its partitions (a file system mounted in any
// namespace, a swap area, a RAID or btrfs member, another job), and then lets nothing claim
// either until the descriptor is closed.
Result<Descriptor> claim_block_device(const fs::path& root, const PathDrive& picked) {
    const std::string& path = picked.real_path;
    Descriptor claim = reopen(picked.handle.get(), O_RDWR | O_EXCL | O_NONBLOCK);
    if (!claim.valid() && (errno == EACCES || errno == EPERM) && geteuid() != 0) {
        return fail(format(msg::NEEDS_ROOT, path));
    }
    if (!claim.valid() && (errno == EROFS || errno == EACCES)) {
        // A read-only device opens for reading only: the claim still says whether it is free.
        claim = reopen(picked.handle.get(), O_RDONLY | O_EXCL | O_NONBLOCK);
    }
    if (!claim.valid()) {
        const int error = errno;
        if (error == EBUSY) {
            return fail(format(msg::IN_USE_ELSEWHERE, path, path));
        }
        if (error == ENOMEDIUM || error == ENXIO) {
            return fail(format(msg::NO_MEDIUM, path));
        }
        return fail(format(msg::NOT_OPENED_LINUX, path, system_text(error)));
    }
    int read_only = 0;
    if ((fcntl(claim.get(), F_GETFL) & O_ACCMODE) == O_RDONLY ||
        (ioctl(claim.get(), BLKROGET, &read_only) == 0 && read_only != 0)) {
        // A stick or card has a lock switch to slide; any other device was made read-only.
        struct stat info {};
        const bool removable =
            fstat(claim.get(), &info) == 0 &&
            !block_device_bus(root, major(info.st_rdev), minor(info.st_rdev)).empty();
        return fail(removable ? format(msg::WRITE_PROTECTED, path)
                              : format(msg::READ_ONLY_LINUX, path));
    }
    return claim;
}

// What holds a drive file, in words; nothing when it is free.
std::optional<std::string> drive_file_in_use(const fs::path& root, const PathDrive& drive) {
    if (auto found =
            file_in_use(root, drive.real_path, drive.identity.device, drive.identity.inode)) {
        return found;
    }
    // The kernel refuses writers to a file that is an active swap file or a running program.
    const Descriptor writer = reopen(drive.handle.get(), O_WRONLY | O_NONBLOCK);
    if (!writer.valid() && (errno == ETXTBSY || errno == EBUSY)) {
        return format(msg::IN_USE_LINUX, drive.real_path);
    }
    return std::nullopt;
}

// What the machine shows of whoever holds the drive file, or the kernel's bare word that
// someone does.
std::string holder_of_file(const fs::path& root, const PathDrive& picked) {
    return file_in_use(root, picked.real_path, picked.identity.device, picked.identity.inode)
        .value_or(format(msg::IN_USE_LINUX, picked.real_path));
}

// Claims a drive file for the job: open for writing, locked against every other job (flock,
// which each job takes the same way), and free of other writers. A write lease is granted only
// while no other descriptor in the system has the file open for writing (a loop device
// attached to it, a virtual machine running from it, a program writing it, in any namespace),
// and never on an active swap file: it is taken and given back at once, as a question only.
Result<Descriptor> claim_drive_file(const fs::path& root, const PathDrive& picked) {
    const std::string& path = picked.real_path;
    Descriptor claim = reopen(picked.handle.get(), O_RDWR | O_NONBLOCK);
    if (!claim.valid()) {
        const int error = errno;
        if (error == ETXTBSY || error == EBUSY) {
            return fail(holder_of_file(root, picked));
        }
        if (error == EROFS) {
            return fail(format(msg::READ_ONLY_LINUX, path));
        }
        if (error == EACCES || error == EPERM) {
            return fail(format(msg::NO_WRITE_PERMISSION, path));
        }
        return fail(format(msg::NOT_OPENED_LINUX, path, system_text(error)));
    }
    // On an overlay file system the file's numbers are the overlay's, not those of the file
    // beneath that holds the bytes, which a loop device or a mount may use by another path.
    constexpr long OVERLAY_MAGIC = 0x794c7630;
    struct statfs file_system {};
    if (fstatfs(claim.get(), &file_system) == 0 && file_system.f_type == OVERLAY_MAGIC) {
        return fail(format(msg::UNTRACEABLE, path, msg::TRACE_OVERLAY));
    }
    if (flock(claim.get(), LOCK_EX | LOCK_NB) != 0) {
        return fail(format(msg::BEING_WRITTEN, path));
    }
    if (fcntl(claim.get(), F_SETLEASE, F_WRLCK) == 0) {
        (void)fcntl(claim.get(), F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN || errno == EBUSY) {
        return fail(holder_of_file(root, picked));
    }
    return claim;
}

}  // namespace

std::optional<std::string> path_now(const PathDrive& drive) {
    return path_of(drive.handle.get());
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
        return fail(
            format(real_path || errno != ENAMETOOLONG ? msg::CANT_BE_READ : msg::PATH_TOO_LONG,
                   visible_field(path)));
    }
    picked.real_path = visible_field(*real_path);
    picked.is_file = S_ISREG(info.st_mode);
    // Only the machine itself has devices to claim; a machine laid out by a test has its
    // sysfs alone.
    const bool live = root == "/";
    if (!picked.is_file) {
        Status allowed =
            check_block_device(root, picked.real_path, major(info.st_rdev), minor(info.st_rdev),
                               any_disk, live ? &picked.claims_beneath : nullptr);
        if (!allowed) {
            return fail(std::move(allowed.error()));
        }
        if (live) {
            Result<Descriptor> claim = claim_block_device(root, picked);
            if (!claim) {
                return fail(std::move(claim.error()));
            }
            picked.claim = std::move(*claim);
        }
    } else {
        // The file's numbers first: what uses it is found by them.
        picked.identity.device = info.st_dev;
        picked.identity.inode = info.st_ino;
        Result<Descriptor> claim = claim_drive_file(root, picked);
        if (!claim) {
            return fail(std::move(claim.error()));
        }
        picked.claim = std::move(*claim);
    }
    // The identity is read on an open handle, as it will be when the drive is opened for
    // writing; opening for reading has no effect on a device.
    const Descriptor reader = reopen_for_reading(picked.handle.get());
    if (!reader.valid() || !identity_of(reader.get(), root, picked.identity)) {
        return fail(format(msg::CANT_BE_READ, picked.real_path));
    }
    // The claim opened the file for writing, which the kernel refuses on a swap file; what
    // only reads it (a read-only loop device, a mount from the file) the numbers find.
    if (picked.is_file) {
        if (const auto in_use = file_in_use(root, picked.real_path, picked.identity.device,
                                            picked.identity.inode)) {
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
    // A drive file renamed, renamed over or deleted since is not where the user confirmed it:
    // what that name shows now is another file, and the success would name a path that is gone.
    const std::optional<std::string> now_at = path_of(confirmed.handle.get());
    if (fstat(confirmed.handle.get(), &info) != 0 || (confirmed.is_file && info.st_nlink == 0) ||
        !now_at || visible_field(*now_at) != confirmed.real_path) {
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
    // The claims taken with the confirmation still hold: the walk is asked again for what
    // they do not cover, a device built on the drive's tree since.
    return check_block_device(root, confirmed.real_path, major(info.st_rdev), minor(info.st_rdev),
                              any_disk);
}

}  // namespace orvelo::linux_drive
