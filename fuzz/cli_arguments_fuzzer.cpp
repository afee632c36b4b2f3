// The Linux front end's arguments are outside data: any bytes, split at zero bytes into
// arguments as the kernel hands them over, must parse without a crash; a parsed command line
// holds only valid UTF-8, and each argument shown on a terminal is valid UTF-8 with no control
// byte but the line feed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "core/terminal_text.h"
#include "core/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back().push_back(static_cast<char>(data[i]));
        }
    }
    const auto line = orvelo::cli::parse_command_line(arguments);
    if (line) {
        for (const std::string& argument : arguments) {
            if (!orvelo::is_valid_utf8(argument)) {
                std::abort();  // a command line is parsed from valid UTF-8 only
            }
        }
    }
    for (const std::string& argument : arguments) {
        const std::string shown = orvelo::visible_text(argument);
        if (!orvelo::is_valid_utf8(shown)) {
            std::abort();
        }
        for (const char c : shown) {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f) {
                std::abort();
            }
        }
    }
    return 0;
}
