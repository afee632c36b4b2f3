#include "cli/command_line.h"

#include <algorithm>

#include "core/messages.h"
#include "core/unicode.h"

namespace orvelo::cli {
namespace {

bool parse_write(std::span<const std::string> arguments, CommandLine& line) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool has_value = i + 1 < arguments.size();
        if (argument == "--drive" && has_value && line.drive_path.empty()) {
            line.drive_path = arguments[++i];
            if (line.drive_path.empty()) {
                return false;
            }
        } else if ((argument == "--image" || argument == "--server") && has_value) {
            if (argument == "--image" && !line.image_path) {
                line.image_path = arguments[i + 1];
            }
            line.job_arguments.push_back(argument);
            line.job_arguments.push_back(arguments[++i]);
        } else if (argument == "--dev") {
            line.job_arguments.push_back(argument);
        } else if (argument == "--yes") {
            line.confirmed = true;
        } else if (argument == "--any-disk") {
            line.any_disk = true;
        } else {
            return false;
        }
    }
    // Without a named drive the user picks one, and the pick is then confirmed too.
    return !line.confirmed || !line.drive_path.empty();
}

}  // namespace

Result<CommandLine> parse_command_line(std::span<const std::string> arguments) {
    if (!std::all_of(arguments.begin(), arguments.end(),
                     [](const std::string& argument) { return is_valid_utf8(argument); })) {
        return fail(std::string(msg::ARGUMENT_NOT_UTF8));
    }
    const auto usage = [] { return fail(std::string(USAGE)); };
    if (arguments.empty()) {
        return usage();
    }
    CommandLine line;
    const std::string& command = arguments[0];
    const std::span<const std::string> rest = arguments.subspan(1);
    if (command == "--help" || command == "-h" || command == "help") {
        line.command = Command::Help;
        return rest.empty() ? Result<CommandLine>(line) : usage();
    }
    if (command == "--version") {
        line.command = Command::Version;
        return rest.empty() ? Result<CommandLine>(line) : usage();
    }
    if (command == "list") {
        line.command = Command::List;
        return rest.empty() ? Result<CommandLine>(line) : usage();
    }
    if (command == "write") {
        line.command = Command::Write;
        return parse_write(rest, line) ? Result<CommandLine>(line) : usage();
    }
    if (command == "check-manifest") {
        line.command = Command::CheckManifest;
        line.dev_keys = rest.size() == 2 && rest[1] == "--dev";
        if (rest.empty() || rest.size() > 2 || (rest.size() == 2 && !line.dev_keys)) {
            return usage();
        }
        line.manifest_path = rest[0];
        return line;
    }
    return usage();
}

}  // namespace orvelo::cli
