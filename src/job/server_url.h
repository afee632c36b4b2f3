// The update server's address from the --server setting: "https://" or "http://", a host, an
// optional port; whatever follows the authority is not used, since the request paths are fixed.
#pragma once

#include <string_view>

#include "core/error_text.h"
#include "net/https_client.h"

namespace orvelo {

// The address, or "{server_url} is not a server address.".
[[nodiscard]] Result<ServerAddress> parse_server_url(std::string_view server_url);

}  // namespace orvelo
