// unpack_image on any bytes as the compressed file: the file checks pass by construction (its
// size and digest are taken from it), the image size comes from the input, and the image digest
// is zlib's output's when zlib decodes the stream, so that both outcomes are reached. It must
// answer the image or Damaged, and the image exactly when zlib's output has the stated size.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crypto/sha256.h"
#include "inflate/unpack_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using orvelo::u8;
    if (size < 2) {
        return 0;
    }
    const std::span<const u8> file(data + 1, size - 1);
    std::vector<u8> zlib_output(1 << 20);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<u8*>(file.data());
    z.avail_in = static_cast<uInt>(file.size());
    z.next_out = zlib_output.data();
    z.avail_out = static_cast<uInt>(zlib_output.size());
    const bool complete = inflate(&z, Z_FINISH) == Z_STREAM_END;
    zlib_output.resize(z.total_out);
    inflateEnd(&z);

    orvelo::ExpectedImage expected;
    expected.file_size = file.size();
    const auto file_digest = orvelo::sha256(file);
    std::copy(file_digest.begin(), file_digest.end(), expected.file_sha256.begin());
    // Byte 0 below 128 states zlib's size; otherwise a size off by a little.
    expected.image_size = zlib_output.size();
    if (data[0] >= 128) {
        expected.image_size = std::max<orvelo::u64>(1, expected.image_size + data[0] - 192);
    }
    const auto image_digest = orvelo::sha256(zlib_output);
    std::copy(image_digest.begin(), image_digest.end(), expected.image_sha256.begin());

    const auto image = orvelo::unpack_image(file, expected);
    if (image) {
        if (*image != zlib_output || image->size() != expected.image_size) {
            std::abort();
        }
    } else if (image.error() != orvelo::JobError::Damaged) {
        std::abort();
    } else if (complete && expected.image_size == zlib_output.size()) {
        std::abort();  // a stream zlib decodes to the stated image must unpack
    }
    return 0;
}
