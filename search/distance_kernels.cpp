#include "search/distance_kernels.h"

#include <algorithm>
#include <type_traits>

#include "search/x86_intrinsics.h"

namespace weftloom {

namespace {

constexpr std::size_t kBlock = 64;

std::uint32_t AbsDiff(std::uint8_t a, std::uint8_t b) {
    return a > b ? static_cast<std::uint32_t>(a - b) : static_cast<std::uint32_t>(b - a);
}

template <DistanceMetric M>
std::uint32_t Accumulate(std::uint32_t running, std::uint32_t diff) {
    if constexpr (M == DistanceMetric::L1) {
        return running + diff;
    } else if constexpr (M == DistanceMetric::L2) {
        return running + diff * diff;
    } else {
        return std::max(diff, running);
    }
}

template <DistanceMetric M>
std::uint32_t Literal(const std::uint8_t* a, const std::uint8_t* b, std::size_t count,
                      std::uint32_t bound) {
    std::uint32_t running = 0;
    for (std::size_t i = 0; i < count; ++i) {
        running = Accumulate<M>(running, AbsDiff(a[i], b[i]));
        if (running >= bound) {
            return bound;
        }
    }
    return running >= bound ? bound : running;
}

// Portable: one test per block, no per-element branch.
template <DistanceMetric M>
std::uint32_t ScalarBlocks(const std::uint8_t* a, const std::uint8_t* b, std::size_t count,
                           std::uint32_t bound) {
    std::uint32_t running = 0;
    for (std::size_t i = 0; i < count; i += kBlock) {
        const std::size_t end = std::min(count, i + kBlock);
        for (std::size_t k = i; k < end; ++k) {
            running = Accumulate<M>(running, AbsDiff(a[k], b[k]));
        }
        if (running >= bound) {
            return running;
        }
    }
    return running;
}

template <DistanceMetric M>
std::uint32_t ScalarStage(const std::uint8_t* query, const std::uint8_t* rows, std::size_t stride,
                          std::size_t offset, std::uint32_t* candidates, std::uint32_t* partials,
                          std::uint32_t count, std::uint32_t bound) {
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t candidate = candidates[k];
        const std::uint8_t* row = rows + std::size_t{candidate} * stride;
        std::uint32_t part = partials[k];
        for (std::size_t i = offset; i < offset + kBlock; ++i) {
            part = Accumulate<M>(part, AbsDiff(query[i], row[i]));
        }
        candidates[kept] = candidate;
        partials[kept] = part;
        kept += part < bound ? 1u : 0u;
    }
    return kept;
}

#ifdef WEFTLOOM_X86

#define WEFTLOOM_AVX2 __attribute__((target("avx2")))
#define WEFTLOOM_AVX512 __attribute__((target("avx512f,avx512bw")))

WEFTLOOM_AVX2 inline __m256i AbsDiff256(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

WEFTLOOM_AVX2 inline std::uint64_t Sum64(__m256i v) {
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<std::uint64_t>(
        _mm_cvtsi128_si64(_mm_add_epi64(s, _mm_unpackhi_epi64(s, s))));
}

WEFTLOOM_AVX2 inline std::uint32_t Sum32(__m256i v) {
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(s));
}

WEFTLOOM_AVX2 inline __m256i Squares(__m256i d) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_unpacklo_epi8(d, zero);
    const __m256i hi = _mm256_unpackhi_epi8(d, zero);
    return _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi));
}

WEFTLOOM_AVX2 std::uint32_t L1Avx2(const std::uint8_t* a, const std::uint8_t* b, std::size_t count,
                                   std::uint32_t bound) {
    __m256i acc = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        const auto* pa = reinterpret_cast<const __m256i*>(a + i);
        const auto* pb = reinterpret_cast<const __m256i*>(b + i);
        acc =
            _mm256_add_epi64(acc, _mm256_sad_epu8(_mm256_loadu_si256(pa), _mm256_loadu_si256(pb)));
        acc = _mm256_add_epi64(
            acc, _mm256_sad_epu8(_mm256_loadu_si256(pa + 1), _mm256_loadu_si256(pb + 1)));
        const std::uint64_t s = Sum64(acc);
        if (s >= bound) {
            return static_cast<std::uint32_t>(std::min<std::uint64_t>(s, 0xFFFFFFFFu));
        }
    }
    std::uint64_t s = Sum64(acc);
    for (; i < count; ++i) {
        s += AbsDiff(a[i], b[i]);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(s, 0xFFFFFFFFu));
}

