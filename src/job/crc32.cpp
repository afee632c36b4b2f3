#include "job/crc32.h"

#include <array>

namespace orvelo {
namespace {

constexpr std::array<u32, 256> make_table() {
    std::array<u32, 256> table{};
    for (u32 n = 0; n < 256; ++n) {
        u32 c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

constexpr std::array<u32, 256> TABLE = make_table();

}  // namespace

// Byte at a time: it checksums 16 KiB and two 92-byte headers per job, nothing more.
u32 crc32(std::span<const u8> bytes) {
    u32 c = 0xFFFFFFFFu;
    for (const u8 b : bytes) {
        c = TABLE[(c ^ b) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

}  // namespace orvelo
