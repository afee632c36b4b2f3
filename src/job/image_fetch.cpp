#include "job/image_fetch.h"

#include <array>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "crypto/sha256.h"
#include "inflate/unpack_image.h"
#include "job/image_cache.h"
#include "os/file.h"

namespace orvelo {
namespace {

bool same_digest(const Sha256Digest& digest, const std::array<u8, 32>& expected) {
    return std::equal(digest.begin(), digest.end(), expected.begin());
}

}  // namespace

std::u16string cache_file_name(const std::array<u8, 32>& file_sha256) {
    const WideString name = utf8_to_wide(format(msg::CACHE_FILE_NAME, hex_lower(file_sha256)));
    return std::u16string(name.c_str());
}

Result<std::vector<u8>> fetch_image(JobStatus& status, const ReleaseManifest& manifest,
                                    const ServerAddress& server) {
    std::vector<u8> compressed;
    {
        // The cache folder is held only while the compressed file is got.
        ImageCache cache = ImageCache::open();
        const std::u16string name = cache_file_name(manifest.file_sha256);
        std::optional<std::vector<u8>> cached = cache.read(name, manifest.file_size);
        if (cached && same_digest(sha256(*cached), manifest.file_sha256)) {
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
            // Kept even when it is not what the manifest promises: the next run's read checks
            // it again and replaces it.
            cache.store(name, compressed);
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