WEFTLOOM_AVX2 std::uint32_t L2Avx2(const std::uint8_t* a, const std::uint8_t* b, std::size_t count,
                                   std::uint32_t bound) {
    __m256i acc = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        const auto* pa = reinterpret_cast<const __m256i*>(a + i);
        const auto* pb = reinterpret_cast<const __m256i*>(b + i);
        acc = _mm256_add_epi32(acc,
                               Squares(AbsDiff256(_mm256_loadu_si256(pa), _mm256_loadu_si256(pb))));
        acc = _mm256_add_epi32(
            acc, Squares(AbsDiff256(_mm256_loadu_si256(pa + 1), _mm256_loadu_si256(pb + 1))));
        const std::uint32_t s = Sum32(acc);
        if (s >= bound) {
            return s;
        }
    }
    std::uint32_t s = Sum32(acc);
    for (; i < count; ++i) {
        const std::uint32_t d = AbsDiff(a[i], b[i]);
        s += d * d;
    }
    return s;
}

WEFTLOOM_AVX2 std::uint32_t LinfAvx2(const std::uint8_t* a, const std::uint8_t* b,
                                     std::size_t count, std::uint32_t bound) {
    // A bound above 255 rejects nothing; below, a byte at or above it rejects.
    const bool test = bound <= 255u;
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(test ? bound : 0u));
    __m256i most = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        const auto* pa = reinterpret_cast<const __m256i*>(a + i);
        const auto* pb = reinterpret_cast<const __m256i*>(b + i);
        const __m256i d =
            _mm256_max_epu8(AbsDiff256(_mm256_loadu_si256(pa), _mm256_loadu_si256(pb)),
                            AbsDiff256(_mm256_loadu_si256(pa + 1), _mm256_loadu_si256(pb + 1)));
        most = _mm256_max_epu8(most, d);
        if (test && _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(d, limit), d)) != 0) {
            return bound;
        }
    }
    alignas(32) std::uint8_t lanes[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), most);
    std::uint32_t result = *std::max_element(lanes, lanes + 32);
    for (; i < count; ++i) {
        result = std::max(result, AbsDiff(a[i], b[i]));
    }
    return result >= bound ? bound : result;
}

WEFTLOOM_AVX512 inline __m512i AbsDiff512(__m512i a, __m512i b) {
    return _mm512_or_si512(_mm512_subs_epu8(a, b), _mm512_subs_epu8(b, a));
}

WEFTLOOM_AVX512 inline __mmask64 TailMask(std::size_t remaining) {
    return remaining >= 64 ? ~__mmask64{0} : (__mmask64{1} << remaining) - 1;
}

WEFTLOOM_AVX512 std::uint32_t L1Avx512(const std::uint8_t* a, const std::uint8_t* b,
                                       std::size_t count, std::uint32_t bound) {
    __m512i acc = _mm512_setzero_si512();
    for (std::size_t i = 0; i < count; i += kBlock) {
        const __mmask64 m = TailMask(count - i);
        acc = _mm512_add_epi64(acc, _mm512_sad_epu8(_mm512_maskz_loadu_epi8(m, a + i),
                                                    _mm512_maskz_loadu_epi8(m, b + i)));
        const auto s = static_cast<std::uint64_t>(_mm512_reduce_add_epi64(acc));
        if (s >= bound) {
            return static_cast<std::uint32_t>(std::min<std::uint64_t>(s, 0xFFFFFFFFu));
        }
    }
    return static_cast<std::uint32_t>(_mm512_reduce_add_epi64(acc));
}

WEFTLOOM_AVX512 std::uint32_t L2Avx512(const std::uint8_t* a, const std::uint8_t* b,
                                       std::size_t count, std::uint32_t bound) {
    const __m512i zero = _mm512_setzero_si512();
    __m512i acc = zero;
    for (std::size_t i = 0; i < count; i += kBlock) {
        const __mmask64 m = TailMask(count - i);
        const __m512i d =
            AbsDiff512(_mm512_maskz_loadu_epi8(m, a + i), _mm512_maskz_loadu_epi8(m, b + i));
        const __m512i lo = _mm512_unpacklo_epi8(d, zero);
        const __m512i hi = _mm512_unpackhi_epi8(d, zero);
        acc = _mm512_add_epi32(
            acc, _mm512_add_epi32(_mm512_madd_epi16(lo, lo), _mm512_madd_epi16(hi, hi)));
        const auto s = static_cast<std::uint32_t>(_mm512_reduce_add_epi32(acc));
        if (s >= bound) {
            return s;
        }
    }
    return static_cast<std::uint32_t>(_mm512_reduce_add_epi32(acc));
}

