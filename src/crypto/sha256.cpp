#include "crypto/sha256.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "crypto/sha256_blocks.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace orvelo {
namespace {

// The process-wide feature word. Bit 31: the processor has been examined. Bit 4: the SHA
// extensions, SSSE3 and SSE4.1 are all present, so the accelerated block function may run.
// Threads that examine the processor at the same time store the same value, so relaxed atomic
// access is all that is needed.
constexpr u32 FEATURES_EXAMINED = 1u << 31;
constexpr u32 FEATURES_SHA = 1u << 4;
std::atomic<u32> feature_word{0};

u32 examine_processor() {
    u32 word = FEATURES_EXAMINED;
#if defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    const unsigned highest_leaf = eax;
    __cpuid(1, eax, ebx, ecx, edx);
    const unsigned leaf1_ecx = ecx;
    unsigned leaf7_ebx = 0;
    if (highest_leaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        leaf7_ebx = ebx;
    }
    const bool sha = (leaf7_ebx >> 29) & 1;
    const bool ssse3 = (leaf1_ecx >> 9) & 1;
    const bool sse41 = (leaf1_ecx >> 19) & 1;
    if (sha && ssse3 && sse41) {
        word |= FEATURES_SHA;
    }
#endif
    return word;
}

u32 current_features() {
    u32 word = feature_word.load(std::memory_order_relaxed);
    if ((word & FEATURES_EXAMINED) == 0) {
        word = examine_processor();
        feature_word.store(word, std::memory_order_relaxed);
    }
    return word;
}

void compress(std::array<u32, 8>& state, const u8* blocks, std::size_t block_count) {
    if (block_count == 0) {
        return;
    }
#if defined(__x86_64__)
    if (current_features() & FEATURES_SHA) {
        sha256_blocks_sha_extensions(state, blocks, block_count);
        return;
    }
#endif
    sha256_blocks_portable(state, blocks, block_count);
}

constexpr u32 rotr(u32 x, int n) {
    return (x >> n) | (x << (32 - n));
}

inline u32 load_be32(const u8* p) {
    return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | u32{p[3]};
}

// One round. The eight working variables rotate roles instead of being moved: the caller passes
// them in the order a..h of this round, and only d and h are written. `k_plus_w` is the round
// constant already added to the schedule word. Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this
// round's a ^ b is the next round's b ^ c, so `b_xor_c` carries it over.
inline void round(u32 a, u32 b, u32& d, u32 e, u32 f, u32 g, u32& h, u32 k_plus_w, u32& b_xor_c) {
    const u32 t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + k_plus_w;
    const u32 a_xor_b = a ^ b;
    const u32 t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + (b ^ (a_xor_b & b_xor_c));
    b_xor_c = a_xor_b;
    d += t1;
    h = t1 + t2;
}

}  // namespace

void sha256_blocks_portable(std::array<u32, 8>& state, const u8* blocks, std::size_t block_count) {
    // w[i] holds schedule word i plus round constant i.
    u32 w[64];
    for (; block_count > 0; --block_count, blocks += 64) {
        for (int i = 0; i < 16; ++i) {
            w[i] = load_be32(blocks + 4 * i);
        }
        // Fully unrolled: every index becomes a constant and the 64 rounds run without a branch.
#pragma GCC unroll 48
        for (int i = 16; i < 64; ++i) {
            const u32 s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const u32 s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
#pragma GCC unroll 64
        for (int i = 0; i < 64; ++i) {
            w[i] += SHA256_ROUND_CONSTANTS[i];
        }
        u32 a = state[0], b = state[1], c = state[2], d = state[3];
        u32 e = state[4], f = state[5], g = state[6], h = state[7];
        u32 b_xor_c = b ^ c;
#pragma GCC unroll 8
        for (int i = 0; i < 64; i += 8) {
            round(a, b, d, e, f, g, h, w[i + 0], b_xor_c);
            round(h, a, c, d, e, f, g, w[i + 1], b_xor_c);
            round(g, h, b, c, d, e, f, w[i + 2], b_xor_c);
            round(f, g, a, b, c, d, e, w[i + 3], b_xor_c);
            round(e, f, h, a, b, c, d, w[i + 4], b_xor_c);
            round(d, e, g, h, a, b, c, w[i + 5], b_xor_c);
            round(c, d, f, g, h, a, b, w[i + 6], b_xor_c);
            round(b, c, e, f, g, h, a, w[i + 7], b_xor_c);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

void sha256_update(Sha256& context, std::span<const u8> bytes) {
    if (bytes.empty()) {
        return;
    }
    context.total += bytes.size();
    const u8* next = bytes.data();
    std::size_t count = bytes.size();
    if (context.buffered > 0) {
        const std::size_t taken = std::min<std::size_t>(count, 64 - context.buffered);
        std::memcpy(context.block.data() + context.buffered, next, taken);
        context.buffered += static_cast<u32>(taken);
        next += taken;
        count -= taken;
        if (context.buffered < 64) {
            return;
        }
        compress(context.state, context.block.data(), 1);
        context.buffered = 0;
    }
    const std::size_t whole_blocks = count / 64;
    compress(context.state, next, whole_blocks);
    next += whole_blocks * 64;
    count -= whole_blocks * 64;
    if (count > 0) {
        std::memcpy(context.block.data(), next, count);
    }
    context.buffered = static_cast<u32>(count);
}

Sha256Digest sha256_finish(Sha256& context) {
    // 0x80, zeros, then the bit count: the padded message ends on a block boundary with at least
    // 9 bytes of padding, so a block with 56 or more bytes buffered needs a second block.
    std::array<u8, 128> padding = {};
    const std::size_t padding_bytes =
        context.buffered < 56 ? 64 - context.buffered : 128 - context.buffered;
    const u64 bit_count = context.total * 8;
    padding[0] = 0x80;
    for (int i = 0; i < 8; ++i) {
        padding[padding_bytes - 1 - i] = static_cast<u8>(bit_count >> (8 * i));
    }
    sha256_update(context, std::span(padding.data(), padding_bytes));
    Sha256Digest digest;
    for (int i = 0; i < 8; ++i) {
        digest[4 * i + 0] = static_cast<u8>(context.state[i] >> 24);
        digest[4 * i + 1] = static_cast<u8>(context.state[i] >> 16);
        digest[4 * i + 2] = static_cast<u8>(context.state[i] >> 8);
        digest[4 * i + 3] = static_cast<u8>(context.state[i]);
    }
    return digest;
}

Sha256Digest sha256(std::span<const u8> bytes) {
    Sha256 context;
    sha256_update(context, bytes);
    return sha256_finish(context);
}

std::string hex_lower(std::span<const u8> bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text(bytes.size() * 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text[2 * i] = DIGITS[bytes[i] >> 4];
        text[2 * i + 1] = DIGITS[bytes[i] & 0x0f];
    }
    return text;
}

void sha256_force_portable(bool portable) {
    feature_word.store(portable ? FEATURES_EXAMINED : 0, std::memory_order_relaxed);
}

bool sha256_uses_sha_extensions() {
    return (current_features() & FEATURES_SHA) != 0;
}

}  // namespace orvelo
