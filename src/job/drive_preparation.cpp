#include "job/drive_preparation.h"

#include <array>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "drive/storage_requests.h"
#include "job/drive_identity.h"
#include "os/system.h"

namespace orvelo {
namespace {

// The volume's device path from its enumeration name: up to the first zero unit, without one
// trailing backslash (with it, the name would open the volume's root folder), zero-terminated.
std::u16string volume_device_path(std::span<const char16_t, os::VOLUME_NAME_UNITS> name) {
    std::u16string path;
    for (const char16_t unit : name) {
        if (unit == 0) {
            break;
        }
        path.push_back(unit);
    }
    if (!path.empty() && path.back() == u'\\') {
        path.pop_back();
    }
    return path;
}

void close_all(const std::vector<os::Handle>& handles) {
    for (const os::Handle handle : handles) {
        os::close_handle(handle);
    }
}

// The disk number of the volume's first extent, asked through a handle opened with no access:
// such an open reaches the volume's device but not its medium, so an empty card-reader slot
// raises no "no disk" error.
std::optional<u32> volume_disk_number(const std::u16string& path) {
    const os::Handle query =
        os::create_file(path.c_str(), os::NO_ACCESS, os::SHARE_READ | os::SHARE_WRITE,
                        os::OPEN_EXISTING_FILE, os::NO_FLAGS);
    if (query == os::INVALID_HANDLE) {
        return std::nullopt;
    }
    const std::optional<u32> disk = volume_first_disk_number(query);
    os::close_handle(query);
    return disk;
}

// Tries the lock, then again every LOCK_RETRY_INTERVAL_MS until LOCK_PATIENCE_MS have passed,
// asking for a stop after each wait: 1 + LOCK_PATIENCE_MS / LOCK_RETRY_INTERVAL_MS tries.
Status lock_with_patience(const JobStatus& status, os::Handle volume, std::string_view label,
                          const DriveTexts& texts) {
    for (u32 waited_ms = 0;; waited_ms += LOCK_RETRY_INTERVAL_MS) {
        if (lock_volume(volume)) {
            return {};
        }
        if (waited_ms >= LOCK_PATIENCE_MS) {
            return fail(format(texts.in_use, label));
        }
        os::sleep_ms(LOCK_RETRY_INTERVAL_MS);
        if (Status stopped = check_stopped(status); !stopped) {
            return stopped;
        }
    }
}

}  // namespace

Status check_sector_size(const DriveCandidate& drive) {
    if (drive.bytes_per_sector != SECTOR_BYTES_REQUIRED) {
        return fail(format(msg::WRONG_SECTOR_SIZE, drive.label, drive.bytes_per_sector));
    }
    return {};
}

Result<std::vector<os::Handle>> lock_disk_volumes(const JobStatus& status, u32 disk_number,
                                                  std::string_view label, const DriveTexts& texts) {
    std::vector<os::Handle> locked;
    std::array<char16_t, os::VOLUME_NAME_UNITS> name{};
    const os::Handle find = os::find_first_volume(name);
    if (find == os::INVALID_HANDLE) {
        return locked;
    }
    do {
        const std::u16string path = volume_device_path(name);
        if (volume_disk_number(path) != disk_number) {
            continue;
        }
        const os::Handle volume =
            os::create_file(path.c_str(), os::GENERIC_READ_ACCESS | os::GENERIC_WRITE_ACCESS,
                            os::SHARE_READ | os::SHARE_WRITE, os::OPEN_EXISTING_FILE, os::NO_FLAGS);
        // A volume of this disk is never skipped: left mounted, its sectors would fail with
        // "access denied" halfway through writing. Only a volume that another program holds
        // is "in use"; any other refusal is told with the system's reason, which closing
        // windows and trying again would not change.
        if (volume == os::INVALID_HANDLE) {
            const u32 code = os::last_error_code();
            os::find_volume_close(find);
            close_all(locked);
            if (os::open_refused_as_in_use(code)) {
                return fail(format(texts.in_use, label));
            }
            return fail(format(texts.not_opened, label, error_code_text(code)));
        }
        if (Status taken = lock_with_patience(status, volume, label, texts); !taken) {
            os::close_handle(volume);
            os::find_volume_close(find);
            close_all(locked);
            return fail(std::move(taken.error()));
        }
        dismount_volume(volume);
        locked.push_back(volume);
    } while (os::find_next_volume(find, name));
    os::find_volume_close(find);
    return locked;
}

Result<PreparedDrive> prepare_drive(const JobStatus& status, const DriveCandidate& drive,
                                    const DriveAccess& access) {
    Result<std::vector<os::Handle>> volumes =
        lock_disk_volumes(status, drive.disk_number, drive.label, access.texts);
    if (!volumes) {
        return fail(std::move(volumes.error()));
    }
    Result<RawDrive> opened = open_raw_drive(drive.disk_number, drive.label, std::move(*volumes),
                                             access.texts.not_opened);
    if (!opened) {
        return fail(std::move(opened.error()));
    }
    // The handle that will be written must still lead to the confirmed drive.
    if (access.checks.on_open_disk) {
        if (Status same = access.checks.on_open_disk(opened->disk(), drive); !same) {
            close_raw_drive(std::move(*opened));
            return fail(std::move(same.error()));
        }
    }
    if (!disk_is_writable(opened->disk())) {
        close_raw_drive(std::move(*opened));
        return fail(format(msg::WRITE_PROTECTED, drive.label));
    }
    Result<TransferBuffer> buffer = TransferBuffer::create();
    if (!buffer) {
        close_raw_drive(std::move(*opened));
        return fail(std::move(buffer.error()));
    }
    return PreparedDrive{std::move(*opened), std::move(*buffer)};
}

}  // namespace orvelo
