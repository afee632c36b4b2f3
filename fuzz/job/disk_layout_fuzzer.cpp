// The disk image comes from outside: any bytes must give a layout or one of the three refusals,
// never a read outside the image, and a layout must add up to the image, fit the drive and
// carry every sector of every used partition in its body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "core/little_endian.h"
#include "job/disk_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    std::uint64_t drive_bytes;
    std::memcpy(&drive_bytes, data, 8);
    // The image in a buffer of its own, so that any read past its end is caught.
    const std::vector<std::uint8_t> image(data + 8, data + size);
    const auto layout = orvelo::plan_disk_layout(image, drive_bytes);
    if (!layout) {
        return 0;
    }
    const std::uint64_t written = layout->head.size() + layout->body.size() + layout->tail.size();
    if (written != image.size() || layout->tail_offset + layout->tail.size() > drive_bytes ||
        layout->tail_offset < orvelo::HEAD_BYTES + layout->body.size()) {
        std::abort();
    }
    const std::uint8_t* header = image.data() + 512;
    const std::uint32_t entry_count = orvelo::read_u32_le(header + 80);
    const std::uint32_t entry_size = orvelo::read_u32_le(header + 84);
    const std::uint64_t body_first = 34;
    const std::uint64_t body_last = (orvelo::HEAD_BYTES + layout->body.size()) / 512 - 1;
    for (std::uint64_t i = 0; entry_size >= 48 && i < entry_count; ++i) {
        const std::uint8_t* entry = image.data() + 1024 + i * entry_size;
        if (std::all_of(entry, entry + 16, [](std::uint8_t b) { return b == 0; })) {
            continue;
        }
        const std::uint64_t first = orvelo::read_u64_le(entry + 32);
        const std::uint64_t last = orvelo::read_u64_le(entry + 40);
        if (first < body_first || first > last || last > body_last) {
            std::abort();
        }
    }
    return 0;
}