WEFTLOOM_AVX512 std::uint32_t LinfAvx512(const std::uint8_t* a, const std::uint8_t* b,
                                         std::size_t count, std::uint32_t bound) {
    const bool test = bound <= 255u;
    const __m512i limit = _mm512_set1_epi8(static_cast<char>(test ? bound : 0u));
    __m512i most = _mm512_setzero_si512();
    for (std::size_t i = 0; i < count; i += kBlock) {
        const __mmask64 m = TailMask(count - i);
        const __m512i d =
            AbsDiff512(_mm512_maskz_loadu_epi8(m, a + i), _mm512_maskz_loadu_epi8(m, b + i));
        if (test && _mm512_cmpge_epu8_mask(d, limit) != 0) {
            return bound;
        }
        most = _mm512_max_epu8(most, d);
    }
    const __m512i m = _mm512_max_epu8(most, _mm512_srli_epi32(most, 16));
    const auto result = static_cast<std::uint32_t>(_mm512_reduce_max_epu32(
        _mm512_and_si512(_mm512_max_epu8(m, _mm512_srli_epi32(m, 8)), _mm512_set1_epi32(0xFF))));
    return result >= bound ? bound : result;
}

// A row block's differences, two registers of them, as 8 lanes whose sum (L1,
// L2) or maximum (Linf) is the block's distance.
template <DistanceMetric M>
WEFTLOOM_AVX2 inline __m256i BlockLanes256(__m256i d0, __m256i d1) {
    const __m256i zero = _mm256_setzero_si256();
    if constexpr (M == DistanceMetric::L1) {
        // 4 sums in the low halves of 64-bit lanes, zero in the high ones
        return _mm256_add_epi64(_mm256_sad_epu8(d0, zero), _mm256_sad_epu8(d1, zero));
    } else if constexpr (M == DistanceMetric::L2) {
        return _mm256_add_epi32(Squares(d0), Squares(d1));
    } else {
        __m256i m = _mm256_max_epu8(d0, d1);
        m = _mm256_max_epu8(m, _mm256_srli_epi32(m, 16));
        return _mm256_and_si256(_mm256_max_epu8(m, _mm256_srli_epi32(m, 8)),
                                _mm256_set1_epi32(0xFF));
    }
}

template <DistanceMetric M>
WEFTLOOM_AVX2 inline __m256i Combine256(__m256i a, __m256i b) {
    if constexpr (M == DistanceMetric::Linf) {
        return _mm256_max_epu32(a, b);
    } else {
        return _mm256_add_epi32(a, b);
    }
}

// Folds 8 registers of 8 lanes into one register holding each one's total, in
// order: a transposing tree instead of 8 horizontal reductions.
template <DistanceMetric M>
WEFTLOOM_AVX2 inline __m256i Totals256(const __m256i* v) {
    __m256i pairs[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        pairs[i] = Combine256<M>(_mm256_unpacklo_epi32(v[2 * i], v[2 * i + 1]),
                                 _mm256_unpackhi_epi32(v[2 * i], v[2 * i + 1]));
    }
    const __m256i low = Combine256<M>(_mm256_unpacklo_epi64(pairs[0], pairs[1]),
                                      _mm256_unpackhi_epi64(pairs[0], pairs[1]));
    const __m256i high = Combine256<M>(_mm256_unpacklo_epi64(pairs[2], pairs[3]),
                                       _mm256_unpackhi_epi64(pairs[2], pairs[3]));
    return Combine256<M>(_mm256_permute2x128_si256(low, high, 0x20),
                         _mm256_permute2x128_si256(low, high, 0x31));
}

template <DistanceMetric M>
WEFTLOOM_AVX2 std::uint32_t Avx2Stage(const std::uint8_t* query, const std::uint8_t* rows,
                                      std::size_t stride, std::size_t offset,
                                      std::uint32_t* candidates, std::uint32_t* partials,
                                      std::uint32_t count, std::uint32_t bound) {
    // Eight candidates at a time, as the AVX-512 form takes sixteen: their
    // blocks folded together, then the survivors packed to the front with
    // one permutation each for their indices and their partial distances.
    const __m256i q0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(query + offset));
    const __m256i q1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(query + offset + 32));
    // Unsigned comparison as signed, both sides with the top bit flipped.
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i limit = _mm256_xor_si256(_mm256_set1_epi32(static_cast<int>(bound)), flip);
    std::uint32_t kept = 0;
    std::uint32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        __m256i lanes[8];
