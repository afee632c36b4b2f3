// Message templates: each "{}" is replaced, in order, by the next argument. A text argument is
// inserted unchanged; a number is an unsigned integer in plain decimal. There is no other
// formatting (no widths, no hexadecimal, no escaped braces), and formatting never fails.
#pragma once

#include <concepts>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/error_text.h"
#include "core/types.h"

namespace orvelo {

class FormatArg {
  public:
    FormatArg(std::string_view text) : text_(text), is_number_(false) {}
    FormatArg(const std::string& text) : text_(text), is_number_(false) {}
    FormatArg(const char* text) : text_(text), is_number_(false) {}
    FormatArg(const ErrorText& error) : text_(error.text), is_number_(false) {}
    // Only unsigned integers: the messages print no signs, and a bool or a character here would
    // be a mistake rather than a number.
    template <std::unsigned_integral N>
    requires(!std::same_as<N, bool> && !std::same_as<N, char8_t> && !std::same_as<N, char16_t> &&
             !std::same_as<N, char32_t>) FormatArg(N number)
        : number_(number), is_number_(true) {}

    void append_to(std::string& out) const;

  private:
    std::string_view text_;
    u64 number_ = 0;
    bool is_number_;
};

// Fills the placeholders from `args` in order. A placeholder without an argument stays as "{}"
// and an argument without a placeholder is dropped; the catalogue's callers never do either.
[[nodiscard]] std::string format_list(std::string_view pattern,
                                      std::initializer_list<FormatArg> args);

template <class... Args>
[[nodiscard]] std::string format(std::string_view pattern, const Args&... args) {
    return format_list(pattern, {FormatArg(args)...});
}

// Unsigned decimal, no leading zeros.
[[nodiscard]] std::string decimal_text(u64 number);

}  // namespace orvelo
