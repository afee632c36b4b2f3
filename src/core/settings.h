// The settings taken from the command line: which update server to ask, whether the development
// signing key is trusted too, and an optional local image that replaces the download. Filled once
// by program entry before the window exists; only read afterwards.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/spin_lock.h"

namespace orvelo {

// The update server asked when no --server is given. It lies under the reserved .example domain,
// so that a build without a real server configured never reaches anything by accident.
inline constexpr std::string_view DEFAULT_SERVER_HOST = "download.orvelo.example";

struct Settings {
    std::string server_url;                  // verbatim --server value, or "https://" + default
    bool dev_keys = false;                   // --dev: trust the development key as well
    std::optional<std::string> local_image;  // --image: write this file instead of a release
};

// The process-wide settings and their lock. Readers copy under the lock and release it at once.
extern SpinLock settings_lock;
extern Settings settings;

// Splits a whole command line into arguments, program path included: space and tab separate,
// double quotes group and flip, a backslash is always literal, and "" gives an empty argument.
[[nodiscard]] std::vector<std::string> split_command_line(std::string_view line);

// Fills `target` from `arguments` (the program path already dropped). `lock` is held from the
// search for --server until local_image is stored; fields are stored in declaration order.
void store_settings(const std::vector<std::string>& arguments, SpinLock& lock, Settings& target);

// Reads the process's command line, splits it, drops the program path and fills `settings`.
// Never reports anything: unknown arguments are ignored and missing values fall back.
void parse_command_line();

// What one job takes from the settings at its start.
struct JobSettings {
    std::optional<std::string> local_image;  // when present, nothing else was read
    std::string server_url;
    bool dev_keys = false;
};

// The job's read: local_image first under the lock; only when it is absent, server_url and
// dev_keys under the lock taken again.
[[nodiscard]] JobSettings read_job_settings(SpinLock& lock, const Settings& source);

}  // namespace orvelo
