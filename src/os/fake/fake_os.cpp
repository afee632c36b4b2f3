#include "os/fake/fake_os.h"
#include "os/fake/fake_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/unicode.h"

namespace {

constexpr std::align_val_t PAGE_ALIGNMENT{4096};

}  // namespace

namespace orvelo::fake {

FakeOs& fake_os() {
    static FakeOs os;
    return os;
}

void reset_fake_os() {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    for (void* block : os.live_pages) {
        ::operator delete(block, PAGE_ALIGNMENT);
    }
    os.last_error = 0;
    os.system_messages.clear();
    os.http_library_messages.clear();
    os.slept_ms = 0;
    os.command_line.clear();
    os.posted_job_ends.clear();
    os.on_post_job_end = nullptr;
    os.files.clear();
    os.temp_folder = u"C:\\Users\\ada\\AppData\\Local\\Temp\\";
    os.windows_directory = u"C:\\Windows";
    os.directories.clear();
    os.reparse_points.clear();
    os.final_path_overrides.clear();
    os.http_host = "updates.test";
    os.http_answers.clear();
    os.http_next_answers.clear();
    os.open_http.clear();
    os.disks.clear();
    os.volumes.clear();
    os.injections.clear();
    os.on_call = nullptr;
    os.open_handles.clear();
    os.next_handle = 100;
    os.live_pages.clear();
    os.largest_pages_bytes = 0;
    os.calls.clear();
}

std::vector<std::uint8_t> storage_descriptor(std::uint32_t bus_type, const std::string& vendor,
                                             const std::string& product,
                                             const std::string& serial_number) {
    std::vector<std::uint8_t> bytes(1024, 0);
    const auto put_u32 = [&bytes](std::size_t at, std::uint32_t value) {
        std::memcpy(bytes.data() + at, &value, 4);
    };
    put_u32(0, 1);     // Version
    put_u32(4, 1024);  // Size
    put_u32(28, bus_type);
    std::size_t next = 40;  // the texts follow the fixed fields
    const auto put_text = [&](std::size_t offset_at, const std::string& text) {
        if (text.empty()) {
            return;
        }
        put_u32(offset_at, static_cast<std::uint32_t>(next));
        std::memcpy(bytes.data() + next, text.data(), text.size());
        next += text.size() + 1;
    };
    put_text(12, vendor);
    put_text(16, product);
    put_text(24, serial_number);
    return bytes;
}

std::vector<std::string> fake_calls() {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    return os.calls;
}

std::vector<std::string> fake_calls_named(std::initializer_list<std::string> prefixes) {
    std::vector<std::string> kept;
    for (const std::string& call : fake_calls()) {
        for (const std::string& prefix : prefixes) {
            if (call.starts_with(prefix + "(")) {
                kept.push_back(call);
                break;
            }
        }
    }
    return kept;
}

}  // namespace orvelo::fake

