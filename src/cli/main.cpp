// orvelo: the installer's job from a Linux terminal. It writes an installer drive (a block
// device or a drive file) from a local image or the signed release, with the same job, texts
// and checks as the Windows program, reading the machine's own files under "/".
#include <string>
#include <vector>

#include "cli/program.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return orvelo::cli::run_program(arguments, "/");
}
