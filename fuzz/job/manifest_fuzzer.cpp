// The manifest body comes from the server (after its signature held, but a signed body is still
// outside data to the parser): any bytes must give a manifest or NotInstaller, and an accepted
// manifest must keep the limits that the job's memory and the drive rely on. The version is one
// line's field: it may hold any other character (a carriage return inside it included), which is
// why the terminal front end escapes control characters when it prints it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "job/release_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto manifest = orvelo::parse_manifest(body);
    if (!manifest) {
        if (manifest.error() != orvelo::JobError::NotInstaller) {
            std::abort();
        }
        return 0;
    }
    if (manifest->image_size == 0 || manifest->image_size % 512 != 0 ||
        manifest->image_size > orvelo::MANIFEST_SIZE_LIMIT ||
        manifest->file_size > orvelo::MANIFEST_SIZE_LIMIT ||
        !manifest->file_path.starts_with("installer/") ||
        manifest->version.find('\n') != std::string::npos) {
        std::abort();
    }
    return 0;
}