namespace orvelo::os {
namespace {

using fake::Effect;
using fake::fake_os;
using fake::FakeOs;
using namespace fake::internal;

constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t ERROR_NO_MORE_FILES = 18;
constexpr std::uint32_t ERROR_SECTOR_NOT_FOUND = 27;
constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t ERROR_INVALID_FUNCTION = 1;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_WRITE_PROTECT = 19;
constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr std::uint32_t ERROR_MORE_DATA = 234;
constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr std::uint32_t ERROR_FILE_EXISTS = 80;

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

// The log's name for a handle: the path it was opened as, or "find" for an enumeration.
std::string name_of(FakeOs& os, Handle handle) {
    const auto found = os.open_handles.find(static_cast<std::uintptr_t>(handle));
    if (found == os.open_handles.end()) {
        return "invalid";
    }
    return found->second.kind == FakeOs::Open::Kind::Find ? "find" : utf8(found->second.path);
}

FakeOs::Open* find_open(FakeOs& os, Handle handle) {
    const auto found = os.open_handles.find(static_cast<std::uintptr_t>(handle));
    return found == os.open_handles.end() ? nullptr : &found->second;
}

fake::FakeVolume* volume_named(FakeOs& os, const std::u16string& path) {
    for (fake::FakeVolume& volume : os.volumes) {
        std::u16string name = volume.name;
        if (!name.empty() && name.back() == u'\\') {
            name.pop_back();
        }
        if (name == path) {
            return &volume;
        }
    }
    return nullptr;
}

Handle add_open(FakeOs& os, FakeOs::Open open) {
    const std::uintptr_t value = os.next_handle++;
    os.open_handles.emplace(value, std::move(open));
    return Handle(value);
}

bool opened_for_writing(const FakeOs::Open& open) {
    return (open.access & (GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS)) ==
           (GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS);
}

// Checks one transfer on a disk against the unbuffered rules and the disk's size.
bool transfer_allowed(FakeOs& os, const FakeOs::Open& open, const void* buffer,
                      std::uint32_t length) {
    if ((open.flags & FLAG_NO_BUFFERING) != 0 &&
        (open.position % 512 != 0 || length % 512 != 0 ||
         reinterpret_cast<std::uintptr_t>(buffer) % 4096 != 0)) {
        return fail_with(os, ERROR_INVALID_PARAMETER);
    }
    return true;
}

}  // namespace

namespace {

// The path an open reaches: every reparse point in the middle of the path is followed, and one
// at its end unless `open_link` asks for the link itself. Gives the path and whether the handle
// then has a link open.
std::pair<std::u16string, bool> reach(const FakeOs& os, std::u16string path, bool open_link) {
    for (int depth = 0; depth < 16; ++depth) {
        bool followed = false;
        for (const auto& [link, target] : os.reparse_points) {
            if (path == link) {
                if (open_link) {
                    return {path, true};
                }
                path = target;
                followed = true;
                break;
            }
            if (path.starts_with(link + u"\\")) {
                path = target + path.substr(link.size());
                followed = true;
                break;
            }
        }
        if (!followed) {
            return {path, false};
        }
    }
    return {path, false};
}

bool exists(const FakeOs& os, const std::u16string& path) {
    return os.files.contains(path) || os.directories.contains(path) ||
           os.reparse_points.contains(path);
}

// create_file's work, for the path `name` as the caller gives it.
Handle open_path(FakeOs& os, const std::u16string& name, std::uint32_t access,
                 std::uint32_t disposition, std::uint32_t flags) {
    if (const auto disk = os.disks.find(name); disk != os.disks.end()) {
        const bool data_access = (access & (GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS)) != 0;
        if (disk->second.open_fails || (disk->second.access_open_fails && data_access)) {
            fail_with(os, disk->second.open_error);
            return INVALID_HANDLE;
        }
        return add_open(os, {FakeOs::Open::Kind::Disk, name, flags, 0, 0, name});
    }
    if (fake::FakeVolume* volume = volume_named(os, name)) {
        if (volume->open_fails) {
            fail_with(os, ERROR_ACCESS_DENIED);
            return INVALID_HANDLE;
        }
        if (volume->write_open_fails && (access & GENERIC_WRITE_ACCESS) != 0) {
            fail_with(os, volume->write_open_error);
            return INVALID_HANDLE;
        }
        return add_open(os, {FakeOs::Open::Kind::Volume, name, flags, 0, 0, name, access});
    }
    const auto [reached, is_link] = reach(os, name, (flags & FLAG_OPEN_REPARSE_POINT) != 0);
    if (disposition == CREATE_NEW_FILE && exists(os, reached)) {
        fail_with(os, ERROR_FILE_EXISTS);
        return INVALID_HANDLE;
    }
    if (is_link) {
        return add_open(os, {FakeOs::Open::Kind::Link, name, flags, 0, 0, reached});
    }
    if (os.directories.contains(reached)) {
        if ((flags & FLAG_BACKUP_SEMANTICS) == 0) {
            fail_with(os, ERROR_ACCESS_DENIED);  // a folder opens only as a folder
            return INVALID_HANDLE;
        }
        return add_open(os, {FakeOs::Open::Kind::Directory, name, flags, 0, 0, reached});
    }
    if (disposition == CREATE_ALWAYS_FILE || disposition == CREATE_NEW_FILE) {
        const std::size_t separator = reached.rfind(u'\\');
        if (separator != std::u16string::npos &&
            !os.directories.contains(reached.substr(0, separator))) {
            fail_with(os, 3);  // ERROR_PATH_NOT_FOUND
            return INVALID_HANDLE;
        }
        os.files[reached].clear();
    }
    if (os.files.contains(reached)) {
        return add_open(os, {FakeOs::Open::Kind::File, name, flags, 0, 0, reached});
    }
    fail_with(os, ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE;
}

// The final path the system reports for a reached path.
std::u16string final_path_of(const FakeOs& os, const std::u16string& reached) {
    for (const auto& [prefix, elsewhere] : os.final_path_overrides) {
        if (reached.starts_with(prefix)) {
            return elsewhere + reached.substr(prefix.size());
        }
    }
    return reached;
}

// The path of `name` in the folder `folder` has open: the folder's final path, a backslash and
// the name; empty when the handle has no folder open.
std::u16string path_in(FakeOs& os, Handle folder, const char16_t* name) {
    FakeOs::Open* open = find_open(os, folder);
    if (open == nullptr || open->kind != FakeOs::Open::Kind::Directory) {
        return {};
    }
    return final_path_of(os, open->reached) + u"\\" + name;
}

}  // namespace

Handle create_file(const char16_t* path, std::uint32_t access, std::uint32_t share,
                   std::uint32_t disposition, std::uint32_t flags) {
    notify("create_file");
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    const std::u16string name(path);
    log(os, "create_file(" + utf8(name) + ", " + hex(access) + ", " + hex(share) + ", " +
                hex(disposition) + ", " + hex(flags) + ")");
    if (const auto injection = hit(os, "create_file")) {
        fail_with(os, injection->error);
        return INVALID_HANDLE;
    }
    return open_path(os, name, access, disposition, flags);
}

Handle create_file_in(Handle folder, const char16_t* name, std::uint32_t access,
                      std::uint32_t share, std::uint32_t disposition, std::uint32_t flags) {
    notify("create_file_in");
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "create_file_in(" + name_of(os, folder) + ", " + utf8(name) + ", " + hex(access) +
                ", " + hex(share) + ", " + hex(disposition) + ", " + hex(flags) + ")");
    if (const auto injection = hit(os, "create_file_in")) {
        fail_with(os, injection->error);
        return INVALID_HANDLE;
    }
    const std::u16string path = path_in(os, folder, name);
    if (path.empty()) {
        fail_with(os, ERROR_INVALID_HANDLE);
        return INVALID_HANDLE;
    }
    return open_path(os, path, access, disposition, flags);
}

bool move_file_in(Handle folder, const char16_t* from, const char16_t* to) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "move_file_in(" + name_of(os, folder) + ", " + utf8(from) + ", " + utf8(to) + ")");
    if (const auto injection = hit(os, "move_file_in")) {
        return fail_with(os, injection->error);
    }
    const std::u16string from_path = path_in(os, folder, from);
    const std::u16string to_path = path_in(os, folder, to);
    if (from_path.empty() || !os.files.contains(from_path)) {
        return fail_with(os, ERROR_FILE_NOT_FOUND);
    }
    if (os.directories.contains(to_path)) {
        return fail_with(os, ERROR_ACCESS_DENIED);
    }
    // The entry is replaced: a link there goes, and what it pointed to stays as it was.
    os.reparse_points.erase(to_path);
    os.files[to_path] = std::move(os.files[from_path]);
    os.files.erase(from_path);
    return true;
}

