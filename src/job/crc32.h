// CRC-32 of ISO-HDLC / IEEE 802.3, the checksum of GPT headers and partition entry arrays:
// reflected polynomial 0xEDB88320, register preset to all ones, result complemented.
#pragma once

#include <span>

#include "core/types.h"

namespace orvelo {

[[nodiscard]] u32 crc32(std::span<const u8> bytes);

}  // namespace orvelo
