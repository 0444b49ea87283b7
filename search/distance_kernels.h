#pragma once

#include <cstddef>
#include <cstdint>

#include "search/distance_metric.h"
#include "search/simd_level.h"

namespace weftloom {

// A bounded distance between two byte rows of `count` elements: the distance
// itself when it lies below bound, otherwise some value at or above bound.
// So `Kernel(a, b, n, bound) < bound` is the literal "accept" decision, and a
// bound of 0xFFFFFFFF gives the whole distance whenever it cannot overflow.
//
// The block kernels test the bound once per 64 elements. That decides the same
// as testing after every element only while the running value never
// decreases: always for L1 and Linf, and for L2 as long as the sum cannot
// wrap (SumMayWrap false). Otherwise the literal kernel, which wraps and tests
// after every element, is the one to use.
using DistanceKernel = std::uint32_t (*)(const std::uint8_t* a, const std::uint8_t* b,
                                         std::size_t count, std::uint32_t bound);

// The block kernel of a metric for a level (which must be supported).
DistanceKernel BlockKernel(DistanceMetric metric, SimdLevel level);

// One stage of a batched evaluation that has no per-row branch: for every
// candidate k, adds to partials[k] the distance over row bytes offset to
// offset + 63 (for Linf, takes the larger), then keeps in place, in order,
// the candidates (and their partials) still below bound, and returns how many.
// Row k starts candidates[k] * stride bytes from `rows`; stride is a multiple
// of 64 above offset. A partial sum (or maximum) never exceeds the whole when
// the sum cannot wrap, so a candidate dropped here could not have been
// accepted; after the last stage the partials are the whole distances.
using StageKernel = std::uint32_t (*)(const std::uint8_t* query, const std::uint8_t* rows,
                                      std::size_t stride, std::size_t offset,
                                      std::uint32_t* candidates, std::uint32_t* partials,
                                      std::uint32_t count, std::uint32_t bound);

StageKernel StageKernelFor(DistanceMetric metric, SimdLevel level);

// The element-by-element kernel with 32-bit wrap-around, exact for any length.
DistanceKernel LiteralKernel(DistanceMetric metric);

// The literal whole distance with 32-bit wrap-around and no bound.
std::uint32_t LiteralFullDistance(DistanceMetric metric, const std::uint8_t* a,
                                  const std::uint8_t* b, std::size_t count);

// Whether a sum over `count` byte differences can pass 2^32 - 2 under metric.
constexpr bool SumMayWrap(DistanceMetric metric, std::size_t count) {
    const std::uint64_t largest = metric == DistanceMetric::L2   ? 255u * 255u
                                  : metric == DistanceMetric::L1 ? 255u
                                                                 : 0u;
    return largest * count >= 0xFFFFFFFFull;
}

// The kernel a search over rows of `count` elements uses: the best block
// kernel when the sum cannot wrap, else the literal one.
inline DistanceKernel ChooseKernel(DistanceMetric metric, std::size_t count) {
    return SumMayWrap(metric, count) ? LiteralKernel(metric) : BlockKernel(metric, BestSimdLevel());
}

}  // namespace weftloom
