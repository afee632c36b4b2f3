// Getting the release image named by the manifest: from the cache (job/image_cache.h) when an
// intact copy is there, otherwise from the update server, keeping what was downloaded for the
// next run; then unpacked and checked against the manifest. A download continues from the part
// an earlier job left, and one that still breaks off leaves its part for the next.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/error_text.h"
#include "core/job_status.h"
#include "job/release_manifest.h"
#include "net/https_client.h"

namespace orvelo {

// "{64 hex digits}.img.z": the cache file's name for a release file of that digest.
[[nodiscard]] std::u16string cache_file_name(const std::array<u8, 32>& file_sha256);

// "{64 hex digits}.img.z.partial": the name of the part of a release file of that digest that a
// download which broke off left for the next job. Never read as the release file itself.
[[nodiscard]] std::u16string partial_file_name(const std::array<u8, 32>& file_sha256);

// The uncompressed image, or the download's failure text (Stopped. included), or Damaged.
[[nodiscard]] Result<std::vector<u8>> fetch_image(JobStatus& status,
                                                  const ReleaseManifest& manifest,
                                                  const ServerAddress& server);

}  // namespace orvelo
