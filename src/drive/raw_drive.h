// Raw access to a physical disk: opened unbuffered and write-through, every transfer exact,
// sector-aligned and through the one page-aligned 1 MiB transfer buffer, and a fixed order of
// closing that hands the disk back to the system.
#pragma once

#include <span>
#include <vector>

#include "core/error_text.h"
#include "core/messages.h"
#include "core/text.h"
#include "core/types.h"
#include "os/file.h"

namespace orvelo {

inline constexpr u32 TRANSFER_BYTES = 1'048'576;

// The only sector size the installer writes: the image is a GPT image for 512-byte sectors.
inline constexpr u32 SECTOR_BYTES_REQUIRED = 512;

// The disk as the job holds it while writing: every volume of the disk, locked and dismounted,
// in the order they were locked (each handle holds its lock while it stays open), and the disk.
// Move-only; close_raw_drive ends it. A RawDrive still open when destroyed is closed then, so
// no path can leak the locks.
class RawDrive {
  public:
    RawDrive(std::vector<os::Handle> volume_handles, os::Handle disk)
        : volume_handles_(std::move(volume_handles)), disk_(disk) {}
    RawDrive(RawDrive&& other) noexcept;
    RawDrive& operator=(RawDrive&&) = delete;
    RawDrive(const RawDrive&) = delete;
    ~RawDrive();

    [[nodiscard]] os::Handle disk() const { return disk_; }
    [[nodiscard]] const std::vector<os::Handle>& volume_handles() const { return volume_handles_; }

  private:
    friend void close_raw_drive(RawDrive drive);
    void close();

    std::vector<os::Handle> volume_handles_;
    os::Handle disk_;  // INVALID_HANDLE once closed or moved from
};

// One 1 MiB block of page-aligned, committed read-write memory: what unbuffered transfers
// require. Released when destroyed.
class TransferBuffer {
  public:
    // The buffer, or "Out of memory.".
    [[nodiscard]] static Result<TransferBuffer> create();
    TransferBuffer(TransferBuffer&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    TransferBuffer& operator=(TransferBuffer&&) = delete;
    TransferBuffer(const TransferBuffer&) = delete;
    ~TransferBuffer();

    [[nodiscard]] u8* data() const { return data_; }
    [[nodiscard]] static constexpr u32 size() { return TRANSFER_BYTES; }

  private:
    explicit TransferBuffer(u8* data) : data_(data) {}
    u8* data_;
};

// "\\.\PhysicalDrive{disk_number}" for a system call.
[[nodiscard]] WideString physical_drive_path(u32 disk_number);

// Opens the disk for reading and writing, unbuffered and write-through, taking over the locked
// volume handles. On failure every volume handle is closed, in order, and the text
// (`not_opened_text`: label, then the system's text) carries the error of the open.
[[nodiscard]] Result<RawDrive> open_raw_drive(
    u32 disk_number, std::string_view label, std::vector<os::Handle> volume_handles,
    std::string_view not_opened_text = msg::DRIVE_NOT_OPENED);

[[nodiscard]] Status seek_to(os::Handle handle, u64 offset);

// One write of `length` bytes from the buffer at `offset`; fewer bytes written is a failure.
// `write_error` is the system's code when the write call itself failed, else 0 (a failed seek,
// a short write, a success).
[[nodiscard]] Status write_at(os::Handle handle, u64 offset, const TransferBuffer& buffer,
                              u32 length, u32& write_error);
[[nodiscard]] Status write_at(os::Handle handle, u64 offset, const TransferBuffer& buffer,
                              u32 length);

// One read of exactly `length` bytes into the buffer from `offset`; fewer is a failure.
[[nodiscard]] Status read_exact_at(os::Handle handle, u64 offset, const TransferBuffer& buffer,
                                   u32 length);

[[nodiscard]] Status flush_drive(os::Handle handle);

// Asks the system to re-read the disk's layout, closes the disk, then each volume in list
// order, which releases their locks. Cannot fail.
void close_raw_drive(RawDrive drive);

// "Writing to {label} failed: {inner}"; a success passes through.
[[nodiscard]] Status writing_failed(std::string_view label, Status result);

// "Reading {label} back failed: {inner}"; a success passes through.
[[nodiscard]] Status reading_back_failed(std::string_view label, Status result);

}  // namespace orvelo
