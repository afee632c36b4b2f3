#include "job/disk_layout.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "gpt_image.h"
#include "job/crc32.h"

namespace orvelo {
namespace {

using test::make_gpt_image;
using test::Partition;

TEST(Crc32, MatchesTheReferenceImplementation) {
    EXPECT_EQ(crc32({}), 0u);
    const std::string check = "123456789";
    EXPECT_EQ(crc32(std::span(reinterpret_cast<const u8*>(check.data()), check.size())),
              0xCBF43926u);
    std::mt19937 random(7);
    for (const std::size_t size : {1u, 92u, 511u, 16384u, 100000u}) {
        std::vector<u8> bytes(size);
        for (u8& b : bytes) {
            b = static_cast<u8>(random());
        }
        EXPECT_EQ(crc32(bytes), ::crc32(0, bytes.data(), static_cast<uInt>(size))) << size;
    }
}

constexpr u64 IMAGE_SECTORS = 256;
const std::vector<Partition> TWO_PARTITIONS = {{34, 99}, {100, IMAGE_SECTORS - 34}};

TEST(PlanDiskLayout, RefusesImagesOfTheWrongShapeInCheckOrder) {
    struct Case {
        const char* what;
        std::function<void(std::vector<u8>&)> damage;
        u64 drive_bytes;
        JobError expected;
    };
    const u64 fits = 8 * 1024 * 1024;
    const Case cases[] = {
        {"shorter than head and tail", [](auto& i) { i.resize(34304 - 512); }, fits,
         JobError::NotInstaller},
        {"empty", [](auto& i) { i.clear(); }, fits, JobError::NotInstaller},
        {"not whole sectors", [](auto& i) { i.resize(i.size() - 1); }, fits,
         JobError::NotInstaller},
        {"no signature, even when too small", [](auto& i) { i[512] = 'e'; }, 512,
         JobError::NotInstaller},
        {"larger than the drive", [](auto&) {}, IMAGE_SECTORS * 512 - 1, JobError::TooSmall},
        {"one sector larger than the drive", [](auto&) {}, (IMAGE_SECTORS - 1) * 512,
         JobError::TooSmall},
        {"entries not at LBA 2",
         [](auto& i) {
             write_u64_le(i.data() + 512 + 72, 3);
             test::reseal_primary_header(i);
         },
         fits, JobError::NotInstaller},
        {"entry array not 16384 bytes",
         [](auto& i) {
             write_u32_le(i.data() + 512 + 80, 64);
             test::reseal_primary_header(i);
         },
         fits, JobError::NotInstaller},
        {"count times size wraps in 32 bits",
         [](auto& i) {
             write_u32_le(i.data() + 512 + 80, 0x40001000u);  // 4 times this is 16384 + 2^32
             write_u32_le(i.data() + 512 + 84, 4);
             test::reseal_primary_header(i);
         },
         fits, JobError::NotInstaller},
        {"a header of 96 bytes, sealed over 96",
         [](auto& i) {
             write_u32_le(i.data() + 512 + 12, 96);
             write_u32_le(i.data() + 512 + 16, 0);
             write_u32_le(i.data() + 512 + 16, crc32(std::span<const u8>(i.data() + 512, 96)));
         },
         fits, JobError::NotInstaller},
        {"one header byte flipped (the disk GUID)", [](auto& i) { i[512 + 60] ^= 0x01; }, fits,
         JobError::Damaged},
        {"a flipped header byte wins over a drive too small", [](auto& i) { i[512 + 60] ^= 0x01; },
         512 * 100, JobError::Damaged},
        {"cut one sector short of the last partition's end",
         [](auto& i) { i.resize((IMAGE_SECTORS - 34 + 33) * 512); }, fits, JobError::NotInstaller},
        {"cut right after the last partition, as shrinking tools do",
         [](auto& i) { i.resize((IMAGE_SECTORS - 34 + 1) * 512); }, fits, JobError::NotInstaller},
        {"a used entry starting after it ends",
         [](auto& i) {
             write_u64_le(i.data() + 1024 + 32, 100);  // the first entry ends at 99
             test::reseal_entry_array(i);
         },
         fits, JobError::NotInstaller},
        {"a used entry starting inside the head",
         [](auto& i) {
             write_u64_le(i.data() + 1024 + 32, 33);
             test::reseal_entry_array(i);
         },
         fits, JobError::NotInstaller},
        {"one bit flipped in the entry array", [](auto& i) { i[1024 + 200] ^= 0x10; }, fits,
         JobError::Damaged},
        {"a used entry ending beyond the last usable LBA",
         [](auto& i) {
             write_u64_le(i.data() + 1024 + 128 + 40, IMAGE_SECTORS - 33);
             test::reseal_entry_array(i);
         },
         fits, JobError::NotInstaller},
        {"entries too small to read, with a used one",
         [](auto& i) {
             write_u32_le(i.data() + 512 + 80, 1024);
             write_u32_le(i.data() + 512 + 84, 16);
             test::reseal_primary_header(i);
         },
         fits, JobError::NotInstaller},
    };
    for (const Case& c : cases) {
        std::vector<u8> image = make_gpt_image(IMAGE_SECTORS, TWO_PARTITIONS);
        c.damage(image);
        const JobResult<DiskLayout> layout = plan_disk_layout(image, c.drive_bytes);
        ASSERT_FALSE(layout.has_value()) << c.what;
        EXPECT_EQ(layout.error(), c.expected) << c.what;
    }
}

TEST(PlanDiskLayout, AcceptsTheEdgesOfTheRules) {
    // An exact fit.
    const std::vector<u8> image = make_gpt_image(IMAGE_SECTORS, TWO_PARTITIONS);
    EXPECT_TRUE(plan_disk_layout(image, IMAGE_SECTORS * 512).has_value());
    // A drive size that is not whole sectors counts whole sectors only.
    EXPECT_TRUE(plan_disk_layout(image, IMAGE_SECTORS * 512 + 511).has_value());

    // An empty entry may end anywhere.
    std::vector<u8> empty_entry = make_gpt_image(IMAGE_SECTORS, {{34, 99}});
    write_u64_le(empty_entry.data() + 1024 + 5 * 128 + 40, ~u64{0});
    test::reseal_entry_array(empty_entry);
    EXPECT_TRUE(plan_disk_layout(empty_entry, 1 << 20).has_value());

    // Entries too small to read are fine while the array holds none.
    std::vector<u8> tiny_entries = make_gpt_image(IMAGE_SECTORS, {});
    write_u32_le(tiny_entries.data() + 512 + 80, 1024);
    write_u32_le(tiny_entries.data() + 512 + 84, 16);
    test::reseal_primary_header(tiny_entries);
    EXPECT_TRUE(plan_disk_layout(tiny_entries, 1 << 20).has_value());

    // A partition that starts where the head ends and one that is a single sector.
    EXPECT_TRUE(
        plan_disk_layout(make_gpt_image(IMAGE_SECTORS, {{34, 34}, {35, 35}}), 1 << 20).has_value());

    // One entry of 16384 bytes.
    std::vector<u8> one_entry = make_gpt_image(IMAGE_SECTORS, {{34, 99}});
    write_u32_le(one_entry.data() + 512 + 80, 1);
    write_u32_le(one_entry.data() + 512 + 84, 16384);
    test::reseal_primary_header(one_entry);
    EXPECT_TRUE(plan_disk_layout(one_entry, 1 << 20).has_value());
}

TEST(PlanDiskLayout, AnImageCutShortKeepsEveryByteOfItsLastPartition) {
    // The header still describes the longer disk; the last partition ends at L/512 - 34, the
    // body's last sector, so every sector of it is in the body.
    const u64 last = 150;
    std::vector<u8> image = make_gpt_image(IMAGE_SECTORS, {{34, 99}, {100, last}});
    image.resize((last + 34) * 512);
    const JobResult<DiskLayout> layout = plan_disk_layout(image, 1 << 20);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->body.data() + layout->body.size(), image.data() + (last + 1) * 512);

