// The failure convention: a fallible operation gives back its value or a finished, user-readable
// message, never both and never an error code beside it.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace orvelo {

// A complete sentence or phrase in the user's words, shown at the end unchanged. It is made where
// the failure happens, passed up as it is or wrapped by a template whose last placeholder takes
// it, and never parsed on the way ("Stopped." is the one text the window compares).
struct ErrorText {
    std::string text;

    friend bool operator==(const ErrorText&, const ErrorText&) = default;
};

template <class T>
using Result = std::expected<T, ErrorText>;

// The outcome of an operation that has no value: done, or an ErrorText.
using Status = std::expected<void, ErrorText>;

[[nodiscard]] inline std::unexpected<ErrorText> fail(std::string text) {
    return std::unexpected(ErrorText{std::move(text)});
}

[[nodiscard]] inline std::unexpected<ErrorText> fail(ErrorText error) {
    return std::unexpected(std::move(error));
}

}  // namespace orvelo
