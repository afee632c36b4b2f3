#include "job/image_fetch.h"

#include <array>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "crypto/sha256.h"
#include "inflate/unpack_image.h"
#include "job/install_job.h"
#include "os/file.h"

namespace orvelo {
namespace {

bool same_digest(const Sha256Digest& digest, const std::array<u8, 32>& expected) {
    return std::equal(digest.begin(), digest.end(), expected.begin());
}

// Keeps the download for the next run. Neither the open nor the write is looked at: a cache
// that cannot be written only means the next run downloads again.
void store_in_cache(const std::string& path, const std::vector<u8>& bytes) {
    const WideString wide = utf8_to_wide(path);
    const os::Handle file = os::create_file(wide.c_str(), os::GENERIC_WRITE_ACCESS, 0,
                                            os::CREATE_ALWAYS_FILE, os::NORMAL_ATTRIBUTES);
    if (file == os::INVALID_HANDLE) {
        return;
    }
    // One write of everything: the file is at most the manifest's limit plus one byte, which a
    // 32-bit count holds.
    u32 written = 0;
    (void)os::write_file(file, bytes.data(), static_cast<u32>(bytes.size()), written);
    os::close_handle(file);
}

}  // namespace

std::optional<std::string> cache_folder() {
    std::array<char16_t, os::TEMP_PATH_UNITS> buffer{};
    const u32 units = os::temp_path(buffer);
    // 0 is a failure; an answer of the buffer's size or more is the size a longer path needs,
    // and the buffer then holds no path.
    if (units == 0 || units >= buffer.size()) {
        return std::nullopt;
    }
    std::string folder = wide_to_utf8(std::span<const char16_t>(buffer.data(), units));
    folder += CACHE_FOLDER_NAME;
    return folder;
}

std::string cache_file_path(std::string_view folder, const std::array<u8, 32>& file_sha256) {
    return format(msg::CACHE_FILE_PATH, folder, hex_lower(file_sha256));
}

Result<std::vector<u8>> fetch_image(JobStatus& status, const ReleaseManifest& manifest,
                                    const ServerAddress& server) {
    const std::optional<std::string> folder = cache_folder();
    std::optional<std::string> cache_path;
    if (folder) {
        (void)os::create_directory(utf8_to_wide(*folder).c_str());
        cache_path = cache_file_path(*folder, manifest.file_sha256);
    }

    std::vector<u8> compressed;
    std::optional<std::vector<u8>> cached;
    if (cache_path) {
        cached = read_whole_file(*cache_path);
    }
    if (cached && cached->size() == manifest.file_size &&
        same_digest(sha256(*cached), manifest.file_sha256)) {
        compressed = std::move(*cached);
    } else {
        cached.reset();
        const u64 expected = manifest.file_size;
        Result<std::vector<u8>> downloaded = https_get(
            server, format(msg::SERVER_FILE_PATH, manifest.file_path), expected + 1,
            [&](u64 received) { on_download_progress(status, received, expected); },
            [&] { return is_stop_requested(status); });
        if (!downloaded) {
            return fail(std::move(downloaded.error()));
        }
        compressed = std::move(*downloaded);
        if (cache_path) {
            store_in_cache(*cache_path, compressed);
        }
    }

    const ExpectedImage expected{manifest.file_size, manifest.file_sha256, manifest.image_size,
                                 manifest.image_sha256};
    JobResult<std::vector<u8>> image = unpack_image(compressed, expected);
    if (!image) {
        return fail(job_error_text(image.error()));
    }
    return std::move(*image);
}

}  // namespace orvelo
