// The release manifest: the signed text that names the newest release, its version, the path of
// the compressed image on the server, and the sizes and SHA-256 digests of the compressed file
// and of the disk image. Everything downloaded and written is bound to it by those values.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/job_error.h"
#include "core/types.h"

namespace orvelo {

// The largest image and compressed file a manifest may announce: the job holds both in memory.
inline constexpr u64 MANIFEST_SIZE_LIMIT = 536'870'912;

struct ReleaseManifest {
    std::string version;    // shown to the user on success; may be empty
    std::string file_path;  // "installer/..." on the server
    std::array<u8, 32> file_sha256{};
    u64 file_size = 0;
    std::array<u8, 32> image_sha256{};
    u64 image_size = 0;
    u64 build = 0;
    u64 issued = 0;
};

// Parses the signed body. NotInstaller for a wrong first line, a malformed value in a recognised
// line, a missing key, or a path or size outside the rules; lines that are not recognised are
// skipped.
[[nodiscard]] JobResult<ReleaseManifest> parse_manifest(std::string_view body);

}  // namespace orvelo
