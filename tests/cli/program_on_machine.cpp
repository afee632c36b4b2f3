// A test build of the `orvelo` command that reads a machine laid out by a test instead of the
// one it runs on: `orvelo_on_machine ROOT ARGUMENTS...`. Never installed; the shipped program
// reads "/" only.
#include <string>
#include <vector>

#include "cli/program.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    return orvelo::cli::run_program(arguments, argv[1]);
}
