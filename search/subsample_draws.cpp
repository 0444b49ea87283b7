#include "search/subsample_draws.h"

#include "search/random_generator.h"

#include "search/x86_intrinsics.h"

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

// The states of the next count draws, one lane each.
void FirstStates(std::uint32_t state, std::uint32_t* lanes, std::uint32_t count) {
    for (std::uint32_t l = 0; l < count; ++l) {
        state = state * RandomGenerator::kMultiplier + RandomGenerator::kIncrement;
        lanes[l] = state;
    }
}

// Stores, packed to the front of out, the indices of the lanes whose draw
// lies below the limit; returns how many. The pack table holds the chosen
// lanes' numbers in order: added to the first lane's index, they are the
// indices themselves.
__attribute__((target("avx2,popcnt"), always_inline)) inline std::uint32_t PackChosen(
    __m256i states, __m256i bits, __m256i limit, __m256i first, std::uint32_t* out) {
    // A draw (s >> 16) & 0x7FFF lies below t exactly when s & 0x7FFF0000 lies
    // below t << 16; both are below 2^31 and compare as signed values.
    const __m256i below = _mm256_cmpgt_epi32(limit, _mm256_and_si256(states, bits));
    const auto mask = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(below)));
    const __m256i lanes =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(kPackTable.lanes[mask]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_add_epi32(first, lanes));
    return static_cast<std::uint32_t>(__builtin_popcount(mask));
}

__attribute__((target("avx2,popcnt"))) std::uint32_t Avx2Draws(std::uint32_t& state,
                                                               std::uint32_t first,
                                                               std::uint32_t count,
                                                               std::uint32_t threshold,
                                                               std::uint32_t* out) {
    // Four registers of 8 lanes, 32 draws per step: a register's next states
    // wait on a multiplication of some ten cycles, which four chains overlap
    // (two left the loop waiting on them). As in the AVX-512 form, the chosen
    // indices are packed and stored whole, without a branch per draw.
    constexpr Jump kThirtyTwo = JumpOf(32);
    const std::uint32_t whole = count / 32 * 32;
    std::uint32_t found = 0;
    if (whole != 0) {
        alignas(32) std::uint32_t lanes[8];
        FirstStates(state, lanes, 8);
        constexpr Jump kEight = JumpOf(8);
        const __m256i mul8 = _mm256_set1_epi32(static_cast<int>(kEight.multiplier));
        const __m256i add8 = _mm256_set1_epi32(static_cast<int>(kEight.increment));
        __m256i s0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
        __m256i s1 = _mm256_add_epi32(_mm256_mullo_epi32(s0, mul8), add8);
        __m256i s2 = _mm256_add_epi32(_mm256_mullo_epi32(s1, mul8), add8);
        __m256i s3 = _mm256_add_epi32(_mm256_mullo_epi32(s2, mul8), add8);
        const __m256i mul = _mm256_set1_epi32(static_cast<int>(kThirtyTwo.multiplier));
        const __m256i add = _mm256_set1_epi32(static_cast<int>(kThirtyTwo.increment));
        const __m256i bits = _mm256_set1_epi32(0x7FFF0000);
        // Every draw lies below 0x8000: the largest limit then takes them all.
        const __m256i limit =
            _mm256_set1_epi32(threshold > 0x7FFFu ? 0x7FFFFFFF : static_cast<int>(threshold << 16));
        const __m256i eight = _mm256_set1_epi32(8);
        const __m256i step = _mm256_set1_epi32(32);
        __m256i at0 = _mm256_set1_epi32(static_cast<int>(first));
        for (std::uint32_t k = 0; k < whole; k += 32) {
            const __m256i at1 = _mm256_add_epi32(at0, eight);
            const __m256i at2 = _mm256_add_epi32(at1, eight);
            found += PackChosen(s0, bits, limit, at0, out + found);
            found += PackChosen(s1, bits, limit, at1, out + found);
            found += PackChosen(s2, bits, limit, at2, out + found);
            found += PackChosen(s3, bits, limit, _mm256_add_epi32(at2, eight), out + found);
            at0 = _mm256_add_epi32(at0, step);
            s0 = _mm256_add_epi32(_mm256_mullo_epi32(s0, mul), add);
            s1 = _mm256_add_epi32(_mm256_mullo_epi32(s1, mul), add);
            s2 = _mm256_add_epi32(_mm256_mullo_epi32(s2, mul), add);
            s3 = _mm256_add_epi32(_mm256_mullo_epi32(s3, mul), add);
        }
        state = RandomGenerator::Advance(state, whole);
    }
    return found + ScalarDraws(state, first + whole, count - whole, threshold, out + found);
}

