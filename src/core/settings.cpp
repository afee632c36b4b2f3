#include "core/settings.h"

#include <algorithm>
#include <mutex>

#include "core/format.h"
#include "core/messages.h"
#include "core/text.h"
#include "os/system.h"

namespace orvelo {

SpinLock settings_lock;
Settings settings;

std::vector<std::string> split_command_line(std::string_view line) {
    std::vector<std::string> arguments;
    std::string current;
    bool in_quotes = false;
    bool exists = false;  // whether `current` has begun, even if it is still empty
    // Every byte that is not a space, tab or quote belongs to the current argument, so walking
    // bytes instead of code points keeps multi-byte characters whole.
    for (const char c : line) {
        if (c == ' ' || c == '\t') {
            if (in_quotes) {
                current.push_back(c);
                exists = true;
            } else {
                if (exists) {
                    arguments.push_back(std::move(current));
                    current.clear();
                }
                in_quotes = false;
                exists = false;
            }
        } else if (c == '"') {
            in_quotes = !in_quotes;
            exists = true;
        } else {
            current.push_back(c);
            exists = true;
        }
    }
    if (exists) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

namespace {

// The argument after the first occurrence of `option`, if the option occurs and is not last.
std::optional<std::string> value_after(const std::vector<std::string>& arguments,
                                       std::string_view option) {
    const auto found = std::find(arguments.begin(), arguments.end(), option);
    if (found == arguments.end() || found + 1 == arguments.end()) {
        return std::nullopt;
    }
    return *(found + 1);
}

}  // namespace

void store_settings(const std::vector<std::string>& arguments, SpinLock& lock, Settings& target) {
    const std::lock_guard guard(lock);
    std::optional<std::string> server = value_after(arguments, "--server");
    target.server_url = server ? std::move(*server) : format(msg::HTTPS_URL, DEFAULT_SERVER_HOST);
    target.dev_keys = std::find(arguments.begin(), arguments.end(), "--dev") != arguments.end();
    target.local_image = value_after(arguments, "--image");
}

void parse_command_line() {
    const std::u16string wide = os::command_line();
    std::vector<std::string> arguments = split_command_line(wide_to_utf8(wide));
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());
    }
    store_settings(arguments, settings_lock, settings);
}

JobSettings read_job_settings(SpinLock& lock, const Settings& source) {
    JobSettings copy;
    {
        const std::lock_guard guard(lock);
        if (source.local_image) {
            copy.local_image = source.local_image;
            return copy;
        }
    }
    const std::lock_guard guard(lock);
    copy.server_url = source.server_url;
    copy.dev_keys = source.dev_keys;
    return copy;
}

}  // namespace orvelo
