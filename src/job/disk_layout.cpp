#include "job/disk_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/format.h"
#include "core/little_endian.h"
#include "core/messages.h"
#include "job/crc32.h"

namespace orvelo {
namespace {

// GPT header fields, as offsets within the 512-byte header.
constexpr std::size_t HEADER_SIZE = 12;
constexpr std::size_t HEADER_CRC32 = 16;
constexpr std::size_t MY_LBA = 24;
constexpr std::size_t ALTERNATE_LBA = 32;
constexpr std::size_t LAST_USABLE_LBA = 48;
constexpr std::size_t PARTITION_ENTRY_LBA = 72;
constexpr std::size_t NUMBER_OF_PARTITION_ENTRIES = 80;
constexpr std::size_t SIZE_OF_PARTITION_ENTRY = 84;
constexpr std::size_t PARTITION_ENTRY_ARRAY_CRC32 = 88;
// Partition entry fields.
constexpr std::size_t STARTING_LBA = 32;
constexpr std::size_t ENDING_LBA = 40;
constexpr u32 SMALLEST_READABLE_ENTRY = ENDING_LBA + 8;
// The protective MBR's first partition record: its size in sectors.
constexpr std::size_t MBR_FIRST_PARTITION_SECTORS = 458;

constexpr u64 HEADER_OFFSET = 512;
// The first sector after the head: no partition may start before it.
constexpr u64 FIRST_BODY_LBA = HEAD_BYTES / SECTOR_BYTES;

// A header for the drive: the image header's first 92 bytes, the four placement fields set,
// sealed with its own checksum; the rest of the sector zero.
std::array<u8, SECTOR_BYTES> make_header(const u8* image_header, u64 my_lba, u64 alternate_lba,
                                         u64 last_usable_lba, u64 entry_lba) {
    std::array<u8, SECTOR_BYTES> header{};
    std::memcpy(header.data(), image_header, GPT_HEADER_CRC_BYTES);
    write_u64_le(header.data() + MY_LBA, my_lba);
    write_u64_le(header.data() + ALTERNATE_LBA, alternate_lba);
    write_u64_le(header.data() + LAST_USABLE_LBA, last_usable_lba);
    write_u64_le(header.data() + PARTITION_ENTRY_LBA, entry_lba);
    write_u32_le(header.data() + HEADER_CRC32, 0);
    write_u32_le(header.data() + HEADER_CRC32,
                 crc32(std::span<const u8>(header.data(), GPT_HEADER_CRC_BYTES)));
    return header;
}

bool all_zero(std::span<const u8> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](u8 b) { return b == 0; });
}

// The CRC-32 of the header's 92 bytes with its own checksum field taken as zero.
u32 header_crc(const u8* header) {
    std::array<u8, GPT_HEADER_CRC_BYTES> copy;
    std::memcpy(copy.data(), header, GPT_HEADER_CRC_BYTES);
    write_u32_le(copy.data() + HEADER_CRC32, 0);
    return crc32(copy);
}

// Checks every used entry: it starts after the head, ends no earlier than it starts, and ends
// within both the header's last usable LBA and `last_written_lba`, the last sector of the body
// (an image cut short after its last partition still carries the header of the longer disk,
// and a partition running into the image's last 33 sectors would lose them: those are never
// written). An entry is read at its bytes 0..16 (type), 32..40 (start) and 40..48 (end), so a
// stride below 48 cannot hold a readable entry: such an array is accepted only when it holds no
// entry at all, and nothing outside the array is read.
bool entries_within(std::span<const u8> entry_array, u32 entry_count, u32 entry_size,
                    u64 last_usable_lba, u64 last_written_lba) {
    if (entry_size < SMALLEST_READABLE_ENTRY) {
        return all_zero(entry_array);
    }
    for (u64 i = 0; i < entry_count; ++i) {
        const u8* entry = entry_array.data() + i * entry_size;
        if (all_zero(std::span<const u8>(entry, 16))) {
            continue;
        }
        const u64 first = read_u64_le(entry + STARTING_LBA);
        const u64 last = read_u64_le(entry + ENDING_LBA);
        if (first < FIRST_BODY_LBA || first > last || last > last_usable_lba ||
            last > last_written_lba) {
            return false;
        }
    }
    return true;
}

}  // namespace