#pragma GCC unroll 8
        for (std::uint32_t i = 0; i < 8; ++i) {
            const std::uint8_t* row = rows + std::size_t{candidates[k + i]} * stride + offset;
            lanes[i] = BlockLanes256<M>(
                AbsDiff256(q0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row))),
                AbsDiff256(q1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 32))));
        }
        const __m256i totals =
            Combine256<M>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(partials + k)),
                          Totals256<M>(lanes));
        const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(candidates + k));
        const __m256i keep = _mm256_cmpgt_epi32(limit, _mm256_xor_si256(totals, flip));
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(keep)));
        const __m256i order =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(kPackTable.lanes[mask]));
        // Everything up to k + 8 has been read, and kept never passes k.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(candidates + kept),
                            _mm256_permutevar8x32_epi32(index, order));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(partials + kept),
                            _mm256_permutevar8x32_epi32(totals, order));
        kept += static_cast<std::uint32_t>(__builtin_popcount(mask));
    }
    for (; k < count; ++k) {
        const std::uint32_t candidate = candidates[k];
        const std::uint8_t* row = rows + std::size_t{candidate} * stride + offset;
        const __m256i one = BlockLanes256<M>(
            AbsDiff256(q0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row))),
            AbsDiff256(q1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 32))));
        std::uint32_t part = partials[k];
        if constexpr (M == DistanceMetric::Linf) {
            alignas(32) std::uint32_t each[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(each), one);
            part = std::max(part, *std::max_element(each, each + 8));
        } else {
            part += Sum32(one);
        }
        candidates[kept] = candidate;
        partials[kept] = part;
        kept += part < bound ? 1u : 0u;
    }
    return kept;
}

// A row block's differences as 16 lanes whose sum (L1, L2) or maximum (Linf)
// is the block's distance.
template <DistanceMetric M>
WEFTLOOM_AVX512 inline __m512i BlockLanes(__m512i d) {
    const __m512i zero = _mm512_setzero_si512();
    if constexpr (M == DistanceMetric::L1) {
        return _mm512_sad_epu8(d, zero);  // 8 sums in the low halves of 64-bit lanes
    } else if constexpr (M == DistanceMetric::L2) {
        const __m512i lo = _mm512_unpacklo_epi8(d, zero);
        const __m512i hi = _mm512_unpackhi_epi8(d, zero);
        return _mm512_add_epi32(_mm512_madd_epi16(lo, lo), _mm512_madd_epi16(hi, hi));
    } else {
        const __m512i m = _mm512_max_epu8(d, _mm512_srli_epi32(d, 16));
        return _mm512_and_si512(_mm512_max_epu8(m, _mm512_srli_epi32(m, 8)),
                                _mm512_set1_epi32(0xFF));
    }
}

template <DistanceMetric M>
WEFTLOOM_AVX512 inline __m512i Combine(__m512i a, __m512i b) {
    if constexpr (M == DistanceMetric::Linf) {
        return _mm512_max_epu32(a, b);
    } else {
        return _mm512_add_epi32(a, b);
    }
}

// Folds 16 registers of 16 lanes into one register holding each one's total,
// in order: a transposing tree instead of 16 horizontal reductions.
template <DistanceMetric M>
WEFTLOOM_AVX512 inline __m512i Totals(const __m512i* v) {
    __m512i pairs[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        pairs[i] = Combine<M>(_mm512_unpacklo_epi32(v[2 * i], v[2 * i + 1]),
                              _mm512_unpackhi_epi32(v[2 * i], v[2 * i + 1]));
    }
    __m512i quads[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        quads[i] = Combine<M>(_mm512_unpacklo_epi64(pairs[2 * i], pairs[2 * i + 1]),
                              _mm512_unpackhi_epi64(pairs[2 * i], pairs[2 * i + 1]));
    }
    const __m512i c = Combine<M>(_mm512_shuffle_i32x4(quads[0], quads[1], 0x88),
                                 _mm512_shuffle_i32x4(quads[0], quads[1], 0xDD));
    const __m512i d = Combine<M>(_mm512_shuffle_i32x4(quads[2], quads[3], 0x88),
                                 _mm512_shuffle_i32x4(quads[2], quads[3], 0xDD));
    return Combine<M>(_mm512_shuffle_i32x4(c, d, 0x88), _mm512_shuffle_i32x4(c, d, 0xDD));
}

