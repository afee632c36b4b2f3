// Hashes files with our SHA-256 and prints "digest  path" lines, for timing whole-process file
// hashing against other tools. The portable path is used unless --auto is given.
//   sha256_file [--auto] FILE...
#include <cstdio>
#include <cstring>
#include <vector>

#include "crypto/sha256.h"

int main(int argc, char** argv) {
    int first = 1;
    bool portable = true;
    if (argc > 1 && std::strcmp(argv[1], "--auto") == 0) {
        portable = false;
        first = 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--auto] FILE...\n", argv[0]);
        return 2;
    }
    orvelo::sha256_force_portable(portable);
    std::vector<orvelo::u8> buffer(64 * 1024);
    int status = 0;
    for (int i = first; i < argc; ++i) {
        std::FILE* file = std::fopen(argv[i], "rb");
        if (file == nullptr) {
            std::perror(argv[i]);
            status = 1;
            continue;
        }
        std::setvbuf(file, nullptr, _IONBF, 0);  // our buffer is the only one
        orvelo::Sha256 context;
        std::size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
            orvelo::sha256_update(context, std::span(buffer.data(), got));
        }
        const bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) {
            std::perror(argv[i]);
            status = 1;
            continue;
        }
        std::printf("%s  %s\n", orvelo::hex_lower(orvelo::sha256_finish(context)).c_str(), argv[i]);
    }
    return status;
}
