#include <windows.h>

#include <array>
#include <string>

#include "os/file.h"

namespace orvelo::os {
namespace {

HANDLE native(Handle handle) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}

Handle wrap(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? INVALID_HANDLE
                                          : Handle(reinterpret_cast<std::uintptr_t>(handle));
}

LPWSTR wide(std::span<char16_t, VOLUME_NAME_UNITS> name) {
    return reinterpret_cast<LPWSTR>(name.data());
}

}  // namespace

Handle create_file(const char16_t* path, std::uint32_t access, std::uint32_t share,
                   std::uint32_t disposition, std::uint32_t flags) {
    return wrap(CreateFileW(reinterpret_cast<LPCWSTR>(path), access, share, nullptr, disposition,
                            flags, nullptr));
}

void close_handle(Handle handle) {
    CloseHandle(native(handle));
}

bool get_file_size(Handle handle, std::uint64_t& size_bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(native(handle), &size)) {
        return false;
    }
    size_bytes = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool set_file_pointer(Handle handle, std::uint64_t offset) {
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(native(handle), distance, nullptr, FILE_BEGIN) != 0;
}

bool read_file(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& done_bytes) {
    DWORD done = 0;
    const BOOL ok = ReadFile(native(handle), buffer, length, &done, nullptr);
    done_bytes = done;
    return ok != 0;
}

bool write_file(Handle handle, const void* buffer, std::uint32_t length,
                std::uint32_t& done_bytes) {
    DWORD done = 0;
    const BOOL ok = WriteFile(native(handle), buffer, length, &done, nullptr);
    done_bytes = done;
    return ok != 0;
}

bool flush_file_buffers(Handle handle) {
    return FlushFileBuffers(native(handle)) != 0;
}

bool device_io_control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size,
                       void* out, std::uint32_t out_size) {
    DWORD returned = 0;
    return DeviceIoControl(native(handle), code, const_cast<void*>(in), in_size, out, out_size,
                           &returned, nullptr) != 0;
}

Handle find_first_volume(std::span<char16_t, VOLUME_NAME_UNITS> name) {
    return wrap(FindFirstVolumeW(wide(name), static_cast<DWORD>(name.size())));
}

bool find_next_volume(Handle find, std::span<char16_t, VOLUME_NAME_UNITS> name) {
    return FindNextVolumeW(native(find), wide(name), static_cast<DWORD>(name.size())) != 0;
}

void find_volume_close(Handle find) {
    FindVolumeClose(native(find));
}

bool file_attributes(Handle handle, std::uint32_t& attributes) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(native(handle), &information)) {
        return false;
    }
    attributes = information.dwFileAttributes;
    return true;
}

std::uint32_t final_path(Handle handle, std::span<char16_t, FINAL_PATH_UNITS> buffer) {
    return GetFinalPathNameByHandleW(native(handle), reinterpret_cast<LPWSTR>(buffer.data()),
                                     static_cast<DWORD>(buffer.size()),
                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
}

namespace {

// The folder's final path, a backslash and `name`; empty (with the last error set) when the
// folder's path cannot be had whole.
std::wstring path_in(Handle folder, const char16_t* name) {
    std::array<char16_t, FINAL_PATH_UNITS> buffer{};
    const std::uint32_t units = final_path(folder, buffer);
    if (units == 0 || units >= buffer.size()) {
        if (units != 0) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        }
        return {};
    }
    std::wstring path(reinterpret_cast<const wchar_t*>(buffer.data()), units);
    path += L'\\';
    path += reinterpret_cast<const wchar_t*>(name);
    return path;
}

}  // namespace

Handle create_file_in(Handle folder, const char16_t* name, std::uint32_t access,
                      std::uint32_t share, std::uint32_t disposition, std::uint32_t flags) {
    const std::wstring path = path_in(folder, name);
    if (path.empty()) {
        return INVALID_HANDLE;
    }
    return wrap(CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

bool move_file_in(Handle folder, const char16_t* from, const char16_t* to) {
    const std::wstring from_path = path_in(folder, from);
    const std::wstring to_path = path_in(folder, to);
    return !from_path.empty() && !to_path.empty() &&
           MoveFileExW(from_path.c_str(), to_path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool delete_file_in(Handle folder, const char16_t* name) {
    const std::wstring path = path_in(folder, name);
    return !path.empty() && DeleteFileW(path.c_str()) != 0;
}

std::uint32_t cache_home(std::span<char16_t, TEMP_PATH_UNITS> buffer) {
    return GetTempPathW(static_cast<DWORD>(buffer.size()), reinterpret_cast<LPWSTR>(buffer.data()));
}

std::uint32_t windows_directory(std::span<char16_t, WINDOWS_DIRECTORY_UNITS> buffer) {
    return GetSystemWindowsDirectoryW(reinterpret_cast<LPWSTR>(buffer.data()),
                                      static_cast<UINT>(buffer.size()));
}

bool create_directory(const char16_t* path) {
    return CreateDirectoryW(reinterpret_cast<LPCWSTR>(path), nullptr) != 0;
}

void* allocate_pages(std::size_t size_bytes) {
    return VirtualAlloc(nullptr, size_bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void free_pages(void* block) {
    VirtualFree(block, 0, MEM_RELEASE);
}

std::uint32_t short_transfer_error_code() {
    return ERROR_HANDLE_EOF;
}

bool open_refused_as_in_use(std::uint32_t code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
}

bool write_refused_by_security(std::uint32_t code) {
    return code == ERROR_ACCESS_DENIED;
}

}  // namespace orvelo::os
