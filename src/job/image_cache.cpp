#include "job/image_cache.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

#include "core/text.h"
#include "job/install_job.h"
#include "os/system.h"

namespace orvelo {
namespace {

constexpr u32 NORMAL_FILE = 0x80;  // FILE_ATTRIBUTE_NORMAL
constexpr u32 NOT_A_PLAIN_FILE =
    os::ATTRIBUTE_DIRECTORY | os::ATTRIBUTE_DEVICE | os::ATTRIBUTE_REPARSE_POINT;

std::optional<std::u16string> final_path_of(os::Handle handle) {
    std::array<char16_t, os::FINAL_PATH_UNITS> buffer{};
    const u32 units = os::final_path(handle, buffer);
    // 0 is a failure; an answer of the buffer's size or more is the size a longer path needs.
    if (units == 0 || units >= buffer.size()) {
        return std::nullopt;
    }
    return std::u16string(buffer.data(), units);
}

// A name for the download while it is written: the file's own name, then a number that no
// earlier run is likely to have left, so that the exclusive creation does not meet a leftover.
std::u16string temporary_name(std::u16string_view name) {
    // Built by appending: GCC 12 warns falsely about operator+ on strings at -O3.
    std::string suffix = ".";
    suffix.append(std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    suffix.append(".part");
    std::u16string temporary(name);
    temporary.append(utf8_to_wide(suffix).c_str());
    return temporary;
}

constexpr std::size_t DIGITS = 64;

// `text` starts with one or more decimal digits followed by `rest`.
bool digits_then(std::u16string_view text, std::u16string_view rest) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') {
        ++digits;
    }
    return digits > 0 && text.substr(digits) == rest;
}

}  // namespace

bool is_cache_entry_name(std::u16string_view name) {
    if (name.size() < DIGITS ||
        !std::all_of(name.begin(), name.begin() + DIGITS, [](char16_t unit) {
            return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f');
        })) {
        return false;
    }
    for (const std::u16string_view ending : {u".img.z.partial", u".img.z"}) {
        const std::u16string_view rest = name.substr(DIGITS);
        if (rest == ending || (rest.starts_with(ending) && rest.size() > ending.size() &&
                               rest[ending.size()] == u'.' &&
                               digits_then(rest.substr(ending.size() + 1), u".part"))) {
            return true;
        }
    }
    return false;
}

std::optional<std::u16string> cache_folder_path() {
    std::array<char16_t, os::TEMP_PATH_UNITS> home{};
    const u32 units = os::cache_home(home);
    // 0 is a failure; an answer of the buffer's size or more is the size a longer path needs,
    // and the buffer then holds no path.
    if (units == 0 || units >= home.size()) {
        return std::nullopt;
    }
    std::u16string path(home.data(), units);
    path.append(CACHE_FOLDER_NAME);
    return path;
}

ImageCache ImageCache::open() {
    ImageCache cache;
    const std::optional<std::u16string> folder_path = cache_folder_path();
    if (!folder_path) {
        return cache;
    }
    const std::u16string& path = *folder_path;
    // The folder may exist already; one that cannot be made simply does not open below.
    (void)os::create_directory(path.c_str());
    // Without delete sharing: while the cache holds the folder, nobody renames it away and puts
    // a junction or link in its place.
    const os::Handle folder = os::create_file(
        path.c_str(), os::GENERIC_READ_ACCESS, os::SHARE_READ | os::SHARE_WRITE,
        os::OPEN_EXISTING_FILE, os::FLAG_BACKUP_SEMANTICS | os::FLAG_OPEN_REPARSE_POINT);
    if (folder == os::INVALID_HANDLE) {
        return cache;
    }
    u32 attributes = 0;
    std::optional<std::u16string> final_path;
    if (!os::file_attributes(folder, attributes) || (attributes & os::ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & os::ATTRIBUTE_REPARSE_POINT) != 0 || !(final_path = final_path_of(folder))) {
        os::close_handle(folder);
        return cache;
    }
    cache.folder_ = folder;
    cache.folder_final_path_ = std::move(*final_path);
    return cache;
}

ImageCache::ImageCache(ImageCache&& other) noexcept
    : folder_(std::exchange(other.folder_, os::INVALID_HANDLE)),
      folder_final_path_(std::move(other.folder_final_path_)),
      doubtful_(other.doubtful_) {}

ImageCache::~ImageCache() {
    if (folder_ != os::INVALID_HANDLE) {
        os::close_handle(folder_);
    }
}

bool ImageCache::is_own_file(os::Handle file, std::u16string_view name) const {
    const std::optional<std::u16string> path = final_path_of(file);
    const std::size_t folder_units = folder_final_path_.size();
    return path && path->size() == folder_units + 1 + name.size() &&
           path->starts_with(folder_final_path_) &&
           ((*path)[folder_units] == u'\\' || (*path)[folder_units] == u'/') &&
           path->ends_with(name);
}