    image.resize((last + 33) * 512);
    const JobResult<DiskLayout> one_short = plan_disk_layout(image, 1 << 20);
    ASSERT_FALSE(one_short.has_value());
    EXPECT_EQ(job_error_message(one_short.error()),
              "The server's answer isn't an Orvelo installer.");
}

u32 header_crc(const u8* header) {
    std::array<u8, 92> copy;
    std::memcpy(copy.data(), header, 92);
    write_u32_le(copy.data() + 16, 0);
    return crc32(copy);
}

TEST(PlanDiskLayout, AdaptsBothHeadersAndTheMbrToTheDrive) {
    const std::vector<u8> image = make_gpt_image(IMAGE_SECTORS, TWO_PARTITIONS);
    const u64 sectors = 8192;
    const JobResult<DiskLayout> layout = plan_disk_layout(image, sectors * 512);
    ASSERT_TRUE(layout.has_value());

    ASSERT_EQ(layout->head.size(), 17408u);
    ASSERT_EQ(layout->tail.size(), 16896u);
    EXPECT_EQ(layout->tail_offset, (sectors - 33) * 512);
    EXPECT_EQ(layout->body.data(), image.data() + 17408);
    EXPECT_EQ(layout->body.size(), image.size() - 34304);

    // Sector 0: only the first record's size changed.
    EXPECT_EQ(read_u32_le(layout->head.data() + 458), sectors - 1);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 458, layout->head.begin()));
    EXPECT_TRUE(std::equal(image.begin() + 462, image.begin() + 512, layout->head.begin() + 462));
    // The entry array is the image's own, in the head and in the tail.
    EXPECT_TRUE(
        std::equal(image.begin() + 1024, image.begin() + 17408, layout->head.begin() + 1024));
    EXPECT_TRUE(std::equal(image.begin() + 1024, image.begin() + 17408, layout->tail.begin()));

    const u8* primary = layout->head.data() + 512;
    const u8* backup = layout->tail.data() + 16384;
    for (const auto& [header, my, alternate, entries] :
         {std::tuple{primary, u64{1}, sectors - 1, u64{2}},
          std::tuple{backup, sectors - 1, u64{1}, sectors - 33}}) {
        EXPECT_EQ(std::memcmp(header, "EFI PART", 8), 0);
        EXPECT_EQ(read_u64_le(header + 24), my);
        EXPECT_EQ(read_u64_le(header + 32), alternate);
        EXPECT_EQ(read_u64_le(header + 48), sectors - 34);
        EXPECT_EQ(read_u64_le(header + 72), entries);
        EXPECT_EQ(read_u64_le(header + 40), 34u);  // FirstUsableLBA kept
        EXPECT_EQ(read_u32_le(header + 88), read_u32_le(image.data() + 512 + 88));
        EXPECT_EQ(header[56], 0x11);  // disk GUID kept
        EXPECT_EQ(read_u32_le(header + 16), header_crc(header));
        EXPECT_TRUE(std::all_of(header + 92, header + 512, [](u8 b) { return b == 0; }));
    }
}

