#pragma once

// What every reader's fuzz target shares: the size cap that keeps runs quick,
// a check that stops the run on a broken promise, and a read of every byte.

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace weftloom::fuzz {

// A megapixel at most: a 4 MiB plane or a 3 MiB image.
inline constexpr std::uint64_t kPixelLimit = std::uint64_t{1} << 20;

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Reads every byte, so that the sanitizers see any that lies outside a block.
inline void TouchEveryByte(const std::vector<std::uint8_t>& bytes) {
    unsigned sum = 0;
    for (std::uint8_t byte : bytes) {
        sum += byte;
    }
    volatile unsigned sink = sum;
    (void)sink;
}

}  // namespace weftloom::fuzz