template <DistanceMetric M>
WEFTLOOM_AVX512 std::uint32_t Avx512Stage(const std::uint8_t* query, const std::uint8_t* rows,
                                          std::size_t stride, std::size_t offset,
                                          std::uint32_t* candidates, std::uint32_t* partials,
                                          std::uint32_t count, std::uint32_t bound) {
    const __m512i q = _mm512_loadu_si512(query + offset);
    const __m512i limit = _mm512_set1_epi32(static_cast<int>(bound));
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < count; k += 16) {
        const std::uint32_t n = std::min(16u, count - k);
        const auto valid = static_cast<__mmask16>((1u << n) - 1u);
        __m512i lanes[16];
#pragma GCC unroll 16
        for (std::uint32_t i = 0; i < 16; ++i) {
            // Past the end, the first candidate again; its lane is masked off.
            const std::uint32_t candidate = candidates[k + (i < n ? i : 0)];
            lanes[i] = BlockLanes<M>(
                AbsDiff512(q, _mm512_loadu_si512(rows + std::size_t{candidate} * stride + offset)));
        }
        const __m512i totals =
            Combine<M>(_mm512_maskz_loadu_epi32(valid, partials + k), Totals<M>(lanes));
        const __mmask16 keep = _mm512_mask_cmplt_epu32_mask(valid, totals, limit);
        const __m512i index = _mm512_maskz_loadu_epi32(valid, candidates + k);
        // Everything from k on has been read; the survivors go to kept on,
        // which never passes k + n.
        const auto written = static_cast<__mmask16>((1u << __builtin_popcount(keep)) - 1u);
        _mm512_mask_storeu_epi32(candidates + kept, written,
                                 _mm512_maskz_compress_epi32(keep, index));
        _mm512_mask_storeu_epi32(partials + kept, written,
                                 _mm512_maskz_compress_epi32(keep, totals));
        kept += static_cast<std::uint32_t>(__builtin_popcount(keep));
    }
    return kept;
}

#endif  // WEFTLOOM_X86

template <DistanceMetric M>
StageKernel PickStage(SimdLevel level) {
#ifdef WEFTLOOM_X86
    if (level == SimdLevel::Avx512) {
        return &Avx512Stage<M>;
    }
    if (level == SimdLevel::Avx2) {
        return &Avx2Stage<M>;
    }
#else
    (void)level;
#endif
    return &ScalarStage<M>;
}

template <DistanceMetric M>
DistanceKernel Pick(SimdLevel level) {
#ifdef WEFTLOOM_X86
    if (level == SimdLevel::Avx512) {
        return M == DistanceMetric::L1   ? &L1Avx512
               : M == DistanceMetric::L2 ? &L2Avx512
                                         : &LinfAvx512;
    }
    if (level == SimdLevel::Avx2) {
        return M == DistanceMetric::L1 ? &L1Avx2 : M == DistanceMetric::L2 ? &L2Avx2 : &LinfAvx2;
    }
#else
    (void)level;
#endif
    return &ScalarBlocks<M>;
}

// Calls pick with the metric as a compile-time constant (anything but L1 and
// L2 reads as Linf, as the clouds instantiate it).
template <class Pick>
auto ForMetric(DistanceMetric metric, Pick pick) {
    switch (metric) {
        case DistanceMetric::L1:
            return pick(std::integral_constant<DistanceMetric, DistanceMetric::L1>{});
        case DistanceMetric::L2:
            return pick(std::integral_constant<DistanceMetric, DistanceMetric::L2>{});
        case DistanceMetric::Linf:
            break;
    }
    return pick(std::integral_constant<DistanceMetric, DistanceMetric::Linf>{});
}

}  // namespace

DistanceKernel BlockKernel(DistanceMetric metric, SimdLevel level) {
    return ForMetric(metric, [level](auto m) { return Pick<decltype(m)::value>(level); });
}

StageKernel StageKernelFor(DistanceMetric metric, SimdLevel level) {
    return ForMetric(metric, [level](auto m) { return PickStage<decltype(m)::value>(level); });
}

DistanceKernel LiteralKernel(DistanceMetric metric) {
    return ForMetric(metric, [](auto m) { return DistanceKernel{&Literal<decltype(m)::value>}; });
}

std::uint32_t LiteralFullDistance(DistanceMetric metric, const std::uint8_t* a,
                                  const std::uint8_t* b, std::size_t count) {
    std::uint32_t result = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t d = AbsDiff(a[i], b[i]);
        result = metric == DistanceMetric::L1   ? result + d
                 : metric == DistanceMetric::L2 ? result + d * d
                                                : std::max(result, d);
    }
    return result;
}

}  // namespace weftloom