TEST(PlanDiskLayout, ClampsTheMbrSizeForDrivesOf2To32SectorsOrMore) {
    const std::vector<u8> image = make_gpt_image(IMAGE_SECTORS, TWO_PARTITIONS);
    for (const u64 sectors : {u64{1} << 32, (u64{1} << 32) + 1, u64{1} << 40}) {
        const JobResult<DiskLayout> layout = plan_disk_layout(image, sectors * 512);
        ASSERT_TRUE(layout.has_value());
        EXPECT_EQ(read_u32_le(layout->head.data() + 458), 0xFFFFFFFFu);
        EXPECT_EQ(read_u64_le(layout->head.data() + 512 + 32), sectors - 1);
    }
    const JobResult<DiskLayout> just_below = plan_disk_layout(image, (u64{1} << 32) * 512 - 512);
    ASSERT_TRUE(just_below.has_value());
    EXPECT_EQ(read_u32_le(just_below->head.data() + 458), 0xFFFFFFFEu);
}

TEST(PlanDiskLayout, TheSmallestImageHasAnEmptyBody) {
    const std::vector<u8> image = make_gpt_image(67, {});
    const JobResult<DiskLayout> layout = plan_disk_layout(image, 67 * 512);
    ASSERT_TRUE(layout.has_value());
    EXPECT_TRUE(layout->body.empty());
    EXPECT_EQ(layout->tail_offset, 34u * 512);
}

}  // namespace
}  // namespace orvelo
