// Little-endian integers in byte buffers, as the GPT, the MBR and the system's storage answers
// lay them out. The caller guarantees that the bytes exist.
#pragma once

#include "core/types.h"

namespace orvelo {

[[nodiscard]] inline u32 read_u32_le(const u8* bytes) {
    return u32(bytes[0]) | (u32(bytes[1]) << 8) | (u32(bytes[2]) << 16) | (u32(bytes[3]) << 24);
}

[[nodiscard]] inline u64 read_u64_le(const u8* bytes) {
    return u64(read_u32_le(bytes)) | (u64(read_u32_le(bytes + 4)) << 32);
}

inline void write_u32_le(u8* bytes, u32 value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<u8>(value >> (8 * i));
    }
}

inline void write_u64_le(u8* bytes, u64 value) {
    write_u32_le(bytes, static_cast<u32>(value));
    write_u32_le(bytes + 4, static_cast<u32>(value >> 32));
}

}  // namespace orvelo
