// The operating-system seam, files and devices: handles, reads and writes at the file pointer,
// device-control requests, volume enumeration and page-aligned memory. Each function is one
// system call with the arguments the caller names; the constants carry Windows' published values
// so that the callers above the seam read like the calls they make.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvelo::os {

// An open file, volume, disk or volume enumeration. INVALID_HANDLE is no handle.
enum class Handle : std::uintptr_t {};
inline constexpr Handle INVALID_HANDLE = Handle(~std::uintptr_t{0});

// CreateFileW access, share and flag values.
inline constexpr std::uint32_t NO_ACCESS = 0;
// No data access: a device opened so mounts no file system.
inline constexpr std::uint32_t READ_ATTRIBUTES_ACCESS = 0x80;
inline constexpr std::uint32_t GENERIC_READ_ACCESS = 0x80000000;
inline constexpr std::uint32_t GENERIC_WRITE_ACCESS = 0x40000000;
inline constexpr std::uint32_t SHARE_READ = 1;
inline constexpr std::uint32_t SHARE_WRITE = 2;
inline constexpr std::uint32_t CREATE_NEW_FILE = 1;  // fails when anything has the name
inline constexpr std::uint32_t CREATE_ALWAYS_FILE = 2;
inline constexpr std::uint32_t OPEN_EXISTING_FILE = 3;
inline constexpr std::uint32_t NORMAL_ATTRIBUTES = 0x80;
inline constexpr std::uint32_t NO_FLAGS = 0;
inline constexpr std::uint32_t FLAG_WRITE_THROUGH = 0x80000000;
inline constexpr std::uint32_t FLAG_NO_BUFFERING = 0x20000000;
// Opens a folder as such.
inline constexpr std::uint32_t FLAG_BACKUP_SEMANTICS = 0x02000000;
// Opens a reparse point (link, junction) itself instead of what it points to. On Linux: no
// symbolic link is followed at the last component, the open does not block (a FIFO), and a
// folder opened so must be one that no other account can change (see os/posix/file.cpp).
inline constexpr std::uint32_t FLAG_OPEN_REPARSE_POINT = 0x00200000;

// File attributes, as GetFileInformationByHandle gives them.
inline constexpr std::uint32_t ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t ATTRIBUTE_DEVICE = 0x40;  // on Linux: a FIFO, device or socket
inline constexpr std::uint32_t ATTRIBUTE_REPARSE_POINT = 0x400;

// The error code of an open that found nothing under the name: ERROR_FILE_NOT_FOUND on
// Windows, and ENOENT, which has the same value, on Linux.
inline constexpr std::uint32_t FILE_NOT_FOUND_CODE = 2;

// The number of UTF-16 units of a volume name buffer.
inline constexpr std::size_t VOLUME_NAME_UNITS = 260;

// CreateFileW(path, access, share, no security attributes, disposition, flags, no template).
// `path` is zero-terminated UTF-16.
[[nodiscard]] Handle create_file(const char16_t* path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags);

// CloseHandle; the result is not reported.
void close_handle(Handle handle);

// GetFileSizeEx: false when the size cannot be had.
[[nodiscard]] bool get_file_size(Handle handle, std::uint64_t& size_bytes);

// SetFilePointerEx to an absolute offset from the start (FILE_BEGIN), no place for the new
// position.
[[nodiscard]] bool set_file_pointer(Handle handle, std::uint64_t offset);

// ReadFile / WriteFile at the file pointer, no overlapped structure. `done_bytes` is set to 0
// before the call and then holds the count moved; the result is the call's success.
[[nodiscard]] bool read_file(Handle handle, void* buffer, std::uint32_t length,
                             std::uint32_t& done_bytes);
[[nodiscard]] bool write_file(Handle handle, const void* buffer, std::uint32_t length,
                              std::uint32_t& done_bytes);

// FlushFileBuffers.
[[nodiscard]] bool flush_file_buffers(Handle handle);

// DeviceIoControl, synchronous, with a returned-bytes count and no overlapped structure.
[[nodiscard]] bool device_io_control(Handle handle, std::uint32_t code, const void* in,
                                     std::uint32_t in_size, void* out, std::uint32_t out_size);

// FindFirstVolumeW / FindNextVolumeW into `name`, FindVolumeClose. find_first_volume gives
// INVALID_HANDLE when there is no volume or the enumeration fails.
[[nodiscard]] Handle find_first_volume(std::span<char16_t, VOLUME_NAME_UNITS> name);
[[nodiscard]] bool find_next_volume(Handle find, std::span<char16_t, VOLUME_NAME_UNITS> name);
void find_volume_close(Handle find);

// GetFileInformationByHandle: the attributes of what `handle` has open; false when they cannot
// be had.
[[nodiscard]] bool file_attributes(Handle handle, std::uint32_t& attributes);

