#include "inflate/unpack_image.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include "core/messages.h"
#include "crypto/sha256.h"
#include "inflate/byte_stream.h"
#include "inflate/inflate.h"

namespace orvelo {
namespace {

// Appends to a buffer whose capacity was reserved up front. The decoder's limit equals that
// capacity, so the buffer never grows; a write that would make it grow is refused instead.
class ReservedSink final : public ByteSink {
  public:
    explicit ReservedSink(std::vector<u8>& out) : out_(out) {}

    [[nodiscard]] Status write(std::span<const u8> bytes) override {
        if (bytes.size() > out_.capacity() - out_.size()) {
            return fail(std::string(msg::INFLATE_LARGER_THAN_STATED));
        }
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        return {};
    }

  private:
    std::vector<u8>& out_;
};

template <class Digest>
bool same_digest(const Digest& digest, const std::array<u8, 32>& expected) {
    return std::ranges::equal(digest, expected);
}

}  // namespace

JobResult<std::vector<u8>> unpack_image(std::span<const u8> compressed,
                                        const ExpectedImage& expected) {
    const auto damaged = std::unexpected(JobError::Damaged);
    if (compressed.size() != expected.file_size) {
        return damaged;
    }
    if (!same_digest(sha256(compressed), expected.file_sha256)) {
        return damaged;
    }
    std::vector<u8> image;
    try {
        // Up to 512 MiB: a refusal here is an answer, not the end of the program.
        image.reserve(expected.image_size);
    } catch (const std::bad_alloc&) {
        return damaged;
    } catch (const std::length_error&) {
        return damaged;
    }
    MemorySource source(compressed);
    ReservedSink sink(image);
    // The decoder's own text says what broke; the user only learns that the download is damaged.
    if (!inflate(source, sink, expected.image_size)) {
        return damaged;
    }
    if (image.size() != expected.image_size) {
        return damaged;
    }
    if (!same_digest(sha256(image), expected.image_sha256)) {
        return damaged;
    }
    return image;
}

}  // namespace orvelo
