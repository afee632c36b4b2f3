#include "drive/drive_discovery.h"

#include <mutex>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "drive/raw_drive.h"
#include "os/file.h"

namespace orvelo {
namespace {

// The buses a drive may sit on to be offered, looked up in this order.
constexpr std::array<u32, 3> OFFERED_BUS_TYPES = {BUS_TYPE_USB, BUS_TYPE_SD, BUS_TYPE_MMC};

// STORAGE_DEVICE_DESCRIPTOR and DISK_GEOMETRY_EX fields.
constexpr std::size_t VENDOR_ID_OFFSET_AT = 12;
constexpr std::size_t PRODUCT_ID_OFFSET_AT = 16;
constexpr std::size_t SERIAL_NUMBER_OFFSET_AT = 24;
constexpr std::size_t BUS_TYPE_AT = 28;
constexpr std::size_t BYTES_PER_SECTOR_AT = 20;
constexpr std::size_t DISK_SIZE_AT = 24;

constexpr std::string_view REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";

bool is_offered_bus(u32 bus_type) {
    for (const u32 offered : OFFERED_BUS_TYPES) {
        if (bus_type == offered) {
            return true;
        }
    }
    return false;
}

// A well-formed sequence led by a given byte: its length (0 when the byte cannot lead one) and
// the range of its second byte; any further bytes are 80..BF.
struct SequenceRule {
    std::size_t length;
    u8 second_low;
    u8 second_high;
};

SequenceRule rule_for(u8 lead) {
    if (lead < 0x80) {
        return {1, 0, 0};
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {2, 0x80, 0xBF};
    }
    if (lead == 0xE0) {
        return {3, 0xA0, 0xBF};  // no overlong three-byte forms
    }
    if (lead == 0xED) {
        return {3, 0x80, 0x9F};  // no surrogates
    }
    if (lead >= 0xE1 && lead <= 0xEF) {
        return {3, 0x80, 0xBF};
    }
    if (lead == 0xF0) {
        return {4, 0x90, 0xBF};  // no overlong four-byte forms
    }
    if (lead >= 0xF1 && lead <= 0xF3) {
        return {4, 0x80, 0xBF};
    }
    if (lead == 0xF4) {
        return {4, 0x80, 0x8F};  // nothing above U+10FFFF
    }
    return {0, 0, 0};
}

os::Handle open_for_queries(const char16_t* path, std::uint32_t access) {
    return os::create_file(path, access, os::SHARE_READ | os::SHARE_WRITE, os::OPEN_EXISTING_FILE,
                           os::NO_FLAGS);
}

}  // namespace

DriveListState drive_list;

DriveCandidate placeholder_drive() {
    return DriveCandidate{
        .label = {}, .size_bytes = 0, .disk_number = 0xFFFFFFFF, .bytes_per_sector = 0};
}

void store_drive_list(DriveListState& state, std::vector<DriveCandidate> entries) {
    std::vector<DriveCandidate> old;
    {
        const std::lock_guard guard(state.lock);
        old.swap(state.entries);
        state.entries = std::move(entries);
    }
    // `old` is released here, after the lock.
}

std::vector<DriveCandidate> copy_drive_list(DriveListState& state) {
    const std::lock_guard guard(state.lock);
    return state.entries;
}

std::optional<DriveCandidate> drive_list_entry(DriveListState& state, std::size_t index) {
    const std::lock_guard guard(state.lock);
    if (index >= state.entries.size()) {
        return std::nullopt;
    }
    return state.entries[index];
}

std::string decode_utf8_replacing(std::span<const u8> bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const SequenceRule rule = rule_for(bytes[i]);
        if (rule.length == 0) {
            text.append(REPLACEMENT_CHARACTER);
            ++i;
            continue;
        }
        // The longest prefix of a valid sequence starting at i: the first continuation byte has
        // the lead's own range, the others 80..BF.
        std::size_t valid = 1;
        while (valid < rule.length && i + valid < bytes.size()) {
            const u8 low = valid == 1 ? rule.second_low : 0x80;
            const u8 high = valid == 1 ? rule.second_high : 0xBF;
            if (bytes[i + valid] < low || bytes[i + valid] > high) {
                break;
            }
            ++valid;
        }
        if (valid == rule.length) {
            text.append(reinterpret_cast<const char*>(bytes.data() + i), valid);
        } else {
            text.append(REPLACEMENT_CHARACTER);
        }
        i += valid;
    }
    return text;
}

std::string read_descriptor_text(std::span<const u8, DEVICE_DESCRIPTOR_BYTES> answer, u32 offset) {
    if (offset == 0 || offset >= answer.size()) {
        return {};
    }
    std::size_t end = offset;
    while (end < answer.size() && answer[end] != 0) {
        ++end;
    }
    const std::string decoded = decode_utf8_replacing(answer.subspan(offset, end - offset));
    return std::string(trim_white_space(decoded));
}

std::string drive_label(std::string_view vendor, std::string_view product) {
    if (!vendor.empty() && !product.empty()) {
        return format(msg::VENDOR_PRODUCT_LABEL, vendor, product);
    }
    if (!vendor.empty()) {
        return std::string(vendor);
    }
    if (!product.empty()) {
        return std::string(product);
    }
    return std::string(msg::USB_DRIVE);
}