os::Handle ImageCache::open_own(std::u16string_view name) {
    if (!usable()) {
        return os::INVALID_HANDLE;
    }
    const std::u16string entry = std::u16string(name);
    const os::Handle file =
        os::create_file_in(folder_, entry.c_str(), os::GENERIC_READ_ACCESS, os::SHARE_READ,
                           os::OPEN_EXISTING_FILE, os::FLAG_OPEN_REPARSE_POINT);
    if (file == os::INVALID_HANDLE) {
        // Nothing there is the one ordinary miss; anything else at the name (a link that is not
        // followed, a folder, something that refuses to open) is left alone.
        doubtful_ = os::last_error_code() != os::FILE_NOT_FOUND_CODE;
        return os::INVALID_HANDLE;
    }
    u32 attributes = 0;
    if (!os::file_attributes(file, attributes) || (attributes & NOT_A_PLAIN_FILE) != 0 ||
        !is_own_file(file, name)) {
        os::close_handle(file);
        doubtful_ = true;
        return os::INVALID_HANDLE;
    }
    return file;
}

std::optional<std::vector<u8>> ImageCache::read(std::u16string_view name, u64 size_bytes) {
    const os::Handle file = open_own(name);
    if (file == os::INVALID_HANDLE) {
        return std::nullopt;
    }
    // A file of another size is not the release: it is downloaded again and replaced.
    u64 size = 0;
    std::optional<std::vector<u8>> bytes;
    if (os::get_file_size(file, size) && size == size_bytes) {
        bytes = read_open_file(file, size);
        if (bytes->size() != size) {
            bytes.reset();
        }
    }
    os::close_handle(file);
    return bytes;
}

bool ImageCache::read_part(std::u16string_view name, u64 limit_bytes, std::vector<u8>& bytes) {
    const os::Handle file = open_own(name);
    if (file == os::INVALID_HANDLE) {
        return false;
    }
    u64 size = 0;
    const bool sized = os::get_file_size(file, size);
    bool whole = false;
    if (sized && size <= limit_bytes) {
        // Read in pieces into the room the caller took, grown just before each read.
        const std::size_t start = bytes.size();
        u64 filled = 0;
        while (filled < size) {
            const u32 piece = static_cast<u32>(std::min<u64>(size - filled, FILE_READ_PIECE_BYTES));
            bytes.resize(start + filled + piece);
            u32 read = 0;
            if (!os::read_file(file, bytes.data() + start + filled, piece, read) || read == 0) {
                break;
            }
            filled += read;
        }
        bytes.resize(start + filled);
        whole = filled == size;
        if (!whole) {
            bytes.resize(start);
        }
    }
    os::close_handle(file);
    if (sized && size > limit_bytes) {
        remove(name);
    }
    return whole;
}

bool ImageCache::store(std::u16string_view name, std::span<const u8> bytes) {
    if (!usable()) {
        return false;
    }
    const std::u16string temporary = temporary_name(name);
    const os::Handle file =
        os::create_file_in(folder_, temporary.c_str(), os::GENERIC_WRITE_ACCESS, 0,
                           os::CREATE_NEW_FILE, NORMAL_FILE | os::FLAG_OPEN_REPARSE_POINT);
    if (file == os::INVALID_HANDLE) {
        return false;
    }
    bool written = false;
    if (is_own_file(file, temporary)) {
        // One write of everything: the file is at most the manifest's limit plus one byte,
        // which a 32-bit count holds.
        u32 count = 0;
        written = os::write_file(file, bytes.data(), static_cast<u32>(bytes.size()), count) &&
                  count == bytes.size();
    }
    os::close_handle(file);
    const std::u16string entry = std::u16string(name);
    if (!written || !os::move_file_in(folder_, temporary.c_str(), entry.c_str())) {
        (void)os::delete_file_in(folder_, temporary.c_str());
        return false;
    }
    return true;
}

void ImageCache::remove(std::u16string_view name) {
    if (!usable()) {
        return;
    }
    const std::u16string entry = std::u16string(name);
    (void)os::delete_file_in(folder_, entry.c_str());
}

void ImageCache::remove_all_but(std::u16string_view kept) {
    std::vector<os::FolderEntry> entries;
    if (!usable() || !os::list_folder(folder_, entries)) {
        return;
    }
    const std::u16string_view release = kept.substr(0, std::min(kept.size(), DIGITS));
    for (const os::FolderEntry& entry : entries) {
        const std::u16string_view name = entry.name;
        // The listing's attributes say what the entry is without opening it; deleting the entry
        // (unlinkat, DeleteFileW) never reaches through a link, so one made since the listing
        // is removed itself at most, and its target stays.
        if ((entry.attributes & NOT_A_PLAIN_FILE) != 0 || name == kept ||
            !is_cache_entry_name(name) || (name.starts_with(release) && name.ends_with(u".part"))) {
            continue;
        }
        (void)os::delete_file_in(folder_, entry.name.c_str());
    }
}

}  // namespace orvelo
