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

std::u16string partial_file_name(const std::array<u8, 32>& file_sha256) {
    const WideString name = utf8_to_wide(format(msg::PARTIAL_FILE_NAME, hex_lower(file_sha256)));
    return std::u16string(name.c_str());
}

namespace {

// The release file downloaded into `body`, which holds room for it and its spare byte, starting
// from the part an earlier job left when there is one. A part that does not complete into the
// file the manifest names (another server's bytes, a changed file) costs one download from the
// start. On failure other than a stop, what was received is kept as the part for the next job.
Status download_release(ImageCache& cache, JobStatus& status, const ReleaseManifest& manifest,
                        const ServerAddress& server, std::vector<u8>& body) {
    const std::u16string part_name = partial_file_name(manifest.file_sha256);
    const u64 expected = manifest.file_size;
    const bool from_part = cache.read_part(part_name, expected, body);
    const u64 part_bytes = body.size();
    const auto download = [&] {
        return https_download(
            server, format(msg::SERVER_FILE_PATH, manifest.file_path), expected, body,
            [&](u64 count) { on_download_progress(status, count, expected); },
            [&] { return is_stop_requested(status); });
    };
    Status received = download();
    if (received && from_part &&
        (body.size() != expected || !same_digest(sha256(body), manifest.file_sha256))) {
        cache.remove(part_name);
        body.clear();
        received = download();
    }
    if (!received) {
        // After a stop nothing is written: the job ends at once, as the user asked. A part is
        // shorter than the file; one as long or longer is no part of it.
        if (received.error().text != msg::STOPPED && !body.empty() && body.size() < expected &&
            body.size() != part_bytes) {
            cache.store(part_name, body);
        }
        return received;
    }
    return {};
}

}  // namespace

Result<std::vector<u8>> fetch_image(JobStatus& status, const ReleaseManifest& manifest,
                                    const ServerAddress& server) {
    // The cache folder is held until the release is safe in it.
    ImageCache cache = ImageCache::open();
    const std::u16string name = cache_file_name(manifest.file_sha256);
    std::vector<u8> compressed;
    bool from_cache = false;
    std::optional<std::vector<u8>> cached = cache.read(name, manifest.file_size);
    if (cached && same_digest(sha256(*cached), manifest.file_sha256)) {
        compressed = std::move(*cached);
        from_cache = true;
    } else {
        cached.reset();
        compressed.reserve(manifest.file_size + 1);
        const Status received = download_release(cache, status, manifest, server, compressed);
        if (!received) {
            return fail(received.error());
        }
    }

    const ExpectedImage expected{manifest.file_size, manifest.file_sha256, manifest.image_size,
                                 manifest.image_sha256};
    JobResult<std::vector<u8>> image = unpack_image(compressed, expected);
    if (!image) {
        // A release that fails its checks is never kept, and the release already kept stays:
        // it may be the only intact one this machine has.
        return fail(job_error_text(image.error()));
    }
    // Only a release that passed every check is kept, and only once it is kept do the files of
    // other releases go. A store that fails leaves them as they were.
    if (from_cache || cache.store(name, compressed)) {
        cache.remove_all_but(name);
    }
    return std::move(*image);
}

}  // namespace orvelo
