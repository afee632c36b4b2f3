// One GET of one path from the update server, the whole body collected in memory, with
// progress, a stop check and a size limit. Every failure becomes a text saying which step
// failed, in the user's words. A download of known size survives a connection that breaks off:
// it asks again for the rest with a range request.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/error_text.h"
#include "core/types.h"

namespace orvelo {

struct ServerAddress {
    std::string host;  // also the name shown when the server cannot be reached
    u16 port = 443;
    bool secure = true;  // TLS
};

inline constexpr std::string_view USER_AGENT = "Orvelo Installer/1.0";
inline constexpr u32 READ_PIECE_BYTES = 65'536;

// The body of `path` on `server`, or the text of the failed step. A body longer than
// `limit_bytes` fails. Room for `limit_bytes` is reserved once the status is 200, so the limit
// must be what the caller expects to receive (plus its one spare byte), not a loose ceiling.
// `on_progress` is told the body's length after each read that brought bytes; `should_stop` is
// asked before the first read and after each such read.
[[nodiscard]] Result<std::vector<u8>> https_get(const ServerAddress& server, std::string_view path,
                                                u64 limit_bytes,
                                                const std::function<void(u64)>& on_progress,
                                                const std::function<bool()>& should_stop);

// How a download waits between two tries: the first wait, doubled for each further try.
inline constexpr u32 FIRST_RETRY_WAIT_MS = 1'000;
inline constexpr int RETRY_COUNT = 5;
// A wait is cut into slices this long, between which `should_stop` is asked.
inline constexpr u32 RETRY_WAIT_SLICE_MS = 100;

// The body of `path` on `server`, `file_size` bytes long as the manifest says, collected in
// `body`, which may already hold the first bytes of it (a part kept from an earlier job) and on
// failure holds what was received. Room for `file_size` + 1 bytes is taken once (`body` keeps
// its own when it has that much); a body longer than that fails as in https_get.
//
// A body that breaks off while bytes are held (a read fails) is asked for again with
// "Range: bytes=N-", N the count held; so is one held from the start. A 206 answer must carry a
// Content-Range that starts at N and whose total is `file_size`, and its bytes are appended; a
// 200 answer means the server ignores ranges, and its whole body replaces what was held;
// anything else fails with https_get's text for that answer. After a break-off, failures to
// reach the server or to read count as tries: up to RETRY_COUNT more, after waits of 1, 2, 4, 8
// and 16 s, counted afresh whenever a try brought new bytes. `should_stop` is asked before each
// read, after each read that brought bytes, after each failed try and through every wait.
// `on_progress` gets the count held after each read that brought bytes. A body that holds
// `file_size` bytes or more from the start is not asked for at all.
[[nodiscard]] Status https_download(const ServerAddress& server, std::string_view path,
                                    u64 file_size, std::vector<u8>& body,
                                    const std::function<void(u64)>& on_progress,
                                    const std::function<bool()>& should_stop);

}  // namespace orvelo
