#include "job/server_url.h"

#include <optional>

#include "core/format.h"
#include "core/messages.h"

namespace orvelo {
namespace {

// An unsigned 16-bit decimal: an optional "+", then one or more digits, at most 65535.
std::optional<u16> parse_port(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    u32 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<u32>(c - '0');
        if (value > 65535) {
            return std::nullopt;
        }
    }
    return static_cast<u16>(value);
}

}  // namespace

Result<ServerAddress> parse_server_url(std::string_view server_url) {
    const auto not_an_address = [&] { return fail(format(msg::NOT_A_SERVER_ADDRESS, server_url)); };
    ServerAddress server;
    std::string_view rest;
    if (server_url.starts_with("https://")) {
        server.secure = true;
        server.port = 443;
        rest = server_url.substr(8);
    } else if (server_url.starts_with("http://")) {
        server.secure = false;
        server.port = 80;
        rest = server_url.substr(7);
    } else {
        return not_an_address();
    }
    const std::string_view authority = rest.substr(0, rest.find('/'));
    std::string_view host = authority;
    if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        const std::optional<u16> port = parse_port(authority.substr(colon + 1));
        if (!port) {
            return not_an_address();
        }
        server.port = *port;
        host = authority.substr(0, colon);
    }
    if (host.empty()) {
        return not_an_address();
    }
    server.host = std::string(host);
    return server;
}

}  // namespace orvelo
