// The file and device seam on Linux. A disk is a registered block device or drive file; the
// Windows requests map onto their Linux counterparts:
//   no buffering, write-through  -> O_DIRECT (where the file system supports it), O_DSYNC
//   the disk's exclusive use     -> O_EXCL on a block device, which fails while a partition is
//                                   mounted or claimed
//   locking a volume             -> a probe: the partition opens with O_EXCL (is not in use)
//   writable test                -> BLKROGET
//   re-reading the partitions    -> BLKRRPART
//   not following reparse points -> O_NOFOLLOW | O_NONBLOCK (no link at the last component; a
//                                   FIFO does not block the open), and a folder opened so must
//                                   belong to the effective user and be writable by nobody
//                                   else: otherwise another account could swap its entries,
//                                   which is what a junction does on Windows (EPERM)
//   opens inside a folder        -> openat() relative to the folder's descriptor
//   final path                   -> the link /proc/self/fd/N
// A failing function leaves errno as the thread's last error code.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/unicode.h"
#include "os/file.h"
#include "os/posix/storage_posix.h"
#include "os/posix/system_posix.h"

namespace orvelo::os {
namespace {

constexpr std::string_view DISK_PREFIX = "\\\\.\\PhysicalDrive";
constexpr std::string_view VOLUME_PREFIX = "\\\\?\\Volume{";

constexpr std::uint32_t VOLUME_GET_VOLUME_DISK_EXTENTS = 0x560000;
constexpr std::uint32_t LOCK_VOLUME = 0x90018;
constexpr std::uint32_t DISMOUNT_VOLUME = 0x90020;
constexpr std::uint32_t DISK_IS_WRITABLE = 0x70024;
constexpr std::uint32_t DISK_UPDATE_PROPERTIES = 0x70140;

struct Registry {
    std::mutex mutex;
    std::map<std::uint32_t, std::string> disks;  // disk number -> device path
    std::map<std::uint32_t, int> disk_claims;    // disk number -> the caller's exclusive claim
    std::map<int, std::string> open_paths;       // fd -> the path it was opened as
    std::map<std::uintptr_t, std::vector<std::string>> finds;  // enumeration -> names left
    std::uintptr_t next_find = 1;
};

Registry& registry() {
    static Registry r;
    return r;
}

std::string utf8_path(const char16_t* path) {
    std::size_t length = 0;
    while (path[length] != 0) {
        ++length;
    }
    return wide_to_utf8(std::span<const char16_t>(path, length));
}

bool is_block_device(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISBLK(info.st_mode);
}

// The kernel's name of a block device ("sdb" for /dev/sdb), through its device number.
std::string sysfs_name(const std::string& device) {
    struct stat info {};
    if (stat(device.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) {
        return {};
    }
    std::error_code error;
    const auto link =
        std::filesystem::canonical("/sys/dev/block/" + std::to_string(major(info.st_rdev)) + ":" +
                                       std::to_string(minor(info.st_rdev)),
                                   error);
    return error ? std::string() : link.filename().string();
}

// The disk number whose registered device holds the partition `device`.
bool disk_number_of_partition(const std::string& device, std::uint32_t& number) {
    const std::string name = sysfs_name(device);
    if (name.empty()) {
        return false;
    }
    std::error_code error;
    const auto parent = std::filesystem::canonical("/sys/class/block/" + name, error).parent_path();
    if (error) {
        return false;
    }
    const std::lock_guard lock(registry().mutex);
    for (const auto& [disk, path] : registry().disks) {
        if (sysfs_name(path) == parent.filename().string()) {
            number = disk;
            return true;
        }
    }
    return false;
}

// The exclusive claim that the caller holds on the disk registered under `path`, or -1.
int claim_of_disk_path(const std::string& path) {
    const std::lock_guard lock(registry().mutex);
    for (const auto& [disk, device] : registry().disks) {
        const auto claim = registry().disk_claims.find(disk);
        if (device == path && claim != registry().disk_claims.end()) {
            return claim->second;
        }
    }
    return -1;
}

std::string resolve(const std::string& path, bool& is_disk) {
    is_disk = false;
    if (path.starts_with(DISK_PREFIX)) {
        const std::string number = path.substr(DISK_PREFIX.size());
        const std::lock_guard lock(registry().mutex);
        for (const auto& [disk, device] : registry().disks) {
            if (std::to_string(disk) == number) {
                is_disk = true;
                return device;
            }
        }
        return {};
    }
    if (path.starts_with(VOLUME_PREFIX) && path.ends_with("}")) {
        return path.substr(VOLUME_PREFIX.size(), path.size() - VOLUME_PREFIX.size() - 1);
    }
    // The portable code joins paths with the Windows separator (the cache file's path); here a
    // backslash separates folders too.
    std::string local = path;
    std::replace(local.begin(), local.end(), '\\', '/');
    return local;
}

std::string path_of(Handle handle) {
    const std::lock_guard lock(registry().mutex);
    const auto found = registry().open_paths.find(static_cast<int>(handle));
    return found == registry().open_paths.end() ? std::string() : found->second;
}

int fd_of(Handle handle) {
    return static_cast<int>(static_cast<std::uintptr_t>(handle));
}

void copy_name(const std::string& name, std::span<char16_t, VOLUME_NAME_UNITS> out) {
    const WideString wide = utf8_to_wide(name);
    std::fill(out.begin(), out.end(), u'\0');
    std::copy_n(wide.begin(), std::min(wide.size(), out.size() - 1), out.begin());
}

int open_with(int at, const std::string& target, int mode, std::uint32_t flags) {
    const mode_t created = (mode & O_EXCL) != 0 ? 0600 : 0644;
    if ((flags & FLAG_NO_BUFFERING) != 0) {
        const int fd = openat(at, target.c_str(), mode | O_DIRECT, created);
        if (fd >= 0 || errno != EINVAL) {
            return fd;
        }
        // A file system without direct I/O (tmpfs): write-through alone.
    }
    return openat(at, target.c_str(), mode, created);
}

// A folder that another account could change lets that account swap its entries under us.
bool folder_is_private(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        return true;  // not a folder: nothing to judge here
    }
    if (info.st_uid != geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        errno = EPERM;
        return false;
    }
    return true;
}

// The open() flags for a create_file call's access, disposition and flags.
int open_mode(std::uint32_t access, std::uint32_t disposition, std::uint32_t flags) {
    const bool reads = (access & GENERIC_READ_ACCESS) != 0 || access == NO_ACCESS;
    const bool writes = (access & GENERIC_WRITE_ACCESS) != 0;
    int mode = O_CLOEXEC | (writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY);
    if ((flags & FLAG_WRITE_THROUGH) != 0) {
        mode |= O_DSYNC;
    }
    if (disposition == CREATE_ALWAYS_FILE) {
        mode |= O_CREAT | O_TRUNC;
    }
    if (disposition == CREATE_NEW_FILE) {
        mode |= O_CREAT | O_EXCL;
    }
    if ((flags & FLAG_OPEN_REPARSE_POINT) != 0) {
        mode |= O_NOFOLLOW | O_NONBLOCK;
    }
    return mode;
}

Handle keep_open(int fd, const std::string& path, std::uint32_t flags) {
    if (fd >= 0 && (flags & FLAG_OPEN_REPARSE_POINT) != 0 && !folder_is_private(fd)) {
        const int error = errno;
        close(fd);
        errno = error;
        fd = -1;
    }
    if (fd < 0) {
        set_last_error_from_errno();
        return INVALID_HANDLE;
    }
    const std::lock_guard lock(registry().mutex);
    registry().open_paths[fd] = path;
    return Handle(static_cast<std::uintptr_t>(fd));
}

}  // namespace

void register_disk(std::uint32_t number, const std::string& path, int claim) {
    const std::lock_guard lock(registry().mutex);
    registry().disks[number] = path;
    if (claim >= 0) {
        registry().disk_claims[number] = claim;
    } else {
        registry().disk_claims.erase(number);
    }
}

Handle create_file(const char16_t* path, std::uint32_t access, std::uint32_t,
                   std::uint32_t disposition, std::uint32_t flags) {
    bool is_disk = false;
    const std::string target = resolve(utf8_path(path), is_disk);
    if (target.empty()) {
        errno = ENOENT;
        set_last_error_from_errno();
        return INVALID_HANDLE;
    }
    const bool writes = (access & GENERIC_WRITE_ACCESS) != 0;
    int mode = open_mode(access, disposition, flags);
    if (is_disk && writes && is_block_device(target) && claim_of_disk_path(target) < 0) {
        mode |= O_EXCL;  // fails with EBUSY while anything has a partition mounted
    }
    int fd = open_with(AT_FDCWD, target, mode, flags & (FLAG_NO_BUFFERING | FLAG_WRITE_THROUGH));
    if (fd < 0 && is_disk && writes && (errno == EROFS || errno == EACCES) &&
        is_block_device(target)) {
        // A read-only device (a locked card) opens for reading, so that the writable test can
        // say what is wrong instead of the open.
        fd = open_with(AT_FDCWD, target, (mode & ~O_ACCMODE) | O_RDONLY, flags);
    }
    return keep_open(fd, target, flags);
}

void close_handle(Handle handle) {
    {
        const std::lock_guard lock(registry().mutex);
        registry().open_paths.erase(fd_of(handle));
    }
    close(fd_of(handle));
}

bool get_file_size(Handle handle, std::uint64_t& size_bytes) {
    struct stat info {};
    if (fstat(fd_of(handle), &info) != 0) {
        return set_last_error_from_errno();
    }
    if (S_ISBLK(info.st_mode)) {
        return ioctl(fd_of(handle), BLKGETSIZE64, &size_bytes) == 0 || set_last_error_from_errno();
    }
    size_bytes = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool set_file_pointer(Handle handle, std::uint64_t offset) {
    return lseek(fd_of(handle), static_cast<off_t>(offset), SEEK_SET) >= 0 ||
           set_last_error_from_errno();
}

bool read_file(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& done_bytes) {
    done_bytes = 0;
    const ssize_t done = read(fd_of(handle), buffer, length);
    if (done < 0) {
        return set_last_error_from_errno();
    }
    done_bytes = static_cast<std::uint32_t>(done);
    return true;
}

bool write_file(Handle handle, const void* buffer, std::uint32_t length,
                std::uint32_t& done_bytes) {
    // A short write is the kernel's way of saying that the next one fails (a full disk): that
    // next write is made, so that the failure arrives with its own code (ENOSPC), not as a
    // transfer that merely came up short.
    done_bytes = 0;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (done_bytes < length) {
        const ssize_t done = write(fd_of(handle), bytes + done_bytes, length - done_bytes);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return set_last_error_from_errno();
        }
        if (done == 0) {
            break;
        }
        done_bytes += static_cast<std::uint32_t>(done);
    }
    return true;
}

bool flush_file_buffers(Handle handle) {
    return fsync(fd_of(handle)) == 0 || set_last_error_from_errno();
}

bool device_io_control(Handle handle, std::uint32_t code, const void*, std::uint32_t, void* out,
                       std::uint32_t out_size) {
    const std::string path = path_of(handle);
    const bool block = is_block_device(path);
    switch (code) {
        case VOLUME_GET_VOLUME_DISK_EXTENTS: {
            std::uint32_t disk = 0;
            if (out_size < 32 || !disk_number_of_partition(path, disk)) {
                errno = ENOTTY;
                return set_last_error_from_errno();
            }
            const std::uint32_t count = 1;
            std::memcpy(out, &count, 4);
            std::memcpy(static_cast<unsigned char*>(out) + 8, &disk, 4);
            return true;
        }
        case LOCK_VOLUME: {
            // Nothing can hold a partition of a disk that the caller claimed whole.
            if (std::uint32_t disk = 0; disk_number_of_partition(path, disk)) {
                const std::lock_guard lock(registry().mutex);
                if (registry().disk_claims.contains(disk)) {
                    return true;
                }
            }
            const int probe = open(path.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
            if (probe < 0) {
                return set_last_error_from_errno();
            }
            close(probe);
            return true;
        }
        case DISMOUNT_VOLUME:
            return true;  // the lock's probe found nothing mounted
        case DISK_IS_WRITABLE: {
            if (!block) {
                if ((fcntl(fd_of(handle), F_GETFL) & O_ACCMODE) == O_RDONLY) {
                    errno = EROFS;
                    return set_last_error_from_errno();
                }
                return true;
            }
            int read_only = 0;
            if (ioctl(fd_of(handle), BLKROGET, &read_only) != 0) {
                return set_last_error_from_errno();
            }
            if (read_only != 0) {
                errno = EROFS;
                return set_last_error_from_errno();
            }
            return true;
        }
        case DISK_UPDATE_PROPERTIES: {
            const int claim = claim_of_disk_path(path);
            return !block || ioctl(claim >= 0 ? claim : fd_of(handle), BLKRRPART) == 0 ||
                   set_last_error_from_errno();
        }
        default:
            errno = ENOTTY;
            return set_last_error_from_errno();
    }
}

Handle find_first_volume(std::span<char16_t, VOLUME_NAME_UNITS> name) {
    std::vector<std::string> names;
    std::vector<std::string> disks;
    {
        const std::lock_guard lock(registry().mutex);
        for (const auto& [number, path] : registry().disks) {
            disks.push_back(path);
        }
    }
    for (const std::string& disk : disks) {
        const std::string disk_name = sysfs_name(disk);
        if (disk_name.empty()) {
            continue;  // a drive file has no partitions the system knows of
        }
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator("/sys/class/block/" + disk_name, error)) {
            if (std::filesystem::exists(entry.path() / "partition")) {
                names.push_back(std::string(VOLUME_PREFIX) + "/dev/" +
                                entry.path().filename().string() + "}\\");
            }
        }
    }
    if (names.empty()) {
        errno = ENOENT;
        set_last_error_from_errno();
        return INVALID_HANDLE;
    }
    copy_name(names.front(), name);
    names.erase(names.begin());
    const std::lock_guard lock(registry().mutex);
    const std::uintptr_t find = registry().next_find++;
    registry().finds[find] = std::move(names);
    return Handle(find);
}

bool find_next_volume(Handle find, std::span<char16_t, VOLUME_NAME_UNITS> name) {
    const std::lock_guard lock(registry().mutex);
    auto& left = registry().finds[static_cast<std::uintptr_t>(find)];
    if (left.empty()) {
        errno = ENOENT;
        return set_last_error_from_errno();
    }
    copy_name(left.front(), name);
    left.erase(left.begin());
    return true;
}

void find_volume_close(Handle find) {
    const std::lock_guard lock(registry().mutex);
    registry().finds.erase(static_cast<std::uintptr_t>(find));
}

// Linux has no Windows directory: no disk is taken for the system's.
std::uint32_t windows_directory(std::span<char16_t, WINDOWS_DIRECTORY_UNITS>) {
    set_last_error(ENOENT);
    return 0;
}

bool file_attributes(Handle handle, std::uint32_t& attributes) {
    struct stat info {};
    if (fstat(fd_of(handle), &info) != 0) {
        return set_last_error_from_errno();
    }
    if (S_ISDIR(info.st_mode)) {
        attributes = ATTRIBUTE_DIRECTORY;
    } else if (S_ISREG(info.st_mode)) {
        attributes = 0x80;  // FILE_ATTRIBUTE_NORMAL
    } else if (S_ISLNK(info.st_mode)) {
        attributes = ATTRIBUTE_REPARSE_POINT;
    } else {
        attributes = ATTRIBUTE_DEVICE;
    }
    return true;
}

namespace {

// `text` into `buffer` as UTF-16 with the rules of the system's path queries: the units written
// without the zero, or the size needed when it does not fit.
std::uint32_t copy_path(const std::string& text, std::span<char16_t> buffer) {
    const WideString wide = utf8_to_wide(text);
    const std::size_t units = wide.size() - 1;
    if (units >= buffer.size()) {
        return static_cast<std::uint32_t>(units + 1);
    }
    std::copy(wide.begin(), wide.end(), buffer.begin());
    return static_cast<std::uint32_t>(units);
}

// One path component: no separator, not empty, not a dot name.
bool is_single_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::uint32_t final_path(Handle handle, std::span<char16_t, FINAL_PATH_UNITS> buffer) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd_of(handle));
    std::string target(4096, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        set_last_error(length < 0 ? errno : ENAMETOOLONG);
        return 0;
    }
    target.resize(static_cast<std::size_t>(length));
    return copy_path(target, buffer);
}

