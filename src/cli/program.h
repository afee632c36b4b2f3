// The `orvelo` command: the installer's job from a Linux terminal. The program's entry hands it
// the arguments and the root of the machine's files, "/"; only a test build names another root,
// where a test lays out a machine of its own. Nothing in the environment moves that root.
#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace orvelo::cli {

// Runs one command; gives the exit status: 0 on success, 1 on failure, 2 on wrong usage.
[[nodiscard]] int run_program(std::span<const std::string> arguments,
                              const std::filesystem::path& system_root);

}  // namespace orvelo::cli
