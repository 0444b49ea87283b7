#pragma once

#include <cstdint>

#include "search/simd_level.h"

namespace weftloom {

// A row's features cut into kSumGroups runs of equal width (the last ones
// short or empty), and the sum of each run. Under L2, two rows whose group
// sums differ by d[g] lie at least sum(d[g]^2) / width apart (Cauchy-Schwarz
// on each run), a far tighter bound than the one whole sum gives: a linear
// scan rules most points out by it before it reads their rows.
inline constexpr std::uint32_t kSumGroups = 16;

// The width of a row's groups, or 0 when its rows are too long for the
// bound to be held in 32 bits (over 1024 features).
constexpr std::uint32_t SumGroupWidth(std::uint32_t featureDim) {
    const std::uint32_t width = (featureDim + kSumGroups - 1) / kSumGroups;
    return width > 64 ? 0 : width;
}

// Writes the kSumGroups group sums of a row of featureDim bytes (all 0 when
// the rows are too long for them).
void GroupSumsOf(const std::uint8_t* features, std::uint32_t featureDim, std::uint16_t* sums);

// Keeps in place, in order, the count candidates whose squared group-sum
// distance to the query's is below limit, and returns how many. Candidate
// k's sums start at groupSums + candidates[k] * kSumGroups.
using GroupFilter = std::uint32_t (*)(const std::uint16_t* groupSums, const std::uint16_t* query,
                                      std::uint32_t limit, std::uint32_t* candidates,
                                      std::uint32_t count);

GroupFilter GroupFilterFor(SimdLevel level);

}  // namespace weftloom
