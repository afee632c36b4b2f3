// Unpacking the release image: the compressed file, held whole in memory, checked against the
// sizes and digests that the signed release manifest states, before and after decompression.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "core/job_error.h"
#include "core/types.h"

namespace orvelo {

// What the release manifest states about the compressed file and the image inside it (the
// fields of the same names in the manifest).
struct ExpectedImage {
    u64 file_size = 0;
    std::array<u8, 32> file_sha256 = {};
    u64 image_size = 0;
    std::array<u8, 32> image_sha256 = {};
};

// The disk image, exactly expected.image_size bytes, or Damaged when the compressed file's size
// or digest is wrong, the image buffer cannot be reserved, the compressed data is broken or too
// long, or the image's size or digest is wrong.
[[nodiscard]] JobResult<std::vector<u8>> unpack_image(std::span<const u8> compressed,
                                                      const ExpectedImage& expected);

}  // namespace orvelo
