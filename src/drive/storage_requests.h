// The storage device-control requests the installer sends, with their codes, buffer sizes and
// the fields read from the answers (Windows' published structures, little-endian).
#pragma once

#include <array>
#include <optional>

#include "core/little_endian.h"
#include "core/types.h"
#include "os/file.h"

namespace orvelo {

inline constexpr u32 IOCTL_STORAGE_QUERY_PROPERTY = 0x2D1400;
inline constexpr u32 IOCTL_DISK_GET_DRIVE_GEOMETRY_EX = 0x700A0;
inline constexpr u32 IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = 0x560000;
inline constexpr u32 FSCTL_LOCK_VOLUME = 0x90018;
inline constexpr u32 FSCTL_DISMOUNT_VOLUME = 0x90020;
inline constexpr u32 IOCTL_DISK_IS_WRITABLE = 0x70024;
inline constexpr u32 IOCTL_DISK_UPDATE_PROPERTIES = 0x70140;
inline constexpr u32 IOCTL_STORAGE_CHECK_VERIFY2 = 0x2D0800;

// The bus types a drive may sit on to be offered: USB, SD and MMC.
inline constexpr u32 BUS_TYPE_USB = 7;
inline constexpr u32 BUS_TYPE_SD = 12;
inline constexpr u32 BUS_TYPE_MMC = 13;

inline constexpr std::size_t DISK_EXTENTS_BYTES = 64;  // the count and two extents
inline constexpr std::size_t DEVICE_DESCRIPTOR_BYTES = 1024;
inline constexpr std::size_t DRIVE_GEOMETRY_BYTES = 256;

// The disk number of the volume's first extent; nothing when the request fails (a volume with
// more extents than the 64-byte answer holds fails too) or reports no extent.
[[nodiscard]] std::optional<u32> volume_first_disk_number(os::Handle volume);

// Exclusive use of a volume: succeeds only when no other handle uses it.
[[nodiscard]] bool lock_volume(os::Handle volume);

// Dismounts a locked volume; the result is of no use to anyone and is not given.
void dismount_volume(os::Handle volume);

// Succeeds when the medium accepts writes.
[[nodiscard]] bool disk_is_writable(os::Handle disk);

// Asks the system to read the disk's partition table again; the result is not given.
void update_disk_properties(os::Handle disk);

// The standard storage device descriptor, as answered into a zero-filled 1024-byte buffer.
[[nodiscard]] std::optional<std::array<u8, DEVICE_DESCRIPTOR_BYTES>> query_device_descriptor(
    os::Handle disk);

// The media change count (a ULONG) that IOCTL_STORAGE_CHECK_VERIFY2 answers: the number of
// times the medium has changed since the driver started. The request is meant for a handle
// opened with FILE_READ_ATTRIBUTES alone, through which no file system is mounted; nothing when
// the device does not answer it (no removable medium, or none in the slot now).
[[nodiscard]] std::optional<u32> query_media_change_count(os::Handle disk);

// The extended drive geometry, as answered into a zero-filled 256-byte buffer.
[[nodiscard]] std::optional<std::array<u8, DRIVE_GEOMETRY_BYTES>> query_drive_geometry(
    os::Handle disk);

}  // namespace orvelo