// The number of UTF-16 units of a final path's buffer.
inline constexpr std::size_t FINAL_PATH_UNITS = 1024;

// GetFinalPathNameByHandleW(handle, buffer, units, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS): the
// path the system reached through every link and junction, into the zero-filled `buffer`; the
// count of units written without the terminating zero, or the size needed when it does not
// fit, or 0 on failure. On Linux, the link of /proc/self/fd.
[[nodiscard]] std::uint32_t final_path(Handle handle, std::span<char16_t, FINAL_PATH_UNITS> buffer);

// create_file on `name`, one path component, inside the folder that `folder` has open: on
// Windows CreateFileW on the folder's final path, a backslash and the name; on Linux openat()
// relative to the folder, never following a link at the name.
[[nodiscard]] Handle create_file_in(Handle folder, const char16_t* name, std::uint32_t access,
                                    std::uint32_t share, std::uint32_t disposition,
                                    std::uint32_t flags);

// MoveFileExW(folder\from, folder\to, MOVEFILE_REPLACE_EXISTING) within the folder that
// `folder` has open (renameat on Linux): the entry `to` is replaced, never what it points to.
[[nodiscard]] bool move_file_in(Handle folder, const char16_t* from, const char16_t* to);

// DeleteFileW(folder\name) within the folder that `folder` has open (unlinkat on Linux).
[[nodiscard]] bool delete_file_in(Handle folder, const char16_t* name);

// One entry of a folder as its listing gives it, without opening the entry: its name and its
// attributes (ATTRIBUTE_DIRECTORY, ATTRIBUTE_REPARSE_POINT for a link, ATTRIBUTE_DEVICE on Linux
// for anything but a regular file, folder or link; a regular file has none of these).
struct FolderEntry {
    std::u16string name;
    std::uint32_t attributes = 0;
};

// The entries of the folder that `folder` has open, "." and ".." left out, read through that
// handle itself so that no path is resolved again: GetFileInformationByHandleEx with
// FileIdBothDirectoryRestartInfo, then FileIdBothDirectoryInfo until there are no more, on
// Windows; readdir on a duplicate of the descriptor, each entry's type by fstatat without
// following a link, on Linux. False when the listing fails; `entries` then holds what was read.
[[nodiscard]] bool list_folder(Handle folder, std::vector<FolderEntry>& entries);

// The number of UTF-16 units of the cache home's buffer.
inline constexpr std::size_t TEMP_PATH_UNITS = 260;

// The folder that holds the cache folder, ending with a separator, into the zero-filled
// `buffer`: the count of units written, or the size needed when it does not fit, or 0 when
// there is none. Windows: the user's temporary folder (GetTempPathW). Linux: $XDG_CACHE_HOME,
// else $HOME/.cache (made with mode 0700 when missing); TMPDIR plays no part.
[[nodiscard]] std::uint32_t cache_home(std::span<char16_t, TEMP_PATH_UNITS> buffer);

// The number of UTF-16 units of the Windows directory's buffer.
inline constexpr std::size_t WINDOWS_DIRECTORY_UNITS = 260;

// GetSystemWindowsDirectoryW into the zero-filled `buffer`: the count of units written without
// the terminating zero, or the size needed when it does not fit, or 0 on failure.
[[nodiscard]] std::uint32_t windows_directory(std::span<char16_t, WINDOWS_DIRECTORY_UNITS> buffer);

// CreateDirectoryW(path, no security attributes); on Linux mkdir with mode 0700.
[[nodiscard]] bool create_directory(const char16_t* path);

// VirtualAlloc(no address, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE): page-aligned,
// zero-filled, or null. VirtualFree(block, 0, MEM_RELEASE).
[[nodiscard]] void* allocate_pages(std::size_t size_bytes);
void free_pages(void* block);

// The error code a transfer reports when the system said it succeeded but moved fewer bytes
// than asked and left no error code of its own: the end of the medium.
[[nodiscard]] std::uint32_t short_transfer_error_code();

// Whether a failed open of a volume with `code` means that another program holds the volume:
// on Windows ERROR_SHARING_VIOLATION (open handles that share less) or ERROR_ACCESS_DENIED
// (a lock or an exclusive open). Any other code is a failure of its own (a policy that mounts
// removable drives read-only, a device that went away) that closing windows does not mend. On
// Linux every failure counts as in use, as the drive's volumes are the mounts of its partitions.
[[nodiscard]] bool open_refused_as_in_use(std::uint32_t code);

// Whether a failed write with `code` may have been refused by the system's security rather
// than by the medium: ERROR_ACCESS_DENIED on Windows, where Controlled folder access and
// antivirus programs refuse writes to disk sectors that way. Never on Linux.
[[nodiscard]] bool write_refused_by_security(std::uint32_t code);

}  // namespace orvelo::os
