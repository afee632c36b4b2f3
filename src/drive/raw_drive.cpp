#include "drive/raw_drive.h"

#include "core/format.h"
#include "core/messages.h"
#include "drive/storage_requests.h"
#include "os/system.h"

namespace orvelo {
namespace {

// The text of a transfer that failed or moved fewer bytes than asked. When the system reported
// success for a short transfer, the thread's error code is left over from some earlier call
// (0, or the end of the volume enumeration) and would describe something else; the end of the
// medium is what such a transfer met.
ErrorText transfer_failure_text(bool call_succeeded) {
    if (call_succeeded) {
        return error_code_text(os::short_transfer_error_code());
    }
    return last_error_text();
}

void close_volumes(const std::vector<os::Handle>& volume_handles) {
    for (const os::Handle volume : volume_handles) {
        os::close_handle(volume);
    }
}

}  // namespace

RawDrive::RawDrive(RawDrive&& other) noexcept
    : volume_handles_(std::move(other.volume_handles_)),
      disk_(std::exchange(other.disk_, os::INVALID_HANDLE)) {
    other.volume_handles_.clear();
}

RawDrive::~RawDrive() {
    close();
}

void RawDrive::close() {
    if (disk_ == os::INVALID_HANDLE) {
        return;
    }
    update_disk_properties(disk_);
    os::close_handle(disk_);
    disk_ = os::INVALID_HANDLE;
    close_volumes(volume_handles_);
    volume_handles_.clear();
}

void close_raw_drive(RawDrive drive) {
    drive.close();
}

Result<TransferBuffer> TransferBuffer::create() {
    void* block = os::allocate_pages(TRANSFER_BYTES);
    if (block == nullptr) {
        return fail(std::string(msg::OUT_OF_MEMORY));
    }
    return TransferBuffer(static_cast<u8*>(block));
}

TransferBuffer::~TransferBuffer() {
    if (data_ != nullptr) {
        os::free_pages(data_);
    }
}

WideString physical_drive_path(u32 disk_number) {
    return utf8_to_wide(format(msg::PHYSICAL_DRIVE_PATH, disk_number));
}

Result<RawDrive> open_raw_drive(u32 disk_number, std::string_view label,
                                std::vector<os::Handle> volume_handles,
                                std::string_view not_opened_text) {
    const WideString path = physical_drive_path(disk_number);
    const os::Handle disk =
        os::create_file(path.c_str(), os::GENERIC_READ_ACCESS | os::GENERIC_WRITE_ACCESS,
                        os::SHARE_READ | os::SHARE_WRITE, os::OPEN_EXISTING_FILE,
                        os::FLAG_WRITE_THROUGH | os::FLAG_NO_BUFFERING);
    if (disk == os::INVALID_HANDLE) {
        ErrorText reason = last_error_text();
        close_volumes(volume_handles);
        return fail(format(not_opened_text, label, reason));
    }
    return RawDrive(std::move(volume_handles), disk);
}

Status seek_to(os::Handle handle, u64 offset) {
    if (!os::set_file_pointer(handle, offset)) {
        return fail(last_error_text());
    }
    return {};
}

Status write_at(os::Handle handle, u64 offset, const TransferBuffer& buffer, u32 length,
                u32& write_error) {
    write_error = 0;
    if (Status sought = seek_to(handle, offset); !sought) {
        return sought;
    }
    u32 written = 0;
    if (!os::write_file(handle, buffer.data(), length, written)) {
        write_error = os::last_error_code();
        return fail(error_code_text(write_error));
    }
    if (written != length) {
        return fail(transfer_failure_text(true));
    }
    return {};
}

Status write_at(os::Handle handle, u64 offset, const TransferBuffer& buffer, u32 length) {
    u32 write_error = 0;
    return write_at(handle, offset, buffer, length, write_error);
}

Status read_exact_at(os::Handle handle, u64 offset, const TransferBuffer& buffer, u32 length) {
    if (Status sought = seek_to(handle, offset); !sought) {
        return sought;
    }
    u32 read = 0;
    const bool ok = os::read_file(handle, buffer.data(), length, read);
    if (!ok || read != length) {
        return fail(transfer_failure_text(ok));
    }
    return {};
}

Status flush_drive(os::Handle handle) {
    if (!os::flush_file_buffers(handle)) {
        return fail(last_error_text());
    }
    return {};
}

Status writing_failed(std::string_view label, Status result) {
    if (result) {
        return result;
    }
    return fail(format(msg::WRITING_FAILED, label, result.error()));
}

Status reading_back_failed(std::string_view label, Status result) {
    if (result) {
        return result;
    }
    return fail(format(msg::READING_BACK_FAILED, label, result.error()));
}

}  // namespace orvelo