bool delete_file_in(Handle folder, const char16_t* name) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "delete_file_in(" + name_of(os, folder) + ", " + utf8(name) + ")");
    const std::u16string path = path_in(os, folder, name);
    if (path.empty() || (os.files.erase(path) == 0 && os.reparse_points.erase(path) == 0)) {
        return fail_with(os, ERROR_FILE_NOT_FOUND);
    }
    return true;
}

bool list_folder(Handle folder, std::vector<FolderEntry>& entries) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "list_folder(" + name_of(os, folder) + ")");
    if (const auto injection = hit(os, "list_folder")) {
        return fail_with(os, injection->error);
    }
    FakeOs::Open* open = find_open(os, folder);
    if (open == nullptr || open->kind != FakeOs::Open::Kind::Directory) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    // The entries directly in the folder reached, by kind; the maps keep each kind in order.
    const std::u16string prefix = open->reached + u"\\";
    const auto add = [&](const std::u16string& path, std::uint32_t attributes) {
        if (path.starts_with(prefix) && path.find(u'\\', prefix.size()) == std::u16string::npos) {
            entries.push_back({path.substr(prefix.size()), attributes});
        }
    };
    for (const auto& [path, unused] : os.files) {
        add(path, 0);
    }
    for (const std::u16string& path : os.directories) {
        add(path, ATTRIBUTE_DIRECTORY);
    }
    for (const auto& [path, unused] : os.reparse_points) {
        add(path, ATTRIBUTE_REPARSE_POINT);
    }
    return true;
}

