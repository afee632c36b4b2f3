// The Linux front end's command line: which command, and the write command's options. The
// arguments come from the terminal as bytes; every one must be valid UTF-8 before any text
// function reads it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_text.h"

namespace orvelo::cli {

inline constexpr std::string_view USAGE =
    "usage: orvelo list\n"
    "       orvelo write [--drive PATH [--yes]] [--any-disk] --image FILE\n"
    "       orvelo write [--drive PATH [--yes]] [--any-disk] [--server URL] [--dev]\n"
    "       orvelo check-manifest FILE [--dev]\n"
    "       orvelo --help | --version\n";

enum class Command { Help, Version, List, Write, CheckManifest };

struct CommandLine {
    Command command = Command::Help;
    std::string drive_path;                  // write: empty to pick from the list
    std::vector<std::string> job_arguments;  // write: as the Windows command line carries them
    std::optional<std::string> image_path;   // write: the first --image
    bool confirmed = false;                  // write: --yes, only with --drive
    bool any_disk = false;                   // write: a block device need not be removable
    std::string manifest_path;               // check-manifest
    bool dev_keys = false;                   // check-manifest: --dev
};

// The command, or the text for wrong usage (exit 2): "An argument is not valid UTF-8." when one
// is not, else USAGE. `arguments` excludes the program's name.
[[nodiscard]] Result<CommandLine> parse_command_line(std::span<const std::string> arguments);

}  // namespace orvelo::cli
