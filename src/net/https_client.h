// One GET of one path from the update server, the whole body collected in memory, with
// progress, a stop check and a size limit. Every failure becomes a text saying which step
// failed, in the user's words.
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

}  // namespace orvelo