bool file_attributes(Handle handle, std::uint32_t& attributes) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "file_attributes(" + name_of(os, handle) + ")");
    if (const auto injection = hit(os, "file_attributes")) {
        return fail_with(os, injection->error);
    }
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr || open->kind == FakeOs::Open::Kind::Find) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    switch (open->kind) {
        case FakeOs::Open::Kind::Directory:
            attributes = ATTRIBUTE_DIRECTORY;
            break;
        case FakeOs::Open::Kind::Link:
            attributes =
                ATTRIBUTE_REPARSE_POINT |
                (os.directories.contains(os.reparse_points[open->reached]) ? ATTRIBUTE_DIRECTORY
                                                                           : 0);
            break;
        case FakeOs::Open::Kind::File:
            attributes = 0x80;  // FILE_ATTRIBUTE_NORMAL
            break;
        default:
            attributes = ATTRIBUTE_DEVICE;
            break;
    }
    return true;
}

std::uint32_t final_path(Handle handle, std::span<char16_t, FINAL_PATH_UNITS> buffer) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "final_path(" + name_of(os, handle) + ")");
    if (const auto injection = hit(os, "final_path")) {
        fail_with(os, injection->error);
        return 0;
    }
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr || open->kind == FakeOs::Open::Kind::Find) {
        fail_with(os, ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::u16string path = final_path_of(os, open->reached);
    if (path.size() >= buffer.size()) {
        return static_cast<std::uint32_t>(path.size() + 1);
    }
    std::copy(path.begin(), path.end(), buffer.begin());
    return static_cast<std::uint32_t>(path.size());
}

void close_handle(Handle handle) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "close_handle(" + name_of(os, handle) + ")");
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr) {
        return;
    }
    if (open->kind == FakeOs::Open::Kind::Volume) {
        if (fake::FakeVolume* volume = volume_named(os, open->path)) {
            volume->locked = false;
        }
    }
    os.open_handles.erase(static_cast<std::uintptr_t>(handle));
}

bool get_file_size(Handle handle, std::uint64_t& size_bytes) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "get_file_size(" + name_of(os, handle) + ")");
    if (const auto injection = hit(os, "get_file_size")) {
        return fail_with(os, injection->error);
    }
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr || open->kind != FakeOs::Open::Kind::File) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    size_bytes = os.files[open->reached].size();
    return true;
}

bool set_file_pointer(Handle handle, std::uint64_t offset) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "set_file_pointer(" + name_of(os, handle) + ", " + std::to_string(offset) + ")");
    if (const auto injection = hit(os, "set_file_pointer")) {
        return fail_with(os, injection->error);
    }
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    open->position = offset;
    return true;
}

bool read_file(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& done_bytes) {
    notify("read_file");
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    done_bytes = 0;
    log(os, "read_file(" + name_of(os, handle) + ", " + std::to_string(length) + ")");
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    const auto injection = hit(os, "read_file");
    if (injection && injection->effect == Effect::Fail) {
        return fail_with(os, injection->error);
    }
    const std::vector<std::uint8_t>* source = nullptr;
    if (open->kind == FakeOs::Open::Kind::Disk) {
        if (!transfer_allowed(os, *open, buffer, length)) {
            return false;
        }
        source = &os.disks[open->path].bytes;
    } else if (open->kind == FakeOs::Open::Kind::File) {
        source = &os.files[open->reached];
    } else {
        return fail_with(os, ERROR_INVALID_FUNCTION);
    }
    std::uint64_t available = open->position < source->size() ? source->size() - open->position : 0;
    std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, available));
    if (injection && injection->effect == Effect::Short && count >= 512) {
        count -= 512;
    }
    if (count != 0) {
        std::memcpy(buffer, source->data() + open->position, count);
    }
    if (injection && injection->effect == Effect::Corrupt && count != 0) {
        static_cast<std::uint8_t*>(buffer)[0] ^= 0xFF;
    }
    open->position += count;
    done_bytes = count;
    return true;
}

