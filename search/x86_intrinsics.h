#pragma once

// The x86 intrinsics the SIMD kernels and draws are written with, and
// WEFTLOOM_X86 where they exist. Included by .cpp files only.
#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics pass _mm512_undefined_*() as merge sources,
// which -Wmaybe-uninitialized reports inside the compiler's own header.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define WEFTLOOM_X86 1

#include <cstdint>

namespace weftloom {

// For each 8-bit mask, the lanes of its set bits, lowest first: the
// permutation that packs the chosen lanes of an AVX2 register to its front.
struct PackTable {
    alignas(32) std::uint32_t lanes[256][8];
    constexpr PackTable() : lanes{} {
        for (std::uint32_t mask = 0; mask < 256; ++mask) {
            std::uint32_t at = 0;
            for (std::uint32_t lane = 0; lane < 8; ++lane) {
                if ((mask >> lane & 1u) != 0) {
                    lanes[mask][at++] = lane;
                }
            }
        }
    }
};
inline constexpr PackTable kPackTable;

}  // namespace weftloom
#endif
