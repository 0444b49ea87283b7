#pragma once

#include <cstdint>

#include "search/simd_level.h"

namespace weftloom {

// The subsampled scan's draws, many at a time: the generator's sequence from
// `state`, lanes spread by its jump-ahead. Writes to `out` the indices
// first + k, k = 0..count-1, whose draw (the (k+1)-th after state) is below
// threshold (at most 0x8000), in increasing order, and returns how many; state
// is left after the count-th draw. `out` needs room for count + 16 indices
// (the vector kernels store whole registers).
using DrawKernel = std::uint32_t (*)(std::uint32_t& state, std::uint32_t first, std::uint32_t count,
                                     std::uint32_t threshold, std::uint32_t* out);

// The draw kernel for a level (which must be supported).
DrawKernel DrawKernelFor(SimdLevel level);

inline DrawKernel BestDrawKernel() {
    return DrawKernelFor(BestSimdLevel());
}

}  // namespace weftloom
