// Helpers shared by the crypto tests: reading the test data in tests/data (natively and under
// Wine), hexadecimal, the "key = value" files of the NIST vectors and a small JSON reader for the
// Wycheproof files.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace orvelo::test {

// A path below tests/data. Under Wine the Unix root is drive Z:.
std::string data_path(std::string_view relative);

// The whole file, or nothing when it cannot be read.
std::optional<std::vector<u8>> read_file(const std::string& path);
std::string read_text(const std::string& path);  // "" when unreadable
// A file below tests/data; a missing or empty one aborts the test binary, so that losing the
// data fails its tests rather than passing them on nothing.
std::string read_data(std::string_view relative);

// Upper- or lower-case hexadecimal of any even length; aborts the test binary on bad input
// (the inputs are our own fixtures and published vectors).
std::vector<u8> from_hex(std::string_view hex);

template <std::size_t N>
std::array<u8, N> array_from_hex(std::string_view hex) {
    const std::vector<u8> bytes = from_hex(hex);
    std::array<u8, N> out = {};
    for (std::size_t i = 0; i < N && i < bytes.size(); ++i) {
        out[i] = bytes[i];
    }
    return out;
}

inline std::span<const u8> as_bytes(std::string_view text) {
    return {reinterpret_cast<const u8*>(text.data()), text.size()};
}

// A NIST response file: one record per blank-line separated group of "Key = Value" lines;
// "[...]" and "#" lines are skipped.
using RspRecord = std::map<std::string, std::string>;
std::vector<RspRecord> parse_rsp(std::string_view text);

// A JSON value; just enough for the Wycheproof files.
struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;
    std::vector<std::pair<std::string, Json>> object;

    // The member named `key`; a Null value when absent.
    const Json& operator[](std::string_view key) const;
};

// Nothing when the text is not well-formed JSON.
std::optional<Json> parse_json(std::string_view text);

}  // namespace orvelo::test
