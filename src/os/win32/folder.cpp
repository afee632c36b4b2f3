// Listing a folder through its open handle, on Windows.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "os/file.h"

namespace orvelo::os {

bool list_folder(Handle folder, std::vector<FolderEntry>& entries) {
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(folder));
    // FILE_ID_BOTH_DIR_INFO records are 8-byte aligned, each giving the offset of the next.
    std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));
    const DWORD buffer_bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(handle, query, buffer.data(), buffer_bytes)) {
            return GetLastError() == ERROR_NO_MORE_FILES;
        }
        query = FileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const std::byte*>(buffer.data());
        for (std::size_t at = 0;;) {
            const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
            std::u16string name(record->FileNameLength / sizeof(WCHAR), u'\0');
            std::memcpy(name.data(), record->FileName, name.size() * sizeof(WCHAR));
            if (name != u"." && name != u"..") {
                const DWORD kinds = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
                entries.push_back({std::move(name), record->FileAttributes & kinds});
            }
            if (record->NextEntryOffset == 0) {
                break;
            }
            at += record->NextEntryOffset;
        }
    }
}

}  // namespace orvelo::os
