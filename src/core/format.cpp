#include "core/format.h"

namespace orvelo {

std::string decimal_text(u64 number) {
    char digits[20];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    std::string text;
    text.reserve(count);
    while (count != 0) {
        text.push_back(digits[--count]);
    }
    return text;
}

void FormatArg::append_to(std::string& out) const {
    if (is_number_) {
        out += decimal_text(number_);
    } else {
        out += text_;
    }
}

std::string format_list(std::string_view pattern, std::initializer_list<FormatArg> args) {
    std::string out;
    out.reserve(pattern.size() + 16 * args.size());
    const FormatArg* next_arg = args.begin();
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' &&
            next_arg != args.end()) {
            next_arg->append_to(out);
            ++next_arg;
            i += 2;
        } else {
            out.push_back(pattern[i]);
            ++i;
        }
    }
    return out;
}

}  // namespace orvelo