// Stores, packed to the front of out, the indices of the lanes whose draw
// lies below the limit; returns how many.
__attribute__((target("avx512f,popcnt"), always_inline)) inline std::uint32_t EmitChosen(
    __m512i states, __m512i bits, __m512i limit, __m512i indices, std::uint32_t* out) {
    const __mmask16 chosen = _mm512_cmplt_epu32_mask(_mm512_and_si512(states, bits), limit);
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi32(chosen, indices));
    return static_cast<std::uint32_t>(__builtin_popcount(chosen));
}

__attribute__((target("avx512f,popcnt"))) std::uint32_t Avx512Draws(std::uint32_t& state,
                                                                    std::uint32_t first,
                                                                    std::uint32_t count,
                                                                    std::uint32_t threshold,
                                                                    std::uint32_t* out) {
    // Four registers of 16 lanes, 64 draws per step, so that the four
    // multiplications overlap. A draw (s >> 16) & 0x7FFF lies below t exactly
    // when s & 0x7FFF0000 lies below t << 16, which saves the shift. The
    // chosen indices of each register are packed to the front and stored
    // whole, without a branch on how many there are: with a few per step, a
    // loop over the set bits would mispredict at almost every step. The
    // output has room for 16 past the last index.
    constexpr Jump kSixtyFour = JumpOf(64);
    const std::uint32_t whole = count / 64 * 64;
    std::uint32_t found = 0;
    if (whole != 0) {
        alignas(64) std::uint32_t lanes[16];
        FirstStates(state, lanes, 16);
        constexpr Jump kSixteen = JumpOf(16);
        const __m512i mul16 = _mm512_set1_epi32(static_cast<int>(kSixteen.multiplier));
        const __m512i add16 = _mm512_set1_epi32(static_cast<int>(kSixteen.increment));
        __m512i s0 = _mm512_load_si512(lanes);
        __m512i s1 = _mm512_add_epi32(_mm512_mullo_epi32(s0, mul16), add16);
        __m512i s2 = _mm512_add_epi32(_mm512_mullo_epi32(s1, mul16), add16);
        __m512i s3 = _mm512_add_epi32(_mm512_mullo_epi32(s2, mul16), add16);
        const __m512i mul = _mm512_set1_epi32(static_cast<int>(kSixtyFour.multiplier));
        const __m512i add = _mm512_set1_epi32(static_cast<int>(kSixtyFour.increment));
        const __m512i bits = _mm512_set1_epi32(0x7FFF0000);
        const __m512i limit = _mm512_set1_epi32(static_cast<int>(threshold << 16));
        const __m512i sixteen = _mm512_set1_epi32(16);
        const __m512i step = _mm512_set1_epi32(64);
        __m512i index = _mm512_add_epi32(
            _mm512_set1_epi32(static_cast<int>(first)),
            _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
        for (std::uint32_t k = 0; k < whole; k += 64) {
            const __m512i at1 = _mm512_add_epi32(index, sixteen);
            const __m512i at2 = _mm512_add_epi32(at1, sixteen);
            found += EmitChosen(s0, bits, limit, index, out + found);
            found += EmitChosen(s1, bits, limit, at1, out + found);
            found += EmitChosen(s2, bits, limit, at2, out + found);
            found += EmitChosen(s3, bits, limit, _mm512_add_epi32(at2, sixteen), out + found);
            index = _mm512_add_epi32(index, step);
            s0 = _mm512_add_epi32(_mm512_mullo_epi32(s0, mul), add);
            s1 = _mm512_add_epi32(_mm512_mullo_epi32(s1, mul), add);
            s2 = _mm512_add_epi32(_mm512_mullo_epi32(s2, mul), add);
            s3 = _mm512_add_epi32(_mm512_mullo_epi32(s3, mul), add);
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
