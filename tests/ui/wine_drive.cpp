// A test-only build of the OS seam for running the window under Wine: the real Windows seam,
// except that disk 9 answers the storage requests itself. Wine exposes a drive file as
// \\.\PhysicalDrive9 (a `physicaldrive9` symlink in the prefix's dosdevices) and moves raw reads
// and writes to and from it, but answers the storage requests of such a drive with error 50.
// Here disk 9 is a USB stick (bus 7) with 512-byte sectors and the size of the drive file; it
// accepts writes, and re-reading its layout succeeds. Its descriptor names no serial number,
// and the media change count's request goes on to Wine, which fails it: disk 9 is a device that
// reports neither, identified by label, size and sector size. When ORVELO_TEST_DRIVE_DELAY_MS
// is set, every read and write on it waits that long first, so that a test can watch a job's
// phases and stop it midway. Never linked into the product.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>

#include "os/file.h"

namespace orvelo::os {

Handle system_create_file(const char16_t* path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition, std::uint32_t flags);
void system_close_handle(Handle handle);
bool system_device_io_control(Handle handle, std::uint32_t code, const void* in,
                              std::uint32_t in_size, void* out, std::uint32_t out_size);
bool system_read_file(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& done_bytes);
bool system_write_file(Handle handle, const void* buffer, std::uint32_t length,
                       std::uint32_t& done_bytes);

namespace {

constexpr std::u16string_view TEST_DRIVE_PATH = u"\\\\.\\physicaldrive9";

// The texts as a USB stick pads them; discovery trims them to "Wine Test Drive".
constexpr std::string_view VENDOR = "Wine    ";
constexpr std::string_view PRODUCT = "Test Drive      ";
constexpr std::uint32_t BUS_TYPE_USB = 7;
constexpr std::uint32_t SECTOR_BYTES = 512;

// Handles open on the test drive; both the window thread and the job's thread open it.
std::mutex test_drive_mutex;
std::set<Handle> test_drive_handles;

bool is_test_drive_path(const char16_t* path) {
    std::u16string_view given(path);
    if (given.size() != TEST_DRIVE_PATH.size()) {
        return false;
    }
    for (std::size_t i = 0; i < given.size(); ++i) {
        char16_t unit = given[i];
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        }
        if (unit != TEST_DRIVE_PATH[i]) {
            return false;
        }
    }
    return true;
}

bool is_test_drive(Handle handle) {
    const std::lock_guard guard(test_drive_mutex);
    return test_drive_handles.contains(handle);
}

void delay_transfer(Handle handle) {
    static const DWORD delay_ms = [] {
        wchar_t value[16] = {};
        const DWORD length = GetEnvironmentVariableW(L"ORVELO_TEST_DRIVE_DELAY_MS", value, 16);
        return length == 0 || length >= 16 ? DWORD{0} : static_cast<DWORD>(_wtoi(value));
    }();
    if (delay_ms != 0 && is_test_drive(handle)) {
        Sleep(delay_ms);
    }
}

void put_u32(std::uint8_t* bytes, std::uint32_t value) {
    std::memcpy(bytes, &value, 4);
}

bool answer_descriptor(void* out, std::uint32_t out_size) {
    if (out_size < 64) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memset(bytes, 0, out_size);
    put_u32(bytes + 0, 1);         // Version
    put_u32(bytes + 4, out_size);  // Size
    bytes[8] = 0;                  // DeviceType: direct access
    bytes[10] = 1;                 // RemovableMedia
    put_u32(bytes + 12, 40);       // VendorIdOffset
    put_u32(bytes + 16, 40 + static_cast<std::uint32_t>(VENDOR.size()) + 1);  // ProductIdOffset
    put_u32(bytes + 28, BUS_TYPE_USB);
    std::memcpy(bytes + 40, VENDOR.data(), VENDOR.size());
    std::memcpy(bytes + 40 + VENDOR.size() + 1, PRODUCT.data(), PRODUCT.size());
    return true;
}

bool answer_geometry(Handle handle, void* out, std::uint32_t out_size) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle)), &size)) {
        return false;
    }
    if (out_size < 32) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    const auto disk_size = static_cast<std::uint64_t>(size.QuadPart);
    const std::uint64_t cylinders = disk_size / SECTOR_BYTES / 63 / 255;
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memset(bytes, 0, out_size);
    std::memcpy(bytes + 0, &cylinders, 8);   // Cylinders
    put_u32(bytes + 8, 11);                  // MediaType: RemovableMedia
    put_u32(bytes + 12, 255);                // TracksPerCylinder
    put_u32(bytes + 16, 63);                 // SectorsPerTrack
    put_u32(bytes + 20, SECTOR_BYTES);       // BytesPerSector
    std::memcpy(bytes + 24, &disk_size, 8);  // DiskSize
    return true;
}

}  // namespace

Handle create_file(const char16_t* path, std::uint32_t access, std::uint32_t share,
                   std::uint32_t disposition, std::uint32_t flags) {
    const Handle handle = system_create_file(path, access, share, disposition, flags);
    if (handle != INVALID_HANDLE && is_test_drive_path(path)) {
        const std::lock_guard guard(test_drive_mutex);
        test_drive_handles.insert(handle);
    }
    return handle;
}

void close_handle(Handle handle) {
    {
        const std::lock_guard guard(test_drive_mutex);
        test_drive_handles.erase(handle);
    }
    system_close_handle(handle);
}

bool read_file(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& done_bytes) {
    delay_transfer(handle);
    return system_read_file(handle, buffer, length, done_bytes);
}

bool write_file(Handle handle, const void* buffer, std::uint32_t length,
                std::uint32_t& done_bytes) {
    delay_transfer(handle);
    return system_write_file(handle, buffer, length, done_bytes);
}

bool device_io_control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size,
                       void* out, std::uint32_t out_size) {
    if (!is_test_drive(handle)) {
        return system_device_io_control(handle, code, in, in_size, out, out_size);
    }
    switch (code) {
        case 0x2D1400:  // IOCTL_STORAGE_QUERY_PROPERTY
            return answer_descriptor(out, out_size);
        case 0x700A0:  // IOCTL_DISK_GET_DRIVE_GEOMETRY_EX
            return answer_geometry(handle, out, out_size);
        case 0x70024:  // IOCTL_DISK_IS_WRITABLE
        case 0x70140:  // IOCTL_DISK_UPDATE_PROPERTIES
            return true;
        default:
            return system_device_io_control(handle, code, in, in_size, out, out_size);
    }
}

}  // namespace orvelo::os