bool write_file(Handle handle, const void* buffer, std::uint32_t length,
                std::uint32_t& done_bytes) {
    notify("write_file");
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    done_bytes = 0;
    log(os, "write_file(" + name_of(os, handle) + ", " + std::to_string(length) + ")");
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr ||
        (open->kind != FakeOs::Open::Kind::Disk && open->kind != FakeOs::Open::Kind::File)) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    const auto injection = hit(os, "write_file");
    if (injection && injection->effect == Effect::Fail) {
        return fail_with(os, injection->error);
    }
    if (open->kind == FakeOs::Open::Kind::File) {
        std::vector<std::uint8_t>& file = os.files[open->reached];
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        if (file.size() < open->position + length) {
            file.resize(open->position + length);
        }
        std::memcpy(file.data() + open->position, bytes, length);
        open->position += length;
        done_bytes = length;
        return true;
    }
    if (!transfer_allowed(os, *open, buffer, length)) {
        return false;
    }
    std::vector<std::uint8_t>& bytes = os.disks[open->path].bytes;
    if (open->position + length > bytes.size()) {
        return fail_with(os, ERROR_SECTOR_NOT_FOUND);
    }
    std::uint32_t count = length;
    if (injection && injection->effect == Effect::Short && count >= 512) {
        count -= 512;
    }
    std::memcpy(bytes.data() + open->position, buffer, count);
    open->position += count;
    done_bytes = count;
    return true;
}

bool flush_file_buffers(Handle handle) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "flush_file_buffers(" + name_of(os, handle) + ")");
    if (const auto injection = hit(os, "flush_file_buffers")) {
        return fail_with(os, injection->error);
    }
    return true;
}

bool device_io_control(Handle handle, std::uint32_t code, const void*, std::uint32_t in_size,
                       void* out, std::uint32_t out_size) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "device_io_control(" + name_of(os, handle) + ", " + hex(code) + ", in " +
                std::to_string(in_size) + ", out " + std::to_string(out_size) + ")");
    if (const auto injection = hit(os, "device_io_control")) {
        return fail_with(os, injection->error);
    }
    FakeOs::Open* open = find_open(os, handle);
    if (open == nullptr) {
        return fail_with(os, ERROR_INVALID_HANDLE);
    }
    fake::FakeVolume* volume =
        open->kind == FakeOs::Open::Kind::Volume ? volume_named(os, open->path) : nullptr;
    fake::FakeDisk* disk = open->kind == FakeOs::Open::Kind::Disk ? &os.disks[open->path] : nullptr;
    switch (code) {
        case 0x560000: {  // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS
            if (volume == nullptr || volume->extents_fail) {
                return fail_with(os, ERROR_INVALID_FUNCTION);
            }
            // VOLUME_DISK_EXTENTS: the count at 0, then 24-byte extents from byte 8.
            const std::size_t needed = 8 + 24 * volume->extent_disks.size();
            if (out_size < needed) {
                return fail_with(os, ERROR_MORE_DATA);
            }
            auto* bytes = static_cast<std::uint8_t*>(out);
            const auto count = static_cast<std::uint32_t>(volume->extent_disks.size());
            std::memcpy(bytes, &count, 4);
            for (std::size_t i = 0; i < volume->extent_disks.size(); ++i) {
                std::memcpy(bytes + 8 + 24 * i, &volume->extent_disks[i], 4);
            }
            return true;
        }
        // The fake takes a lock or a dismount only through a handle opened for reading and
        // writing, so that a test sees which of a volume's handles the code locks through.
        case 0x90018:  // FSCTL_LOCK_VOLUME
            if (volume == nullptr || volume->lock_fails || !opened_for_writing(*open)) {
                return fail_with(os, ERROR_ACCESS_DENIED);
            }
            if (volume->lock_refusals > 0) {
                --volume->lock_refusals;
                return fail_with(os, ERROR_ACCESS_DENIED);
            }
            volume->locked = true;
            return true;
        case 0x90020:  // FSCTL_DISMOUNT_VOLUME
            if (volume == nullptr) {
                return fail_with(os, ERROR_INVALID_FUNCTION);
            }
            if (!opened_for_writing(*open)) {
                return fail_with(os, ERROR_ACCESS_DENIED);
            }
            volume->dismounted = true;
            return true;
        case 0x70024:  // IOCTL_DISK_IS_WRITABLE
            if (disk == nullptr) {
                return fail_with(os, ERROR_INVALID_FUNCTION);
            }
            return disk->write_protected ? fail_with(os, ERROR_WRITE_PROTECT) : true;
        case 0x2D1400: {  // IOCTL_STORAGE_QUERY_PROPERTY
            if (disk == nullptr || !disk->descriptor) {
                return fail_with(os, ERROR_INVALID_FUNCTION);
            }
            const std::size_t count = std::min<std::size_t>(disk->descriptor->size(), out_size);
            std::memcpy(out, disk->descriptor->data(), count);
            return true;
        }
        case 0x700A0: {  // IOCTL_DISK_GET_DRIVE_GEOMETRY_EX
            if (disk == nullptr || !disk->geometry) {
                return fail_with(os, ERROR_INVALID_FUNCTION);
            }
            if (out_size < 32) {
                return fail_with(os, ERROR_INSUFFICIENT_BUFFER);
            }
            // DISK_GEOMETRY (24 bytes, BytesPerSector at 20), then DiskSize.
            auto* bytes = static_cast<std::uint8_t*>(out);
            std::memcpy(bytes + 20, &disk->geometry->bytes_per_sector, 4);
            std::memcpy(bytes + 24, &disk->geometry->disk_size, 8);
            return true;
        }
        case 0x2D0800:  // IOCTL_STORAGE_CHECK_VERIFY2: the media change count, a ULONG
            if (disk == nullptr || !disk->media_change_count) {
                return fail_with(os, ERROR_INVALID_FUNCTION);
            }
            if (out_size < 4) {
                return fail_with(os, ERROR_INSUFFICIENT_BUFFER);
            }
            std::memcpy(out, &*disk->media_change_count, 4);
            return true;
        case 0x70140:  // IOCTL_DISK_UPDATE_PROPERTIES
            return disk != nullptr ? true : fail_with(os, ERROR_INVALID_FUNCTION);
        default:
            return fail_with(os, ERROR_INVALID_FUNCTION);
    }
}

