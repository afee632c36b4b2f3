#include "job/install_job.h"

#include <algorithm>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "job/disk_layout.h"
#include "job/drive_identity.h"
#include "job/drive_preparation.h"
#include "os/file.h"
#include "os/system.h"

namespace orvelo {

std::vector<u8> read_open_file(os::Handle file, u64 size) {
    // One allocation for the whole file, grown piece by piece just before each read: the bytes
    // a read lands on were made a moment earlier and are still in the cache, so the buffer is
    // not first cleared in a pass of its own.
    std::vector<u8> bytes;
    bytes.reserve(size);
    os::advise_large_buffer(bytes.data(), bytes.capacity());
    u64 filled = 0;
    while (filled < size) {
        const u32 piece = static_cast<u32>(std::min<u64>(size - filled, FILE_READ_PIECE_BYTES));
        bytes.resize(filled + piece);
        u32 read = 0;
        if (!os::read_file(file, bytes.data() + filled, piece, read) || read == 0) {
            break;
        }
        filled += read;
    }
    bytes.resize(filled);
    return bytes;
}

std::optional<std::vector<u8>> read_whole_file(std::string_view path) {
    const WideString wide = utf8_to_wide(path);
    const os::Handle file = os::create_file(wide.c_str(), os::GENERIC_READ_ACCESS, os::SHARE_READ,
                                            os::OPEN_EXISTING_FILE, os::NO_FLAGS);
    if (file == os::INVALID_HANDLE) {
        return std::nullopt;
    }
    std::vector<u8> bytes;
    u64 size = 0;
    if (os::get_file_size(file, size) && size < LOCAL_FILE_LIMIT_BYTES) {
        bytes = read_open_file(file, size);
    }
    os::close_handle(file);
    return bytes;
}

Result<JobImage> take_local_image(const std::string& path) {
    std::optional<std::vector<u8>> bytes = read_whole_file(path);
    if (!bytes) {
        return fail(format(msg::CANT_BE_READ, path));
    }
    return JobImage{std::move(*bytes), std::string(msg::LOCAL_IMAGE_VERSION)};
}

namespace {

// The layout's failure in words: a local file is named as such, since neither the server nor a
// download is involved.
ErrorText layout_error_text(JobError error, std::string_view image_file) {
    if (!image_file.empty() && error == JobError::NotInstaller) {
        return ErrorText{format(msg::LOCAL_NOT_INSTALLER, image_file)};
    }
    if (!image_file.empty() && error == JobError::Damaged) {
        return ErrorText{format(msg::LOCAL_DAMAGED, image_file)};
    }
    return job_error_text(error);
}

Result<DiskLayout> plan_for_drive(std::span<const u8> image, const DriveCandidate& drive,
                                  std::string_view image_file) {
    if (Status sector = check_sector_size(drive); !sector) {
        return fail(std::move(sector.error()));
    }
    JobResult<DiskLayout> layout = plan_disk_layout(image, drive.size_bytes);
    if (!layout) {
        return fail(layout_error_text(layout.error(), image_file));
    }
    return std::move(*layout);
}

}  // namespace

Status check_image_for_drive(std::span<const u8> image, const DriveCandidate& drive,
                             std::string_view image_file) {
    const Result<DiskLayout> layout = plan_for_drive(image, drive, image_file);
    if (!layout) {
        return fail(layout.error());
    }
    return {};
}

Status write_image(JobStatus& status, const DriveCandidate& drive, std::span<const u8> image,
                   const DriveAccess& access, std::string_view image_file) {
    if (Status stopped = check_stopped(status); !stopped) {
        return stopped;
    }
    publish_progress(status, JobPhase::Preparing, 0, 0);
    Result<DiskLayout> layout = plan_for_drive(image, drive, image_file);
    if (!layout) {
        return fail(std::move(layout.error()));
    }
    // The drive must still be the one confirmed before any of its volumes is locked.
    if (Status same = access.checks.before_locking(drive); !same) {
        return same;
    }
    Result<PreparedDrive> prepared = prepare_drive(status, drive, access);
    if (!prepared) {
        return fail(std::move(prepared.error()));
    }
    Status result = write_layout(status, *layout, prepared->drive, prepared->buffer, drive.label);
    if (result) {
        result = verify_layout(status, *layout, prepared->drive, prepared->buffer, drive.label);
    }
    close_raw_drive(std::move(prepared->drive));
    return result;
}

void run_job(JobStatus& status, SpinLock& settings_guard, const Settings& source,
             JobFrontEnd& front_end) {
    const std::optional<DriveCandidate> drive = copy_job_drive(status);
    if (!drive) {
        return;
    }
    const JobSettings settings_copy = read_job_settings(settings_guard, source);
    Result<JobImage> taken = fail(std::string());
    if (front_end.local_image) {
        taken = std::move(*front_end.local_image);
        front_end.local_image.reset();
    } else if (settings_copy.local_image) {
        taken = take_local_image(*settings_copy.local_image);
    } else {
        taken = take_release(status, settings_copy.server_url, settings_copy.dev_keys);
    }
    const std::string image_file = settings_copy.local_image.value_or(std::string());
    Result<std::string> outcome = fail(std::string());
    if (!taken) {
        outcome = fail(std::move(taken.error()));
    } else {
        const Status written =
            write_image(status, *drive, taken->image, front_end.drive_access, image_file);
        outcome = written ? Result<std::string>(std::move(taken->version))
                          : Result<std::string>(fail(written.error()));
        taken->image = {};  // the image is released before the end is announced
    }
    end_job(status, outcome);
}

u32 run_install_job(void* start_argument) {
    if (start_argument != nullptr) {
        run_job(job_status, settings_lock, settings, *static_cast<JobFrontEnd*>(start_argument));
        return 0;
    }
    JobFrontEnd window;
    run_job(job_status, settings_lock, settings, window);
    return 0;
}

}  // namespace orvelo
