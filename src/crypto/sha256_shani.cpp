// The SHA-256 block function on the x86 SHA extensions. Only this file is compiled for them (per
// function, so the rest of the program runs on any x86-64); sha256.cpp calls it only after CPUID
// has shown SHA, SSSE3 and SSE4.1.
#include "crypto/sha256_blocks.h"

#if defined(__x86_64__)

#include <immintrin.h>

#define ORVELO_SHA_TARGET __attribute__((target("sha,sse4.1")))

namespace orvelo {
namespace {

// Four rounds, with the message-schedule work that overlaps them. The schedule lives in four
// registers that rotate roles: `current` holds W[4g..4g+3] of this group g, `previous` the group
// before, `next` the group after (partly computed). sha256msg1 starts the words of group g+3 in
// `previous`; adding W[4g-3..4g] and sha256msg2 finishes group g+1 in `next`.
// The vector state is split as ABEF and CDGH, the order the round instruction takes.
template <bool FINISH_NEXT, bool START_LATER>
ORVELO_SHA_TARGET inline __attribute__((always_inline)) void four_rounds(
    __m128i& abef, __m128i& cdgh, __m128i current, __m128i& next, __m128i& previous,
    const u32* round_constants) {
    __m128i message =
        _mm_add_epi32(current, _mm_loadu_si128(reinterpret_cast<const __m128i*>(round_constants)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
    if constexpr (FINISH_NEXT) {
        next = _mm_add_epi32(next, _mm_alignr_epi8(current, previous, 4));
        next = _mm_sha256msg2_epu32(next, current);
    }
    message = _mm_shuffle_epi32(message, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
    if constexpr (START_LATER) {
        previous = _mm_sha256msg1_epu32(previous, current);
    }
}

// Compresses one run of blocks, keeping the state in registers throughout.
ORVELO_SHA_TARGET void compress_run(std::array<u32, 8>& state, const u8* blocks,
                                    std::size_t block_count) {
    const u32* k = SHA256_ROUND_CONSTANTS.data();
    // Byte order within each 32-bit word reversed: the block's words are big-endian.
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; block_count > 0; --block_count, blocks += 64) {
        const __m128i abef_saved = abef;
        const __m128i cdgh_saved = cdgh;
        const __m128i* words = reinterpret_cast<const __m128i*>(blocks);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(words + 0), byte_swap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(words + 1), byte_swap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(words + 2), byte_swap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(words + 3), byte_swap);

        four_rounds<false, false>(abef, cdgh, m0, m1, m3, k + 0);
        four_rounds<false, true>(abef, cdgh, m1, m2, m0, k + 4);
        four_rounds<false, true>(abef, cdgh, m2, m3, m1, k + 8);
        four_rounds<true, true>(abef, cdgh, m3, m0, m2, k + 12);
        four_rounds<true, true>(abef, cdgh, m0, m1, m3, k + 16);
        four_rounds<true, true>(abef, cdgh, m1, m2, m0, k + 20);
        four_rounds<true, true>(abef, cdgh, m2, m3, m1, k + 24);
        four_rounds<true, true>(abef, cdgh, m3, m0, m2, k + 28);
        four_rounds<true, true>(abef, cdgh, m0, m1, m3, k + 32);
        four_rounds<true, true>(abef, cdgh, m1, m2, m0, k + 36);
        four_rounds<true, true>(abef, cdgh, m2, m3, m1, k + 40);
        four_rounds<true, true>(abef, cdgh, m3, m0, m2, k + 44);
        four_rounds<true, true>(abef, cdgh, m0, m1, m3, k + 48);
        four_rounds<true, false>(abef, cdgh, m1, m2, m0, k + 52);
        four_rounds<true, false>(abef, cdgh, m2, m3, m1, k + 56);
        four_rounds<false, false>(abef, cdgh, m3, m0, m2, k + 60);

        abef = _mm_add_epi32(abef, abef_saved);
        cdgh = _mm_add_epi32(cdgh, cdgh_saved);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}

}  // namespace

void sha256_blocks_sha_extensions(std::array<u32, 8>& state, const u8* blocks,
                                  std::size_t block_count) {
    // Runs of at most 256 blocks (16 KiB); the state goes back to memory between runs.
    constexpr std::size_t RUN_BLOCKS = 256;
    while (block_count > 0) {
        const std::size_t run = block_count < RUN_BLOCKS ? block_count : RUN_BLOCKS;
        compress_run(state, blocks, run);
        blocks += run * 64;
        block_count -= run;
    }
}

}  // namespace orvelo

#endif
