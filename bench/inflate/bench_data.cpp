#include "bench_data.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace orvelo::bench {

std::size_t mib_from_environment(const char* name, std::size_t fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    return std::max<std::size_t>(1, std::strtoull(value, nullptr, 10));
}

namespace {

constexpr std::size_t MIB = 1 << 20;

void put_le32(u8* at, u32 value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<u8>(value >> (8 * i));
    }
}

void random_block(std::mt19937_64& rng, u8* at, std::size_t size) {
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const u64 word = rng();
        std::memcpy(at + i, &word, 8);
    }
}

void text_block(std::mt19937_64& rng, u8* at, std::size_t size) {
    static const char* const words[] = {
        "the ",        "system ",  "of ",      "file ",    "and ",      "to ",      "a ",
        "in ",         "kernel ",  "module ",  "driver\n", "is ",       "for ",     "with ",
        "config ",     "=",        "yes\n",    "no\n",     "/usr/lib/", "boot ",    "partition ",
        "install ",    "package ", "version ", "0.",       "1.",        "2024-",    "#include ",
        "<stdio.h>\n", "return ",  "int ",     "void ",    "static ",   "struct ",  "{\n",
        "}\n",         "    ",     "if (",     ") ",       "error: ",   "warning ", "Orvelo "};
    constexpr std::size_t word_count = sizeof words / sizeof words[0];
    std::geometric_distribution<std::size_t> pick(0.12);
    std::size_t i = 0;
    while (i < size) {
        const char* word = words[std::min(pick(rng), word_count - 1)];
        const std::size_t length = std::min(std::strlen(word), size - i);
        std::memcpy(at + i, word, length);
        i += length;
    }
}

// A FAT: cluster chains of varying length, each entry naming the next cluster, then directory
// entries of 32 bytes.
void fat_region(std::mt19937_64& rng, u8* at, std::size_t size) {
    const std::size_t fat_bytes = size * 3 / 4;
    u32 cluster = 2;
    for (std::size_t i = 0; i + 4 <= fat_bytes; i += 4, ++cluster) {
        put_le32(at + i, rng() % 64 == 0 ? 0x0FFFFFFF : cluster + 1);
    }
    static const char* const names[] = {"BOOTX64 EFI", "KERNEL  IMG", "INITRD  IMG", "CONFIG  TXT",
                                        "README  MD ", "LOADER  CFG", "EFI        ", "ORVELO     "};
    for (std::size_t i = fat_bytes; i + 32 <= size; i += 32) {
        std::memset(at + i, 0, 32);
        std::memcpy(at + i, names[rng() % 8], 11);
        at[i + 11] = static_cast<u8>(rng() % 2 == 0 ? 0x20 : 0x10);
        put_le32(at + i + 26, static_cast<u32>(rng() % 100000));
        put_le32(at + i + 28, static_cast<u32>(rng() % (64 * MIB)));
    }
}

void gpt_header(u8* at, u64 current, u64 backup, u64 last_lba) {
    std::memcpy(at, "EFI PART", 8);
    put_le32(at + 8, 0x00010000);
    put_le32(at + 12, 92);
    for (int i = 0; i < 2; ++i) {
        put_le32(at + 24 + 8 * i, static_cast<u32>(i == 0 ? current : backup));
    }
    put_le32(at + 40, 34);
    put_le32(at + 48, static_cast<u32>(last_lba - 33));
    put_le32(at + 72, static_cast<u32>(current == 1 ? 2 : last_lba - 32));
    put_le32(at + 80, 128);
    put_le32(at + 84, 128);
}

}  // namespace

std::vector<u8> synthetic_disk_image(std::size_t bytes) {
    bytes = std::max<std::size_t>(2 * MIB, bytes / MIB * MIB);
    std::vector<u8> image(bytes, 0);
    std::mt19937_64 rng(0x0bada55);
    const u64 last_lba = bytes / 512 - 1;
    // Protective MBR, primary and backup GPT headers and a few partition entries.
    image[446 + 4] = 0xEE;
    put_le32(image.data() + 446 + 8, 1);
    put_le32(image.data() + 446 + 12, static_cast<u32>(std::min<u64>(last_lba, 0xFFFFFFFF)));
    image[510] = 0x55;
    image[511] = 0xAA;
    gpt_header(image.data() + 512, 1, last_lba, last_lba);
    gpt_header(image.data() + bytes - 512, last_lba, 1, last_lba);
    for (int entry = 0; entry < 3; ++entry) {
        u8* at = image.data() + 1024 + 128 * entry;
        random_block(rng, at, 32);  // type and partition GUIDs
        put_le32(at + 32, static_cast<u32>(2048 + entry * (bytes / 512 / 4)));
    }
    // Regions after the first MiB: zeros (left as they are), random, text-like or FAT-like, of
    // 64 KiB to 4 MiB each.
    std::size_t at = MIB;
    while (at < bytes - MIB) {
        const std::size_t size =
            std::min<std::size_t>(bytes - MIB - at, (1 + rng() % 64) * 64 * 1024);
        const u64 kind = rng() % 100;
        if (kind < 88) {
            // zeros: most of an installer image is free space
        } else if (kind < 96) {
            random_block(rng, image.data() + at, size);
        } else if (kind < 98) {
            text_block(rng, image.data() + at, size);
        } else {
            fat_region(rng, image.data() + at, size);
        }
        at += size;
    }
    return image;
}

std::vector<u8> binaries_and_text(std::size_t bytes) {
    std::vector<u8> out;
    out.reserve(bytes);
    for (const char* folder : {"/usr/bin", "/usr/share/doc"}) {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 folder, std::filesystem::directory_options::skip_permission_denied, error);
             it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            const std::string ext = it->path().extension().string();
            if (it->is_regular_file(error) && !it->is_symlink(error) && ext != ".gz" &&
                ext != ".xz" && ext != ".bz2" && ext != ".zst") {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        const std::size_t goal = out.size() + (bytes - out.size()) / (out.empty() ? 2 : 1);
        for (const auto& path : files) {
            if (out.size() >= goal) {
                break;
            }
            std::ifstream in(path, std::ios::binary);
            std::vector<char> content((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
            const std::size_t take = std::min(content.size(), goal - out.size());
            out.insert(out.end(), content.begin(), content.begin() + static_cast<long>(take));
        }
    }
    return out;
}

std::vector<u8> zlib_raw_deflate(std::span<const u8> data, int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::vector<u8> out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<u8*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace orvelo::bench
