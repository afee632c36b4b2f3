#include <string>

#include "core/job_error.h"
#include "core/messages.h"
#include "crypto/signed_document.h"
#include "job/image_fetch.h"
#include "job/install_job.h"
#include "job/release_manifest.h"
#include "job/server_url.h"

namespace orvelo {

inline constexpr std::string_view MANIFEST_PATH = "/installer/latest";
inline constexpr u64 MANIFEST_LIMIT_BYTES = 65'536;

Result<JobImage> take_release(JobStatus& status, const std::string& server_url, bool dev_keys) {
    Result<ServerAddress> server = parse_server_url(server_url);
    if (!server) {
        return fail(std::move(server.error()));
    }
    publish_progress(status, JobPhase::Fetching, 0, 0);
    JobImage release;
    {
        // The answer and the manifest live only until the image is in hand.
        Result<std::vector<u8>> answer =
            https_get(*server, MANIFEST_PATH, MANIFEST_LIMIT_BYTES, ignore_progress,
                      [&] { return is_stop_requested(status); });
        if (!answer) {
            return fail(std::move(answer.error()));
        }
        JobResult<std::string> body = check_signed_document(*answer, dev_keys);
        if (!body) {
            return fail(job_error_text(body.error()));
        }
        JobResult<ReleaseManifest> manifest = parse_manifest(*body);
        if (!manifest) {
            return fail(job_error_text(manifest.error()));
        }
        Result<std::vector<u8>> image = fetch_image(status, *manifest, *server);
        if (!image) {
            return fail(std::move(image.error()));
        }
        release.image = std::move(*image);
        release.version = std::move(manifest->version);
    }
    return release;
}

}  // namespace orvelo
