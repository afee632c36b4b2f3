// The raw drive functions on Windows' own calls, under Wine: the drive is a file that the test's
// script exposes as \\.\PhysicalDrive9. The script checks the file's bytes afterwards.
#include <gtest/gtest.h>

#include <cstring>

#include "drive/raw_drive.h"

namespace orvelo {
namespace {

constexpr u32 DISK = 9;

void fill(const TransferBuffer& buffer, u8 seed) {
    for (u32 i = 0; i < TRANSFER_BYTES; ++i) {
        buffer.data()[i] = static_cast<u8>(seed + i * 13);
    }
}

TEST(Win32RawDrive, WritesFlushesAndReadsBackWholePiecesUnbuffered) {
    Result<RawDrive> drive = open_raw_drive(DISK, "test drive", {});
    ASSERT_TRUE(drive.has_value()) << drive.error().text;
    Result<TransferBuffer> buffer = TransferBuffer::create();
    ASSERT_TRUE(buffer.has_value());
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer->data()) % 4096, 0u);

    // Pieces at the offsets the job uses: the tail's region, the body's start (17408, a
    // multiple of 512 but not of 4096), and the start of the drive.
    const struct {
        u64 offset;
        u32 length;
        u8 seed;
    } pieces[] = {{3 * TRANSFER_BYTES, 16896, 1}, {17408, TRANSFER_BYTES, 2}, {0, 17408, 3}};
    for (const auto& piece : pieces) {
        fill(*buffer, piece.seed);
        const Status written = write_at(drive->disk(), piece.offset, *buffer, piece.length);
        ASSERT_TRUE(written.has_value()) << written.error().text;
    }
    ASSERT_TRUE(flush_drive(drive->disk()).has_value());
    for (const auto& piece : pieces) {
        std::memset(buffer->data(), 0, TRANSFER_BYTES);
        const Status read = read_exact_at(drive->disk(), piece.offset, *buffer, piece.length);
        ASSERT_TRUE(read.has_value()) << read.error().text;
        std::vector<u8> expected(TRANSFER_BYTES);
        for (u32 i = 0; i < TRANSFER_BYTES; ++i) {
            expected[i] = static_cast<u8>(piece.seed + i * 13);
        }
        EXPECT_EQ(std::memcmp(buffer->data(), expected.data(), piece.length), 0) << piece.offset;
    }
    close_raw_drive(std::move(*drive));
}

TEST(Win32RawDrive, AReadPastTheEndIsAFailureWithTheSystemsText) {
    Result<RawDrive> drive = open_raw_drive(DISK, "test drive", {});
    ASSERT_TRUE(drive.has_value()) << drive.error().text;
    Result<TransferBuffer> buffer = TransferBuffer::create();
    ASSERT_TRUE(buffer.has_value());
    const Status read = read_exact_at(drive->disk(), 4 * TRANSFER_BYTES - 512, *buffer, 1024);
    ASSERT_FALSE(read.has_value());
    EXPECT_TRUE(read.error().text.ends_with(")")) << read.error().text;
    close_raw_drive(std::move(*drive));
}

TEST(Win32RawDrive, AMissingDiskIsNotOpenedAndTheTextSaysWhy) {
    const Result<RawDrive> drive = open_raw_drive(31, "Missing stick", {});
    ASSERT_FALSE(drive.has_value());
    EXPECT_TRUE(drive.error().text.starts_with("Windows did not open Missing stick: "))
        << drive.error().text;
    EXPECT_TRUE(drive.error().text.ends_with(")")) << drive.error().text;
}

}  // namespace
}  // namespace orvelo
