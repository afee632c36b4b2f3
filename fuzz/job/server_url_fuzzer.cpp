// The server address comes from the command line: any text must give an address or the
// catalogue's refusal, and an address must have a host without the authority's separators.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/format.h"
#include "core/messages.h"
#include "job/server_url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto address = orvelo::parse_server_url(text);
    if (!address) {
        if (address.error().text != orvelo::format(orvelo::msg::NOT_A_SERVER_ADDRESS, text)) {
            std::abort();
        }
        return 0;
    }
    if (address->host.empty() || address->host.find('/') != std::string::npos ||
        (address->secure != text.starts_with("https://"))) {
        std::abort();
    }
    return 0;
}
