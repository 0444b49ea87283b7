#include "search/group_sums.h"

#include <algorithm>

#include "search/x86_intrinsics.h"

namespace weftloom {

void GroupSumsOf(const std::uint8_t* features, std::uint32_t featureDim, std::uint16_t* sums) {
    const std::uint32_t width = SumGroupWidth(featureDim);
    for (std::uint32_t g = 0, at = 0; g < kSumGroups; ++g) {
        std::uint32_t sum = 0;
        const std::uint32_t end = width == 0 ? 0 : std::min(featureDim, at + width);
        for (; at < end; ++at) {
            sum += features[at];
        }
        sums[g] = static_cast<std::uint16_t>(sum);
    }
}

namespace {

// At most 64 bytes a group: a difference fits 15 bits, and the sixteen
// squares together 32 bits.
std::uint32_t GroupDistance(const std::uint16_t* a, const std::uint16_t* b) {
    std::uint32_t total = 0;
    for (std::uint32_t g = 0; g < kSumGroups; ++g) {
        const std::int32_t d = std::int32_t{a[g]} - std::int32_t{b[g]};
        total += static_cast<std::uint32_t>(d * d);
    }
    return total;
}

std::uint32_t ScalarGroupFilter(const std::uint16_t* groupSums, const std::uint16_t* query,
                                std::uint32_t limit, std::uint32_t* candidates,
                                std::uint32_t count) {
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t v = candidates[k];
        candidates[kept] = v;
        kept += GroupDistance(groupSums + std::size_t{v} * kSumGroups, query) < limit ? 1u : 0u;
    }
    return kept;
}

#ifdef WEFTLOOM_X86
#define WEFTLOOM_AVX2 __attribute__((target("avx2")))

// Which of eight candidates to keep, as a lane mask: each one's sixteen
// differences squared and paired by one multiply-add, the eight pair sums of
// the eight folded into one register (every partial fits 32 bits unsigned),
// and compared with limit.
WEFTLOOM_AVX2 inline std::uint32_t KeepMask8(const std::uint16_t* groupSums, __m256i query,
                                             __m256i limit, const std::uint32_t* indices) {
    __m256i squares[8];
#pragma GCC unroll 8
    for (std::uint32_t i = 0; i < 8; ++i) {
        const __m256i sums = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(groupSums + std::size_t{indices[i]} * kSumGroups));
        const __m256i d = _mm256_sub_epi16(sums, query);
        squares[i] = _mm256_madd_epi16(d, d);
    }
    const __m256i h01 = _mm256_hadd_epi32(squares[0], squares[1]);
    const __m256i h23 = _mm256_hadd_epi32(squares[2], squares[3]);
    const __m256i h45 = _mm256_hadd_epi32(squares[4], squares[5]);
    const __m256i h67 = _mm256_hadd_epi32(squares[6], squares[7]);
    const __m256i h0123 = _mm256_hadd_epi32(h01, h23);
    const __m256i h4567 = _mm256_hadd_epi32(h45, h67);
    const __m256i totals = _mm256_add_epi32(_mm256_permute2x128_si256(h0123, h4567, 0x20),
                                            _mm256_permute2x128_si256(h0123, h4567, 0x31));
    // Unsigned comparison as signed, both sides with the top bit flipped.
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i keep = _mm256_cmpgt_epi32(limit, _mm256_xor_si256(totals, flip));
    return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(keep)));
}

// Packs the chosen lanes of eight indices to the front of out (eight written).
WEFTLOOM_AVX2 inline void Pack8(const std::uint32_t* indices, std::uint32_t mask,
                                std::uint32_t* out) {
    const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(indices));
    const __m256i order =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(kPackTable.lanes[mask]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permutevar8x32_epi32(index, order));
}

WEFTLOOM_AVX2 std::uint32_t Avx2GroupFilter(const std::uint16_t* groupSums,
                                            const std::uint16_t* query, std::uint32_t limit,
                                            std::uint32_t* candidates, std::uint32_t count) {
    const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(query));
    const __m256i bound = _mm256_set1_epi32(static_cast<int>(limit ^ 0x80000000u));
    std::uint32_t kept = 0;
    std::uint32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const std::uint32_t mask = KeepMask8(groupSums, q, bound, candidates + k);
        // Everything up to k + 8 has been read, and kept never passes k.
        Pack8(candidates + k, mask, candidates + kept);
        kept += static_cast<std::uint32_t>(__builtin_popcount(mask));
    }
    if (k < count) {
        // The last few, the lanes past them filled with the first of them and
        // left out; packed aside, since the candidates after count are not
        // this call's to write.
        const std::uint32_t rest = count - k;
        alignas(32) std::uint32_t tail[8];
        for (std::uint32_t i = 0; i < 8; ++i) {
            tail[i] = candidates[k + (i < rest ? i : 0)];
        }
        const std::uint32_t mask = KeepMask8(groupSums, q, bound, tail) & ((1u << rest) - 1u);
        alignas(32) std::uint32_t packed[8];
        Pack8(tail, mask, packed);
        const auto chosen = static_cast<std::uint32_t>(__builtin_popcount(mask));
        std::copy_n(packed, chosen, candidates + kept);
        kept += chosen;
    }
    return kept;
}
#endif

}  // namespace

GroupFilter GroupFilterFor(SimdLevel level) {
#ifdef WEFTLOOM_X86
    if (level != SimdLevel::Scalar) {
        return &Avx2GroupFilter;
    }
#else
    (void)level;
#endif
    return &ScalarGroupFilter;
}

}  // namespace weftloom