Handle find_first_volume(std::span<char16_t, VOLUME_NAME_UNITS> name) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "find_first_volume()");
    if (const auto injection = hit(os, "find_first_volume")) {
        fail_with(os, injection->error);
        return INVALID_HANDLE;
    }
    if (os.volumes.empty()) {
        fail_with(os, ERROR_NO_MORE_FILES);
        return INVALID_HANDLE;
    }
    std::fill(name.begin(), name.end(), u'\0');
    std::copy(os.volumes[0].name.begin(), os.volumes[0].name.end(), name.begin());
    return add_open(os, {FakeOs::Open::Kind::Find, u"", 0, 0, 1});
}

bool find_next_volume(Handle find, std::span<char16_t, VOLUME_NAME_UNITS> name) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "find_next_volume()");
    FakeOs::Open* open = find_open(os, find);
    if (open == nullptr || open->next_volume >= os.volumes.size()) {
        return fail_with(os, ERROR_NO_MORE_FILES);
    }
    std::fill(name.begin(), name.end(), u'\0');
    const std::u16string& next = os.volumes[open->next_volume++].name;
    std::copy(next.begin(), next.end(), name.begin());
    return true;
}

void find_volume_close(Handle find) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "find_volume_close()");
    os.open_handles.erase(static_cast<std::uintptr_t>(find));
}

std::uint32_t cache_home(std::span<char16_t, TEMP_PATH_UNITS> buffer) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "cache_home()");
    if (const auto injection = hit(os, "cache_home")) {
        fail_with(os, injection->error);
        return 0;
    }
    if (os.temp_folder.size() >= buffer.size()) {
        return static_cast<std::uint32_t>(os.temp_folder.size() + 1);
    }
    std::copy(os.temp_folder.begin(), os.temp_folder.end(), buffer.begin());
    return static_cast<std::uint32_t>(os.temp_folder.size());
}

