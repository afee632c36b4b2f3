// Benchmark data: a synthetic GPT disk image and a mix of program binaries and text from this
// machine, each compressed by zlib as raw deflate. Sizes come from the environment so that a smoke
// run stays cheap: ORVELO_BENCH_IMAGE_MIB (default 16) and ORVELO_BENCH_MIX_MIB (default 8).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/types.h"

namespace orvelo::bench {

std::size_t mib_from_environment(const char* name, std::size_t fallback);

// A GPT disk image of `bytes` bytes (a multiple of 1 MiB): protective MBR and both GPT headers,
// long runs of zeros, random blocks, text-like blocks and a FAT-like region.
std::vector<u8> synthetic_disk_image(std::size_t bytes);

// Regular files from /usr/bin and /usr/share/doc (not already compressed), in path order, half
// binaries and half text, cut at `bytes`.
std::vector<u8> binaries_and_text(std::size_t bytes);

// Raw deflate (no wrapper) by zlib at `level`.
std::vector<u8> zlib_raw_deflate(std::span<const u8> data, int level);

}  // namespace orvelo::bench