JobResult<DiskLayout> plan_disk_layout(std::span<const u8> image, u64 drive_size_bytes) {
    const u64 length = image.size();
    const u64 sectors = drive_size_bytes / SECTOR_BYTES;
    if (length < SMALLEST_IMAGE_BYTES || length % SECTOR_BYTES != 0) {
        return std::unexpected(JobError::NotInstaller);
    }
    const u8* header = image.data() + HEADER_OFFSET;
    if (std::memcmp(header, "EFI PART", 8) != 0) {
        return std::unexpected(JobError::NotInstaller);
    }
    // The headers written carry 92 bytes under a checksum over 92 bytes; a header of another
    // size would be re-sealed into one that firmware rejects.
    if (read_u32_le(header + HEADER_SIZE) != GPT_HEADER_CRC_BYTES) {
        return std::unexpected(JobError::NotInstaller);
    }
    // A damaged header must not be re-sealed as a valid one.
    if (header_crc(header) != read_u32_le(header + HEADER_CRC32)) {
        return std::unexpected(JobError::Damaged);
    }
    if (sectors * SECTOR_BYTES < length) {
        return std::unexpected(JobError::TooSmall);
    }
    if (read_u64_le(header + PARTITION_ENTRY_LBA) != 2) {
        return std::unexpected(JobError::NotInstaller);
    }
    const u32 entry_count = read_u32_le(header + NUMBER_OF_PARTITION_ENTRIES);
    const u32 entry_size = read_u32_le(header + SIZE_OF_PARTITION_ENTRY);
    if (u64(entry_count) * u64(entry_size) != ENTRY_ARRAY_BYTES) {
        return std::unexpected(JobError::NotInstaller);
    }
    const std::span<const u8> entry_array = image.subspan(ENTRY_ARRAY_OFFSET, ENTRY_ARRAY_BYTES);
    if (crc32(entry_array) != read_u32_le(header + PARTITION_ENTRY_ARRAY_CRC32)) {
        return std::unexpected(JobError::Damaged);
    }
    if (!entries_within(entry_array, entry_count, entry_size, read_u64_le(header + LAST_USABLE_LBA),
                        (length - TAIL_BYTES) / SECTOR_BYTES - 1)) {
        return std::unexpected(JobError::NotInstaller);
    }

    // The image fits, so sectors >= 67 and none of these subtractions wraps.
    DiskLayout layout;
    layout.head.assign(image.begin(), image.begin() + HEAD_BYTES);
    write_u32_le(layout.head.data() + MBR_FIRST_PARTITION_SECTORS,
                 static_cast<u32>(std::min<u64>(sectors - 1, 0xFFFFFFFFu)));
    const auto primary = make_header(header, 1, sectors - 1, sectors - 34, 2);
    std::copy(primary.begin(), primary.end(), layout.head.begin() + HEADER_OFFSET);

    layout.tail.reserve(TAIL_BYTES);
    layout.tail.assign(entry_array.begin(), entry_array.end());
    const auto backup = make_header(header, sectors - 1, 1, sectors - 34, sectors - 33);
    layout.tail.insert(layout.tail.end(), backup.begin(), backup.end());

    layout.body = image.subspan(HEAD_BYTES, length - SMALLEST_IMAGE_BYTES);
    layout.tail_offset = (sectors - 33) * SECTOR_BYTES;
    return layout;
}

namespace {

// Moves `bytes` piece by piece at `drive_offset` with `move_piece`, asking for a stop before
// each piece and publishing the running count in `phase` after it. No piece crosses a 1 MiB
// boundary of the drive: a region's first piece runs up to the next boundary (the body, at
// 17408, starts with 1048576 - 17408 bytes) and every later piece starts on one, so transfers
// line up with the erase blocks and flash pages of a stick and the 4 KiB physical sectors of a
// 512e drive. Like the offsets, every piece is a multiple of 512 bytes.
template <class MovePiece>
Status for_each_piece(JobStatus& status, JobPhase phase, u64 drive_offset,
                      std::span<const u8> bytes, u64& done_bytes, u64 total_bytes,
                      MovePiece move_piece) {
    while (!bytes.empty()) {
        const u64 to_boundary = TRANSFER_BYTES - drive_offset % TRANSFER_BYTES;
        const u32 piece = static_cast<u32>(std::min<u64>(bytes.size(), to_boundary));
        if (Status stopped = check_stopped(status); !stopped) {
            return stopped;
        }
        if (Status moved = move_piece(drive_offset, bytes.first(piece)); !moved) {
            return moved;
        }
        bytes = bytes.subspan(piece);
        done_bytes += piece;
        publish_progress(status, phase, done_bytes, total_bytes);
        drive_offset += piece;
    }
    return {};
}

}  // namespace

