// Checking a GPT disk image, adapting its partition tables to the drive, writing it and reading
// it back. The image is written as three regions: the tail (a new backup entry array and header
// in the drive's last 33 sectors) first, the body unchanged, and the head (protective MBR,
// primary header and entry array) last, so that the drive only looks like a GPT disk once
// everything else is on it.
#pragma once

#include <span>
#include <vector>

#include "core/error_text.h"
#include "core/job_error.h"
#include "core/job_status.h"
#include "core/types.h"
#include "drive/raw_drive.h"

namespace orvelo {

inline constexpr u64 SECTOR_BYTES = 512;
inline constexpr u64 HEAD_BYTES = 17408;         // MBR, primary header, entry array: 34 sectors
inline constexpr u64 ENTRY_ARRAY_OFFSET = 1024;  // LBA 2
inline constexpr u64 ENTRY_ARRAY_BYTES = 16384;  // 32 sectors
inline constexpr u64 TAIL_BYTES = 16896;         // entry array copy and backup header: 33 sectors
inline constexpr u64 SMALLEST_IMAGE_BYTES = HEAD_BYTES + TAIL_BYTES;  // 67 sectors, empty body
inline constexpr u64 GPT_HEADER_CRC_BYTES = 92;

struct DiskLayout {
    std::vector<u8> head;      // HEAD_BYTES: the image's head with MBR size and header replaced
    std::span<const u8> body;  // a view of the image between head and its own tail
    std::vector<u8> tail;      // TAIL_BYTES: the image's entry array, then the backup header
    u64 tail_offset = 0;       // (sectors - 33) * 512
};

// Checks that `image` is a GPT disk image of the expected shape that fits a drive of
// `drive_size_bytes`, and builds the layout for that drive. The first failing check decides:
// NotInstaller for the shape (a header of other than 92 bytes, a used partition that starts
// in the head, ends before it starts, or ends past the header's last usable sector or the last
// sector the body writes), TooSmall for the size, Damaged for the header's or the entry array's
// checksum. Only a layout whose every partition byte reaches the drive is given.
// `image` must outlive the layout (the body is a view of it).
[[nodiscard]] JobResult<DiskLayout> plan_disk_layout(std::span<const u8> image,
                                                     u64 drive_size_bytes);

// Writes `bytes` at `drive_offset` through the buffer in pieces that never cross a 1 MiB
// boundary of the drive, checking for a stop before each piece and publishing Writing progress
// after it.
[[nodiscard]] Status write_region(JobStatus& status, os::Handle drive, const TransferBuffer& buffer,
                                  std::string_view label, u64 drive_offset,
                                  std::span<const u8> bytes, u64& done_bytes, u64 total_bytes);

// Reads `bytes.size()` bytes back from `drive_offset` in the same pieces and compares them with
// `bytes`, checking for a stop before each piece and publishing Checking progress after it.
[[nodiscard]] Status verify_region(JobStatus& status, os::Handle drive,
                                   const TransferBuffer& buffer, std::string_view label,
                                   u64 drive_offset, std::span<const u8> bytes, u64& done_bytes,
                                   u64 total_bytes);

// Tail, body, head, then a flush.
[[nodiscard]] Status write_layout(JobStatus& status, const DiskLayout& layout,
                                  const RawDrive& drive, const TransferBuffer& buffer,
                                  std::string_view label);

// Head, body, tail, each piece compared with what was written.
[[nodiscard]] Status verify_layout(JobStatus& status, const DiskLayout& layout,
                                   const RawDrive& drive, const TransferBuffer& buffer,
                                   std::string_view label);

}  // namespace orvelo