std::optional<u32> find_system_disk() {
    std::array<char16_t, os::WINDOWS_DIRECTORY_UNITS> directory{};
    const u32 units = os::windows_directory(directory);
    // Fewer than two units cannot hold "X:"; a count of the buffer's size or more is the size
    // the path would need, and then the buffer holds nothing to go by.
    if (units < 2 || units >= directory.size()) {
        return std::nullopt;
    }
    const char16_t letter = directory[0];
    if (letter >= 0xD800 && letter <= 0xDFFF) {
        return std::nullopt;
    }
    const std::string letter_text = wide_to_utf8(std::span<const char16_t>(&letter, 1));
    const WideString path = utf8_to_wide(format(msg::VOLUME_PATH, letter_text));
    const os::Handle volume = open_for_queries(path.c_str(), os::NO_ACCESS);
    if (volume == os::INVALID_HANDLE) {
        return std::nullopt;
    }
    const std::optional<u32> disk = volume_first_disk_number(volume);
    os::close_handle(volume);
    return disk;
}

std::optional<DriveCandidate> describe_disk(os::Handle disk, u32 disk_number) {
    const auto descriptor = query_device_descriptor(disk);
    const auto geometry = query_drive_geometry(disk);
    if (!descriptor || !geometry) {
        return std::nullopt;
    }
    if (!is_offered_bus(read_u32_le(descriptor->data() + BUS_TYPE_AT))) {
        return std::nullopt;
    }
    const std::string vendor =
        read_descriptor_text(*descriptor, read_u32_le(descriptor->data() + VENDOR_ID_OFFSET_AT));
    const std::string product =
        read_descriptor_text(*descriptor, read_u32_le(descriptor->data() + PRODUCT_ID_OFFSET_AT));
    const u64 size_bytes = read_u64_le(geometry->data() + DISK_SIZE_AT);
    if (size_bytes == 0) {
        return std::nullopt;
    }
    return DriveCandidate{
        .label = drive_label(vendor, product),
        .size_bytes = size_bytes,
        .disk_number = disk_number,
        .bytes_per_sector = read_u32_le(geometry->data() + BYTES_PER_SECTOR_AT),
        .serial_number = read_descriptor_text(
            *descriptor, read_u32_le(descriptor->data() + SERIAL_NUMBER_OFFSET_AT)),
        .media_change_count = query_media_change_count(disk)};
}

std::optional<DriveCandidate> probe_disk(u32 disk_number) {
    const WideString path = physical_drive_path(disk_number);
    // FILE_READ_ATTRIBUTES, which the media change count's request is documented for: no data
    // access, so the probe mounts nothing and reads no sector.
    const os::Handle disk = open_for_queries(path.c_str(), os::READ_ATTRIBUTES_ACCESS);
    if (disk == os::INVALID_HANDLE) {
        return std::nullopt;
    }
    std::optional<DriveCandidate> found = describe_disk(disk, disk_number);
    os::close_handle(disk);
    return found;
}

std::vector<DriveCandidate> scan_drives(std::optional<u32> system_disk) {
    std::vector<DriveCandidate> found;
    for (u32 number = 0; number < DISK_NUMBER_LIMIT; ++number) {
        if (system_disk == number) {
            continue;
        }
        if (std::optional<DriveCandidate> drive = probe_disk(number)) {
            found.push_back(std::move(*drive));
        }
    }
    return found;
}

DriveListView drive_list_view(const std::vector<DriveCandidate>& shown, int shown_index,
                              const std::vector<DriveCandidate>& found) {
    DriveListView view;
    if (found.empty()) {
        view.items.emplace_back(msg::INSERT_DRIVE);
        view.status_text = msg::STATUS_PLUG_IN;
        return view;
    }
    std::optional<u32> remembered;
    if (shown_index >= 0 && static_cast<std::size_t>(shown_index) < shown.size()) {
        remembered = shown[static_cast<std::size_t>(shown_index)].disk_number;
    }
    for (const DriveCandidate& drive : found) {
        view.items.push_back(format(msg::DRIVE_LIST_ITEM, drive.label, size_text(drive.size_bytes),
                                    drive.disk_number));
    }
    for (std::size_t i = 0; remembered && i < found.size(); ++i) {
        if (found[i].disk_number == *remembered) {
            view.selected_index = i;
            break;
        }
    }
    view.status_text = msg::STATUS_WILL_BE_ERASED;
    view.enabled = true;
    return view;
}

void refresh_drive_list(DriveListState& state, DriveControls& controls) {
    std::vector<DriveCandidate> found = scan_drives(find_system_disk());
    state.refresh_ticks.store(0, std::memory_order_relaxed);
    const std::vector<DriveCandidate> shown = copy_drive_list(state);
    if (found == shown) {
        return;
    }
    controls.show(drive_list_view(shown, controls.selected_index(), found));
    store_drive_list(state, std::move(found));
}

bool count_refresh_tick(DriveListState& state) {
    return state.refresh_ticks.fetch_add(1, std::memory_order_relaxed) >= REFRESH_TICKS_DUE;
}

void note_device_change(DriveListState& state) {
    state.refresh_ticks.store(DEVICE_CHANGE_TICKS, std::memory_order_relaxed);
}

}  // namespace orvelo
