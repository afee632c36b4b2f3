// Listing a folder through its open descriptor, on Linux.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "core/unicode.h"
#include "os/file.h"
#include "os/posix/system_posix.h"

namespace orvelo::os {
namespace {

std::uint32_t attributes_of(const struct stat& info) {
    if (S_ISREG(info.st_mode)) {
        return 0;
    }
    if (S_ISDIR(info.st_mode)) {
        return ATTRIBUTE_DIRECTORY;
    }
    return S_ISLNK(info.st_mode) ? ATTRIBUTE_REPARSE_POINT : ATTRIBUTE_DEVICE;
}

}  // namespace

bool list_folder(Handle folder, std::vector<FolderEntry>& entries) {
    const int fd = static_cast<int>(static_cast<std::uintptr_t>(folder));
    // fdopendir takes the descriptor over and reads from its offset: a duplicate, rewound, keeps
    // the caller's descriptor as it was.
    const int listing_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (listing_fd < 0) {
        return set_last_error_from_errno();
    }
    DIR* listing = fdopendir(listing_fd);
    if (listing == nullptr) {
        const int error = errno;
        close(listing_fd);
        set_last_error(static_cast<std::uint32_t>(error));
        return false;
    }
    rewinddir(listing);
    bool listed = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(listing);
        if (entry == nullptr) {
            listed = errno == 0 || set_last_error_from_errno();
            break;
        }
        const std::string_view name(entry->d_name);
        // A name that is not UTF-8 cannot be handed up as text; no name of ours is such.
        if (name == "." || name == ".." || !is_valid_utf8(name)) {
            continue;
        }
        struct stat info {};
        if (fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;  // gone since it was listed
        }
        const WideString wide = utf8_to_wide(name);
        entries.push_back({std::u16string(wide.c_str()), attributes_of(info)});
    }
    closedir(listing);
    return listed;
}

}  // namespace orvelo::os
