// The disk image comes from outside: any bytes must give a layout or one of the three refusals,
// never a read outside the image, and a layout must add up to the image and fit the drive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

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
    return 0;
}
