// Getting the release image named by the manifest: from the cache folder under the user's
// temporary directory when an intact copy is there, otherwise from the update server, keeping
// what was downloaded for the next run; then unpacked and checked against the manifest.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/error_text.h"
#include "core/job_status.h"
#include "job/release_manifest.h"
#include "net/https_client.h"

namespace orvelo {

inline constexpr std::string_view CACHE_FOLDER_NAME = "orvelo-installer";

// The cache folder: the temporary directory (with its final separator) and
// "orvelo-installer"; nothing when the system gives no temporary directory that fits.
[[nodiscard]] std::optional<std::string> cache_folder();

// "{folder}\{64 hex digits}.img.z".
[[nodiscard]] std::string cache_file_path(std::string_view folder,
                                          const std::array<u8, 32>& file_sha256);

// The uncompressed image, or the download's failure text (Stopped. included), or Damaged.
[[nodiscard]] Result<std::vector<u8>> fetch_image(JobStatus& status,
                                                  const ReleaseManifest& manifest,
                                                  const ServerAddress& server);

}  // namespace orvelo
