#include "drive/storage_requests.h"

namespace orvelo {

std::optional<u32> volume_first_disk_number(os::Handle volume) {
    // VOLUME_DISK_EXTENTS: NumberOfDiskExtents at 0, Extents[0].DiskNumber at 8.
    std::array<u8, DISK_EXTENTS_BYTES> answer{};
    if (!os::device_io_control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                               answer.data(), answer.size())) {
        return std::nullopt;
    }
    if (read_u32_le(answer.data()) == 0) {
        return std::nullopt;
    }
    return read_u32_le(answer.data() + 8);
}

bool lock_volume(os::Handle volume) {
    return os::device_io_control(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0);
}

void dismount_volume(os::Handle volume) {
    (void)os::device_io_control(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0);
}

bool disk_is_writable(os::Handle disk) {
    return os::device_io_control(disk, IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0);
}

void update_disk_properties(os::Handle disk) {
    (void)os::device_io_control(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0);
}

std::optional<std::array<u8, DEVICE_DESCRIPTOR_BYTES>> query_device_descriptor(os::Handle disk) {
    // STORAGE_PROPERTY_QUERY { StorageDeviceProperty = 0, PropertyStandardQuery = 0, one byte
    // of additional parameters }, padded to 12 bytes: all zero.
    const std::array<u8, 12> query{};
    std::array<u8, DEVICE_DESCRIPTOR_BYTES> answer{};
    if (!os::device_io_control(disk, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), query.size(),
                               answer.data(), answer.size())) {
        return std::nullopt;
    }
    return answer;
}

std::optional<u32> query_media_change_count(os::Handle disk) {
    std::array<u8, 4> answer{};
    if (!os::device_io_control(disk, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, answer.data(),
                               answer.size())) {
        return std::nullopt;
    }
    return read_u32_le(answer.data());
}

std::optional<std::array<u8, DRIVE_GEOMETRY_BYTES>> query_drive_geometry(os::Handle disk) {
    std::array<u8, DRIVE_GEOMETRY_BYTES> answer{};
    if (!os::device_io_control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, answer.data(),
                               answer.size())) {
        return std::nullopt;
    }
    return answer;
}

}  // namespace orvelo
