// The cache of downloaded release files in the folder "orvelo-installer": the file of the newest
// release taken, named by the hexadecimal SHA-256 of the compressed file and holding it exactly
// as downloaded, and beside it at most the part of a download that broke off, for the next job
// to continue. Once a job holds an intact release, the files of other releases go: the cache
// keeps one release, not one per release ever fetched.
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

// Whether `name` is one the cache makes: 64 lower-case hexadecimal digits, then ".img.z" (a
// release file) or ".img.z.partial" (a download's part), either of them optionally followed by
// "." and decimal digits and ".part" (the temporary name it is written under).
[[nodiscard]] bool is_cache_entry_name(std::u16string_view name);

// The cache folder's path under the system's cache home (os::cache_home), or nothing when the
// system has none.
[[nodiscard]] std::optional<std::u16string> cache_folder_path();

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

    // Appends to `bytes` the content of the file `name` when it is there, trustworthy (as for
    // read) and at most `limit_bytes` long, and tells whether it did; `bytes` has room for it
    // already. A longer file is deleted: it cannot be the start of the file it is named for.
    [[nodiscard]] bool read_part(std::u16string_view name, u64 limit_bytes, std::vector<u8>& bytes);

    // Keeps `bytes` under `name`: written whole under a temporary name made exclusively, then
    // renamed over `name`. Nothing is kept when the cache is not usable or a step fails; true
    // when `bytes` are kept.
    bool store(std::u16string_view name, std::span<const u8> bytes);

    // Deletes the entry `name`, never what a link there points to.
    void remove(std::u16string_view name);

    // Deletes every regular file of the cache's own naming (64 lower-case hexadecimal digits
    // and one of its endings, see is_cache_entry_name) but `kept` and the temporary files of
    // `kept`'s release, which another run may be writing. Nothing else in the folder is touched:
    // not a file of another name, not a folder, and not a link, whatever its name.
    void remove_all_but(std::u16string_view kept);

  private:
    ImageCache() = default;
    [[nodiscard]] bool is_own_file(os::Handle file, std::u16string_view name) const;
    // The file `name` opened for reading when it is there and trustworthy; INVALID_HANDLE
    // otherwise, and then the cache is doubtful unless nothing had the name.
    [[nodiscard]] os::Handle open_own(std::u16string_view name);

    os::Handle folder_ = os::INVALID_HANDLE;
    std::u16string folder_final_path_;  // the open folder's final path
    bool doubtful_ = false;
};

}  // namespace orvelo
