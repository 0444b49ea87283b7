#include "search/subsample_draws.h"

#include "search/random_generator.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 shifts pass _mm512_undefined_epi32() as a merge source,
// which -Wmaybe-uninitialized reports inside the compiler's own header.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#define WEFTLOOM_X86 1
#endif

namespace weftloom {

namespace {

std::uint32_t Draw(std::uint32_t state) {
    return (state >> 16) & RandomGenerator::kMaxValue;
}

std::uint32_t ScalarDraws(std::uint32_t& state, std::uint32_t first, std::uint32_t count,
                          std::uint32_t threshold, std::uint32_t* out) {
    std::uint32_t found = 0;
    std::uint32_t s = state;
    for (std::uint32_t k = 0; k < count; ++k) {
        s = s * RandomGenerator::kMultiplier + RandomGenerator::kIncrement;
        out[found] = first + k;
        found += Draw(s) < threshold ? 1u : 0u;
    }
    state = s;
    return found;
}

// The multiplier and increment of `steps` steps at once.
struct Jump {
    std::uint32_t multiplier;
    std::uint32_t increment;
};

constexpr Jump JumpOf(std::uint64_t steps) {
    // Advance is affine in the state: a(s) = m s + c, so c = a(0), m = a(1) - c.
    const std::uint32_t c = RandomGenerator::Advance(0, steps);
    return Jump{RandomGenerator::Advance(1, steps) - c, c};
}

#ifdef WEFTLOOM_X86

__attribute__((target("avx2"))) std::uint32_t Avx2Draws(std::uint32_t& state, std::uint32_t first,
                                                        std::uint32_t count,
                                                        std::uint32_t threshold,
                                                        std::uint32_t* out) {
    constexpr Jump kEight = JumpOf(8);
    const std::uint32_t whole = count / 8 * 8;
    std::uint32_t found = 0;
    if (whole != 0) {
        alignas(32) std::uint32_t lanes[8];
        for (std::uint32_t l = 0; l < 8; ++l) {
            lanes[l] = RandomGenerator::Advance(state, l + 1u);
        }
        __m256i s = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
        const __m256i mul = _mm256_set1_epi32(static_cast<int>(kEight.multiplier));
        const __m256i add = _mm256_set1_epi32(static_cast<int>(kEight.increment));
        const __m256i mask = _mm256_set1_epi32(0x7FFF);
        const __m256i limit = _mm256_set1_epi32(static_cast<int>(threshold));
        for (std::uint32_t k = 0; k < whole; k += 8) {
            const __m256i draws = _mm256_and_si256(_mm256_srli_epi32(s, 16), mask);
            auto bits = static_cast<std::uint32_t>(
                _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(limit, draws))));
            while (bits != 0) {
                out[found++] = first + k + static_cast<std::uint32_t>(__builtin_ctz(bits));
                bits &= bits - 1;
            }
            s = _mm256_add_epi32(_mm256_mullo_epi32(s, mul), add);
        }
        state = RandomGenerator::Advance(state, whole);
    }
    return found + ScalarDraws(state, first + whole, count - whole, threshold, out + found);
}

__attribute__((target("avx512f"))) std::uint32_t Avx512Draws(std::uint32_t& state,
                                                             std::uint32_t first,
                                                             std::uint32_t count,
                                                             std::uint32_t threshold,
                                                             std::uint32_t* out) {
    // Two registers of 16 lanes each, 32 draws per step, so that the two
    // multiplications overlap.
    constexpr Jump kThirtyTwo = JumpOf(32);
    const std::uint32_t whole = count / 32 * 32;
    std::uint32_t found = 0;
    if (whole != 0) {
        alignas(64) std::uint32_t lanes[32];
        for (std::uint32_t l = 0; l < 32; ++l) {
            lanes[l] = RandomGenerator::Advance(state, l + 1u);
        }
        __m512i s0 = _mm512_load_si512(lanes);
        __m512i s1 = _mm512_load_si512(lanes + 16);
        const __m512i mul = _mm512_set1_epi32(static_cast<int>(kThirtyTwo.multiplier));
        const __m512i add = _mm512_set1_epi32(static_cast<int>(kThirtyTwo.increment));
        const __m512i mask = _mm512_set1_epi32(0x7FFF);
        const __m512i limit = _mm512_set1_epi32(static_cast<int>(threshold));
        __m512i index0 = _mm512_add_epi32(
            _mm512_set1_epi32(static_cast<int>(first)),
            _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
        const __m512i sixteen = _mm512_set1_epi32(16);
        const __m512i thirtyTwo = _mm512_set1_epi32(32);
        for (std::uint32_t k = 0; k < whole; k += 32) {
            const __mmask16 m0 =
                _mm512_cmplt_epu32_mask(_mm512_and_si512(_mm512_srli_epi32(s0, 16), mask), limit);
            const __mmask16 m1 =
                _mm512_cmplt_epu32_mask(_mm512_and_si512(_mm512_srli_epi32(s1, 16), mask), limit);
            _mm512_storeu_si512(out + found, _mm512_maskz_compress_epi32(m0, index0));
            found += static_cast<std::uint32_t>(__builtin_popcount(m0));
            _mm512_storeu_si512(out + found,
                                _mm512_maskz_compress_epi32(m1, _mm512_add_epi32(index0, sixteen)));
            found += static_cast<std::uint32_t>(__builtin_popcount(m1));
            index0 = _mm512_add_epi32(index0, thirtyTwo);
            s0 = _mm512_add_epi32(_mm512_mullo_epi32(s0, mul), add);
            s1 = _mm512_add_epi32(_mm512_mullo_epi32(s1, mul), add);
        }
        state = RandomGenerator::Advance(state, whole);
    }
    return found + ScalarDraws(state, first + whole, count - whole, threshold, out + found);
}

#endif  // WEFTLOOM_X86

}  // namespace

DrawKernel DrawKernelFor(SimdLevel level) {
#ifdef WEFTLOOM_X86
    if (level == SimdLevel::Avx512) {
        return &Avx512Draws;
    }
    if (level == SimdLevel::Avx2) {
        return &Avx2Draws;
    }
#else
    (void)level;
#endif
    return &ScalarDraws;
}

}  // namespace weftloom
