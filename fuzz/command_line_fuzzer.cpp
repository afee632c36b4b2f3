// The command line is outside data: any UTF-16 units must split and store without a crash, and
// the split must respect its own invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/settings.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    const std::string line = orvelo::wide_to_utf8(units);
    if (!orvelo::is_valid_utf8(line)) {
        std::abort();  // wide_to_utf8 must always give valid UTF-8
    }
    const std::vector<std::string> arguments = orvelo::split_command_line(line);
    for (const std::string& argument : arguments) {
        // Pieces of valid UTF-8 split at ASCII bytes stay valid.
        if (!orvelo::is_valid_utf8(argument)) {
            std::abort();
        }
    }
    orvelo::SpinLock lock;
    orvelo::Settings settings;
    orvelo::store_settings(arguments, lock, settings);
    const orvelo::WideString round_trip = orvelo::utf8_to_wide(line);
    if (round_trip.empty() || round_trip.back() != u'\0') {
        std::abort();
    }
    return 0;
}
