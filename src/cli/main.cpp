// orvelo: the installer's job from a Linux terminal. It writes an installer drive (a block
// device or a drive file) from a local image or the signed release, with the same job, texts
// and checks as the Windows program, reading the machine's own files under "/".
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "cli/program.h"

namespace {

// Descriptors 0, 1 and 2 are open before the program opens anything: a closed one would be
// the number that the next open takes, and a drive, image or cache file must never become the
// standard output that progress lines are written to. A closed one is given /dev/null.
bool open_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) {
            continue;
        }
        const int opened = open("/dev/null", O_RDWR);
        if (opened == -1) {
            return false;
        }
        if (opened != fd) {  // only when a lower one was closed too, and is open by now
            dup2(opened, fd);
            close(opened);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!open_standard_descriptors()) {
        return 1;
    }
    // An output that went away (a closed pipe, `| head -1`) is no reason to end a job in the
    // middle of writing a drive: writes to it fail, and the job goes on.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return orvelo::cli::run_program(arguments, "/");
}
