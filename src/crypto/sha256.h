// SHA-256 (FIPS 180-4): a streaming context, a one-shot form and lower-case hexadecimal text.
// The block compression has a portable path and one that uses the x86 SHA extensions; the
// processor is examined once per process and the choice is invisible to callers.
#pragma once

#include <array>
#include <span>
#include <string>

#include "core/types.h"

namespace orvelo {

using Sha256Digest = std::array<u8, 32>;

// The state of one running hash. Invariants: buffered < 64 and block[0, buffered) holds the
// bytes fed since the last whole block; total counts every byte fed, so total mod 64 ==
// buffered. A context belongs to one caller.
struct Sha256 {
    std::array<u32, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<u8, 64> block = {};
    u32 buffered = 0;
    u64 total = 0;
};

// Feeds any number of bytes, including none. Whole blocks are compressed straight from `bytes`.
void sha256_update(Sha256& context, std::span<const u8> bytes);

// Pads, compresses the last block(s) and gives the digest. The context is used up.
[[nodiscard]] Sha256Digest sha256_finish(Sha256& context);

// The digest of `bytes`: a fresh context, one update, finish.
[[nodiscard]] Sha256Digest sha256(std::span<const u8> bytes);

// Two characters per byte from "0123456789abcdef", high nibble first.
[[nodiscard]] std::string hex_lower(std::span<const u8> bytes);

// Test and measurement switch: with `portable` true every later compression takes the portable
// path; with false the processor is examined again at the next compression.
void sha256_force_portable(bool portable);

// True when the compressions take the accelerated path (examining the processor if needed).
[[nodiscard]] bool sha256_uses_sha_extensions();

}  // namespace orvelo
