// Measures the peak memory of unpack_image beyond its input and its image.
//
//   unpack_memory_probe make FILE MIB   writes a compressed synthetic disk image of MIB MiB to
//                                       FILE and its sizes and digests to FILE.expected
//   unpack_memory_probe unpack FILE     unpacks FILE and reports the resident set before and at
//                                       its peak (also readable from /usr/bin/time -v)
//
// The peak is read from /proc/self/status (VmHWM) after resetting it, so the numbers cover
// unpacking alone.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_data.h"
#include "crypto/sha256.h"
#include "inflate/unpack_image.h"

namespace {

using orvelo::u64;
using orvelo::u8;

long status_kib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field)) {
            return std::strtol(line.c_str() + std::string(field).size() + 1, nullptr, 10);
        }
    }
    return -1;
}

std::vector<u8> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int make(const std::string& path, std::size_t mib) {
    const std::vector<u8> image = orvelo::bench::synthetic_disk_image(mib << 20);
    const std::vector<u8> file = orvelo::bench::zlib_raw_deflate(image, 6);
    orvelo::ExpectedImage expected;
    expected.file_size = file.size();
    const auto file_digest = orvelo::sha256(file);
    std::copy(file_digest.begin(), file_digest.end(), expected.file_sha256.begin());
    expected.image_size = image.size();
    const auto image_digest = orvelo::sha256(image);
    std::copy(image_digest.begin(), image_digest.end(), expected.image_sha256.begin());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
    std::ofstream(path + ".expected", std::ios::binary)
        .write(reinterpret_cast<const char*>(&expected), sizeof expected);
    std::printf("%s: %zu bytes, image %zu bytes\n", path.c_str(), file.size(), image.size());
    return 0;
}

int unpack(const std::string& path) {
    const std::vector<u8> file = read_file(path);
    orvelo::ExpectedImage expected;
    std::ifstream(path + ".expected", std::ios::binary)
        .read(reinterpret_cast<char*>(&expected), sizeof expected);
    // The digest's one-time start-up (library loading and set-up) is not unpacking's memory.
    const u8 warm_up[1] = {0};
    (void)orvelo::sha256(warm_up);
    // Reset the peak to the present, with the input already resident.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before_kib = status_kib("VmRSS:");
    const auto image = orvelo::unpack_image(file, expected);
    const long peak_kib = status_kib("VmHWM:");
    if (!image) {
        std::printf("unpack_image failed\n");
        return 1;
    }
    const long image_kib = static_cast<long>(image->size() / 1024);
    std::printf("input %zu bytes, image %zu bytes\n", file.size(), image->size());
    std::printf("resident before %ld KiB, peak %ld KiB: peak - before - image = %ld KiB\n",
                before_kib, peak_kib, peak_kib - before_kib - image_kib);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "make" && argc == 4) {
        return make(argv[2], std::strtoull(argv[3], nullptr, 10));
    }
    if (mode == "unpack" && argc == 3) {
        return unpack(argv[2]);
    }
    std::fprintf(stderr, "usage: %s make FILE MIB | unpack FILE\n", argv[0]);
    return 2;
}