Handle create_file_in(Handle folder, const char16_t* name, std::uint32_t access, std::uint32_t,
                      std::uint32_t disposition, std::uint32_t flags) {
    const std::string entry = utf8_path(name);
    if (!is_single_name(entry)) {
        errno = EINVAL;
        set_last_error_from_errno();
        return INVALID_HANDLE;
    }
    const int mode = open_mode(access, disposition, flags) | O_NOFOLLOW;
    const int fd = open_with(fd_of(folder), entry, mode, flags & FLAG_WRITE_THROUGH);
    return keep_open(fd, path_of(folder) + "/" + entry, flags);
}

bool move_file_in(Handle folder, const char16_t* from, const char16_t* to) {
    const std::string from_entry = utf8_path(from);
    const std::string to_entry = utf8_path(to);
    if (!is_single_name(from_entry) || !is_single_name(to_entry)) {
        errno = EINVAL;
        return set_last_error_from_errno();
    }
    return renameat(fd_of(folder), from_entry.c_str(), fd_of(folder), to_entry.c_str()) == 0 ||
           set_last_error_from_errno();
}

bool delete_file_in(Handle folder, const char16_t* name) {
    const std::string entry = utf8_path(name);
    if (!is_single_name(entry)) {
        errno = EINVAL;
        return set_last_error_from_errno();
    }
    return unlinkat(fd_of(folder), entry.c_str(), 0) == 0 || set_last_error_from_errno();
}

