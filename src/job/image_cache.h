// The cache of downloaded release files: one file per release in the folder "orvelo-installer",
// named by the hexadecimal SHA-256 of the compressed file, holding it exactly as downloaded.
//
// The program runs elevated (as root on Linux), while the folder lies where the user's ordinary
// processes can write. So nothing here may be turned into a write elsewhere:
// - the folder is opened without following a reparse point or link, must be a real folder, and
//   stays open for the cache's whole life (without delete sharing on Windows, so it cannot be
//   renamed and replaced meanwhile); every file is reached by name inside that open folder;
// - a file is used only when it is a regular file, not itself a reparse point, whose final path
//   is the folder's final path and its name;
// - a download is written under a new, exclusive temporary name and renamed into place, so no
//   existing file is ever opened for writing.
// Any doubt means no cache for this job: it downloads and keeps nothing, as when there is no
// cache folder at all. The cache never fails a job.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"
#include "os/file.h"

namespace orvelo {

inline constexpr std::u16string_view CACHE_FOLDER_NAME = u"orvelo-installer";

class ImageCache {
  public:
    // The cache folder under the system's cache home (os::cache_home), made when missing and
    // opened; a cache whose folder cannot be trusted is not usable.
    [[nodiscard]] static ImageCache open();

    ImageCache(ImageCache&& other) noexcept;
    ImageCache& operator=(ImageCache&&) = delete;
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;
    ~ImageCache();

    [[nodiscard]] bool usable() const { return folder_ != os::INVALID_HANDLE && !doubtful_; }

    // The bytes of the cached file `name` when it is there, trustworthy and exactly
    // `size_bytes` long. Something other than a regular file of ours under the name (a link, a
    // folder, a FIFO or device, a file whose final path is elsewhere, one that cannot be
    // opened) makes the cache unusable for the rest of this job.
    [[nodiscard]] std::optional<std::vector<u8>> read(std::u16string_view name, u64 size_bytes);

    // Keeps `bytes` under `name`: written whole under a temporary name made exclusively, then
    // renamed over `name`. Nothing is kept when the cache is not usable or a step fails.
    void store(std::u16string_view name, std::span<const u8> bytes);

  private:
    ImageCache() = default;
    [[nodiscard]] bool is_own_file(os::Handle file, std::u16string_view name) const;

    os::Handle folder_ = os::INVALID_HANDLE;
    std::u16string folder_final_path_;  // the open folder's final path
    bool doubtful_ = false;
};

}  // namespace orvelo