std::uint32_t windows_directory(std::span<char16_t, WINDOWS_DIRECTORY_UNITS> buffer) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "windows_directory()");
    if (os.windows_directory.empty()) {
        fail_with(os, ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (os.windows_directory.size() >= buffer.size()) {
        return static_cast<std::uint32_t>(os.windows_directory.size() + 1);
    }
    std::copy(os.windows_directory.begin(), os.windows_directory.end(), buffer.begin());
    return static_cast<std::uint32_t>(os.windows_directory.size());
}

bool create_directory(const char16_t* path) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    const std::u16string name(path);
    log(os, "create_directory(" + utf8(name) + ")");
    if (const auto injection = hit(os, "create_directory")) {
        return fail_with(os, injection->error);
    }
    if (os.files.contains(name) || os.reparse_points.contains(name) ||
        !os.directories.insert(name).second) {
        return fail_with(os, 183);  // ERROR_ALREADY_EXISTS
    }
    return true;
}

void* allocate_pages(std::size_t size_bytes) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "allocate_pages(" + std::to_string(size_bytes) + ")");
    if (const auto injection = hit(os, "allocate_pages")) {
        fail_with(os, injection->error);
        return nullptr;
    }
    void* block = ::operator new(size_bytes, PAGE_ALIGNMENT);
    std::memset(block, 0, size_bytes);
    os.live_pages.insert(block);
    os.largest_pages_bytes = std::max<std::uint64_t>(os.largest_pages_bytes, size_bytes);
    return block;
}

void free_pages(void* block) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "free_pages()");
    if (os.live_pages.erase(block) != 0) {
        ::operator delete(block, PAGE_ALIGNMENT);
    }
}

std::uint32_t short_transfer_error_code() {
    return 38;
}  // ERROR_HANDLE_EOF

// The fake models Windows.
bool open_refused_as_in_use(std::uint32_t code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
}

bool write_refused_by_security(std::uint32_t code) {
    return code == ERROR_ACCESS_DENIED;
}

std::uint32_t last_error_code() {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "last_error_code()");
    return os.last_error;
}

std::uint32_t system_message(std::uint32_t code, std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "system_message(" + std::to_string(code) + ")");
    const auto found = os.system_messages.find(code);
    // Like the system: a text that does not fit with its terminating zero is not given at all.
    if (found == os.system_messages.end() || found->second.size() >= buffer.size()) {
        return 0;
    }
    std::copy(found->second.begin(), found->second.end(), buffer.begin());
    buffer[found->second.size()] = u'\0';
    return static_cast<std::uint32_t>(found->second.size());
}

std::string error_code_label(std::uint32_t code) {
    return std::to_string(code);
}

std::uint32_t http_library_message(std::uint32_t code,
                                   std::span<char16_t, SYSTEM_MESSAGE_UNITS> buffer) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "http_library_message(" + std::to_string(code) + ")");
    const auto found = os.http_library_messages.find(code);
    if (found == os.http_library_messages.end() || found->second.size() >= buffer.size()) {
        return 0;
    }
    std::copy(found->second.begin(), found->second.end(), buffer.begin());
    buffer[found->second.size()] = u'\0';
    return static_cast<std::uint32_t>(found->second.size());
}

void advise_large_buffer(void*, std::size_t) {}

void sleep_ms(std::uint32_t milliseconds) {
    notify("sleep_ms");
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "sleep_ms(" + std::to_string(milliseconds) + ")");
    os.slept_ms += milliseconds;
}

std::u16string command_line() {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "command_line()");
    return os.command_line;
}

void keep_system_awake(bool awake) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "keep_system_awake(" + std::to_string(awake ? 1 : 0) + ")");
}

void block_shutdown(WindowHandle window, const char16_t* reason) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "block_shutdown(" + std::to_string(static_cast<std::uintptr_t>(window)) + ", " +
                utf8(reason) + ")");
}

void unblock_shutdown(WindowHandle window) {
    FakeOs& os = fake_os();
    const std::lock_guard lock(os.mutex);
    log(os, "unblock_shutdown(" + std::to_string(static_cast<std::uintptr_t>(window)) + ")");
}

void post_job_end(WindowHandle window) {
    FakeOs& os = fake_os();
    std::function<void(WindowHandle)> observer;
    {
        const std::lock_guard lock(os.mutex);
        log(os, "post_job_end(" + std::to_string(static_cast<std::uintptr_t>(window)) + ")");
        os.posted_job_ends.push_back(window);
        observer = os.on_post_job_end;
    }
    if (observer) {
        observer(window);
    }
}

}  // namespace orvelo::os