namespace {

// Root's cache: its own folder, never one chosen through another account's variables.
constexpr std::string_view ROOT_CACHE_HOME = "/var/cache/";

// Whether every folder on the absolute path `folder` (the last one included) is a folder that
// only root or the effective user can change: each opened without following a link, and each
// owned by one of them and writable by no group or other account. Then nobody else can rename
// an entry on the way or put a link in its place.
bool is_trusted_folder_path(std::string_view folder) {
    int at = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 1;
    while (at >= 0) {
        struct stat info {};
        const bool trusted = fstat(at, &info) == 0 && S_ISDIR(info.st_mode) &&
                             (info.st_uid == 0 || info.st_uid == geteuid()) &&
                             (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
        if (!trusted || start >= folder.size()) {
            close(at);
            return trusted;
        }
        std::size_t end = folder.find('/', start);
        if (end == std::string_view::npos) {
            end = folder.size();
        }
        const std::string part(folder.substr(start, end - start));
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        const int next = openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(at);
        at = next;
    }
    return false;
}

}  // namespace

std::uint32_t cache_home(std::span<char16_t, TEMP_PATH_UNITS> buffer) {
    // Running as root, the cache is root's own, in the system's cache folder; HOME and
    // XDG_CACHE_HOME may be another account's (sudo keeps them), and a folder made there would
    // be root's, or be placed wherever that account's links lead.
    if (geteuid() == 0) {
        if (!is_trusted_folder_path(ROOT_CACHE_HOME)) {
            set_last_error(EPERM);
            return 0;
        }
        return copy_path(std::string(ROOT_CACHE_HOME), buffer);
    }
    // Only an absolute $XDG_CACHE_HOME counts; then $HOME/.cache, made private when missing.
    std::string home;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/') {
        home = xdg;
    } else if (const char* user = std::getenv("HOME"); user != nullptr && user[0] == '/') {
        home = std::string(user) + "/.cache";
    } else {
        set_last_error(ENOENT);
        return 0;
    }
    (void)mkdir(home.c_str(), 0700);
    if (!home.ends_with('/')) {
        home.push_back('/');
    }
    return copy_path(home, buffer);
}

bool create_directory(const char16_t* path) {
    return mkdir(utf8_path(path).c_str(), 0700) == 0 || set_last_error_from_errno();
}

void* allocate_pages(std::size_t size_bytes) {
    const long page = sysconf(_SC_PAGESIZE);
    void* block = std::aligned_alloc(static_cast<std::size_t>(page), size_bytes);
    if (block == nullptr) {
        set_last_error_from_errno();
        return nullptr;
    }
    std::memset(block, 0, size_bytes);
    return block;
}

void free_pages(void* block) {
    std::free(block);
}

std::uint32_t short_transfer_error_code() {
    return EIO;
}

bool open_refused_as_in_use(std::uint32_t) {
    return true;
}

bool write_refused_by_security(std::uint32_t) {
    return false;
}

}  // namespace orvelo::os
