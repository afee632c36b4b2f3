// Unpacking: the size and digest checks around the decoder, each failing as Damaged.
#include "inflate/unpack_image.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "crypto/sha256.h"
#include "deflate_writer.h"

namespace orvelo {
namespace {

using test::DeflateWriter;

std::array<u8, 32> digest_of(std::span<const u8> bytes) {
    const auto digest = sha256(bytes);
    std::array<u8, 32> copy{};
    std::copy(digest.begin(), digest.end(), copy.begin());
    return copy;
}

// A 2048-byte image: a stored block of 1000 bytes, then a fixed block that repeats them.
struct Release {
    std::vector<u8> image;
    std::vector<u8> file;
    ExpectedImage expected;
};

Release make_release() {
    Release r;
    for (int i = 0; i < 1000; ++i) {
        r.image.push_back(static_cast<u8>(i * 37 % 251));
    }
    DeflateWriter w;
    w.stored(false, std::string_view(reinterpret_cast<const char*>(r.image.data()), 1000));
    w.header(true, 1);
    for (u32 done = 0; done < 1048; done += 131) {
        w.fixed_match(131, 1000);
        for (int k = 0; k < 131; ++k) {
            r.image.push_back(r.image[r.image.size() - 1000]);
        }
    }
    w.fixed_symbol(256);
    r.file = w.bytes();
    r.expected = {r.file.size(), digest_of(r.file), r.image.size(), digest_of(r.image)};
    return r;
}

TEST(UnpackImage, GivesTheImageWhenEverySizeAndDigestMatches) {
    const Release r = make_release();
    ASSERT_EQ(r.image.size(), 2048u);
    const JobResult<std::vector<u8>> image = unpack_image(r.file, r.expected);
    ASSERT_TRUE(image);
    EXPECT_EQ(*image, r.image);
}

TEST(UnpackImage, IgnoresBytesAfterTheFinalBlockThatTheFileDigestCovers) {
    Release r = make_release();
    r.file.insert(r.file.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    r.expected.file_size = r.file.size();
    r.expected.file_sha256 = digest_of(r.file);
    const JobResult<std::vector<u8>> image = unpack_image(r.file, r.expected);
    ASSERT_TRUE(image);
    EXPECT_EQ(*image, r.image);
}

TEST(UnpackImage, IsDamagedWhenAnyCheckFails) {
    const Release good = make_release();
    struct Case {
        const char* name;
        void (*spoil)(Release&);
    };
    const Case cases[] = {
        {"file one byte longer than stated", [](Release& r) { r.file.push_back(0); }},
        {"file one byte shorter than stated", [](Release& r) { r.file.pop_back(); }},
        {"file digest wrong", [](Release& r) { r.expected.file_sha256[31] ^= 1; }},
        {"image digest wrong", [](Release& r) { r.expected.image_sha256[0] ^= 0x80; }},
        {"stream decodes to fewer bytes than stated",
         [](Release& r) {
             r.expected.image_size += 512;
             r.expected.image_sha256 = digest_of(r.image);
         }},
        {"stream would decode to more bytes than stated",
         [](Release& r) {
             r.expected.image_size -= 512;
             r.image.erase(r.image.end() - 512, r.image.end());
             r.expected.image_sha256 = digest_of(r.image);
         }},
        {"compressed data broken (block type 3), file digest right",
         [](Release& r) {
             r.file[0] |= 0x06;
             r.expected.file_sha256 = digest_of(r.file);
         }},
        {"stream cut short, file size and digest right",
         [](Release& r) {
             r.file.erase(r.file.end() - 3, r.file.end());
             r.expected.file_size = r.file.size();
             r.expected.file_sha256 = digest_of(r.file);
         }},
        {"an image size no buffer can hold",
         [](Release& r) { r.expected.image_size = std::numeric_limits<u64>::max(); }},
    };
    for (const Case& c : cases) {
        Release r = good;
        c.spoil(r);
        const JobResult<std::vector<u8>> image = unpack_image(r.file, r.expected);
        ASSERT_FALSE(image) << c.name;
        EXPECT_EQ(image.error(), JobError::Damaged) << c.name;
        EXPECT_EQ(job_error_text(image.error()).text, "The download is damaged. Try again.");
    }
}

// A stated size so close to the largest number that the buffer's size, with the decoder's slack,
// wraps round to nothing: refused, never a buffer of no memory that an empty block writes into.
TEST(UnpackImage, IsDamagedWhenTheBufferSizeWouldWrapRound) {
    DeflateWriter w;
    w.stored(true, "");
    const std::vector<u8> file = w.bytes();
    const std::vector<u8> nothing;
    const ExpectedImage expected{file.size(), digest_of(file), std::numeric_limits<u64>::max() - 31,
                                 digest_of(nothing)};
    const JobResult<std::vector<u8>> image = unpack_image(file, expected);
    ASSERT_FALSE(image);
    EXPECT_EQ(image.error(), JobError::Damaged);
}

}  // namespace
}  // namespace orvelo
