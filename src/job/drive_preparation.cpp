#include "job/drive_preparation.h"

#include <array>

#include "core/format.h"
#include "core/messages.h"
#include "drive/storage_requests.h"
#include "job/drive_identity.h"

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

}  // namespace

Status check_sector_size(const DriveCandidate& drive) {
    if (drive.bytes_per_sector != SECTOR_BYTES_REQUIRED) {
        return fail(format(msg::WRONG_SECTOR_SIZE, drive.label, drive.bytes_per_sector));
    }
    return {};
}

Result<std::vector<os::Handle>> lock_disk_volumes(u32 disk_number, std::string_view label) {
    std::vector<os::Handle> locked;
    std::array<char16_t, os::VOLUME_NAME_UNITS> name{};
    const os::Handle find = os::find_first_volume(name);
    if (find == os::INVALID_HANDLE) {
        return locked;
    }
    do {
        const std::u16string path = volume_device_path(name);
        const os::Handle volume =
            os::create_file(path.c_str(), os::GENERIC_READ_ACCESS | os::GENERIC_WRITE_ACCESS,
                            os::SHARE_READ | os::SHARE_WRITE, os::OPEN_EXISTING_FILE, os::NO_FLAGS);
        if (volume == os::INVALID_HANDLE) {
            continue;
        }
        const std::optional<u32> volume_disk = volume_first_disk_number(volume);
        if (!volume_disk || *volume_disk != disk_number) {
            os::close_handle(volume);
            continue;
        }
        if (!lock_volume(volume)) {
            os::close_handle(volume);
            os::find_volume_close(find);
            close_all(locked);
            return fail(format(msg::DRIVE_IN_USE, label));
        }
        dismount_volume(volume);
        locked.push_back(volume);
    } while (os::find_next_volume(find, name));
    os::find_volume_close(find);
    return locked;
}

Result<PreparedDrive> prepare_drive(const DriveCandidate& drive) {
    Result<std::vector<os::Handle>> volumes = lock_disk_volumes(drive.disk_number, drive.label);
    if (!volumes) {
        return fail(std::move(volumes.error()));
    }
    Result<RawDrive> opened = open_raw_drive(drive.disk_number, drive.label, std::move(*volumes));
    if (!opened) {
        return fail(std::move(opened.error()));
    }
    // The handle that will be written must still lead to the confirmed drive.
    if (const auto check = drive_identity_checks().on_open_disk; check != nullptr) {
        if (Status same = check(opened->disk(), drive); !same) {
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