Status write_region(JobStatus& status, os::Handle drive, const TransferBuffer& buffer,
                    std::string_view label, u64 drive_offset, std::span<const u8> bytes,
                    u64& done_bytes, u64 total_bytes) {
    return for_each_piece(
        status, JobPhase::Writing, drive_offset, bytes, done_bytes, total_bytes,
        [&](u64 offset, std::span<const u8> piece) -> Status {
            std::memcpy(buffer.data(), piece.data(), piece.size());
            // The count before this piece: 0 for the layout's first write, the one that
            // meets a refusal of the whole disk first.
            const bool first_write = done_bytes == 0;
            u32 write_error = 0;
            Status written = writing_failed(
                label,
                write_at(drive, offset, buffer, static_cast<u32>(piece.size()), write_error));
            if (!written && first_write && os::write_refused_by_security(write_error)) {
                return fail(format(msg::WRITE_BLOCKED_BY_SECURITY, written.error()));
            }
            return written;
        });
}

Status verify_region(JobStatus& status, os::Handle drive, const TransferBuffer& buffer,
                     std::string_view label, u64 drive_offset, std::span<const u8> bytes,
                     u64& done_bytes, u64 total_bytes) {
    return for_each_piece(status, JobPhase::Checking, drive_offset, bytes, done_bytes, total_bytes,
                          [&](u64 offset, std::span<const u8> piece) -> Status {
                              const u32 length = static_cast<u32>(piece.size());
                              if (Status read = reading_back_failed(
                                      label, read_exact_at(drive, offset, buffer, length));
                                  !read) {
                                  return read;
                              }
                              // Compared in place with the image: no second buffer.
                              if (std::memcmp(buffer.data(), piece.data(), length) != 0) {
                                  return fail(format(msg::DRIVE_DID_NOT_KEEP, label));
                              }
                              return {};
                          });
}

namespace {

struct Region {
    u64 drive_offset;
    std::span<const u8> bytes;
};

using RegionMover = Status (*)(JobStatus&, os::Handle, const TransferBuffer&, std::string_view, u64,
                               std::span<const u8>, u64&, u64);

// Moves the three regions in the order given, with one running count over the whole layout.
Status move_regions(JobStatus& status, const DiskLayout& layout, const RawDrive& drive,
                    const TransferBuffer& buffer, std::string_view label,
                    const std::array<Region, 3>& regions, RegionMover move_region) {
    const u64 total = layout.head.size() + layout.body.size() + layout.tail.size();
    u64 done = 0;
    for (const Region& region : regions) {
        if (Status moved = move_region(status, drive.disk(), buffer, label, region.drive_offset,
                                       region.bytes, done, total);
            !moved) {
            return moved;
        }
    }
    return {};
}

}  // namespace

Status write_layout(JobStatus& status, const DiskLayout& layout, const RawDrive& drive,
                    const TransferBuffer& buffer, std::string_view label) {
    const std::array<Region, 3> tail_body_head = {
        {{layout.tail_offset, layout.tail}, {HEAD_BYTES, layout.body}, {0, layout.head}}};
    if (Status written =
            move_regions(status, layout, drive, buffer, label, tail_body_head, write_region);
        !written) {
        return written;
    }
    return writing_failed(label, flush_drive(drive.disk()));
}

Status verify_layout(JobStatus& status, const DiskLayout& layout, const RawDrive& drive,
                     const TransferBuffer& buffer, std::string_view label) {
    const std::array<Region, 3> head_body_tail = {
        {{0, layout.head}, {HEAD_BYTES, layout.body}, {layout.tail_offset, layout.tail}}};
    return move_regions(status, layout, drive, buffer, label, head_body_tail, verify_region);
}

}  // namespace orvelo
