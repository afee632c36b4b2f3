#include "inflate/unpack_image.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "core/messages.h"
#include "crypto/sha256.h"
#include "inflate/byte_stream.h"
#include "inflate/inflate.h"
#include "inflate/output_window.h"
#include "os/system.h"

namespace orvelo {
namespace {

// Appends to a buffer whose capacity was reserved up front, and offers the decoder the reserved
// memory to decode into, so that the image is made in place and never copied. The decoder's
// limit is the capacity less WINDOW_SLACK_BYTES, so the buffer never grows; a write or a room
// that would make it grow is refused instead.
class ReservedSink final : public ByteSink {
  public:
    explicit ReservedSink(std::vector<u8>& out) : out_(out) {}

    [[nodiscard]] Status write(std::span<const u8> bytes) override {
        if (bytes.size() > out_.capacity() - written_) {
            return fail(std::string(msg::INFLATE_LARGER_THAN_STATED));
        }
        if (bytes.empty()) {  // an empty stored block: nothing to copy, and maybe no buffer yet
            return {};
        }
        grow_to(written_ + bytes.size());
        if (bytes.data() != out_.data() + written_) {
            std::memcpy(out_.data() + written_, bytes.data(), bytes.size());
        }
        written_ += bytes.size();
        return {};
    }

    [[nodiscard]] u8* room(std::size_t count) override {
        if (count > out_.capacity() - written_) {
            return nullptr;
        }
        grow_to(written_ + count);
        return out_.data() + written_;
    }

    // Drops whatever room past the written bytes was not used.
    void finish() { out_.resize(written_); }

  private:
    // Sizes the buffer up to `size` (within its capacity) just before the decoder fills it, so
    // that the bytes are still in the cache when it does.
    void grow_to(std::size_t size) {
        if (out_.size() < size) {
            out_.resize(size);
        }
    }

    std::vector<u8>& out_;
    std::size_t written_ = 0;  // bytes the decoder handed over; out_.size() may be larger
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
    // The buffer holds the image and the decoder's slack; a stated size so large that the sum
    // wraps round would reserve next to nothing, and no real image is that large.
    if (expected.image_size > std::numeric_limits<std::size_t>::max() - WINDOW_SLACK_BYTES) {
        return damaged;
    }
    std::vector<u8> image;
    try {
        // Up to 512 MiB: a refusal here is an answer, not the end of the program.
        image.reserve(expected.image_size + WINDOW_SLACK_BYTES);
        os::advise_large_buffer(image.data(), image.capacity());
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
    sink.finish();
    if (image.size() != expected.image_size) {
        return damaged;
    }
    if (!same_digest(sha256(image), expected.image_sha256)) {
        return damaged;
    }
    return image;
}

}  // namespace orvelo
