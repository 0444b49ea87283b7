#pragma once

#include <cstddef>
#include <cstdint>

namespace weftloom {

// How two feature vectors are compared. All three work on unsigned 32-bit
// integers with wrap-around arithmetic and compare equal-length vectors
// coordinate by coordinate, coordinate 0 first.
enum class DistanceMetric : std::int32_t {
    L1 = 0,    // sum of absolute differences
    L2 = 1,    // sum of squared differences (squared Euclidean distance)
    Linf = 2,  // largest absolute difference
};

constexpr bool IsValidMetric(DistanceMetric metric) {
    return metric == DistanceMetric::L1 || metric == DistanceMetric::L2 ||
           metric == DistanceMetric::Linf;
}

// Distance evaluation for one metric, fixed at compile time so that the loops
// carry no per-coordinate choice.
template <DistanceMetric M>
struct Distance {
    static std::uint32_t AbsDiff(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; }

    // The whole distance between a and b, with no bound.
    static std::uint32_t Full(const std::uint32_t* a, const std::uint32_t* b, std::size_t count) {
        std::uint32_t result = 0;
        for (std::size_t i = 0; i < count; ++i) {
            result = Accumulate(result, AbsDiff(a[i], b[i]));
        }
        return result;
    }

    // Evaluates the distance only as far as needed to decide whether it lies
    // below bound. Returns true and stores the distance when it does; returns
    // false as soon as the running value reaches bound, so a candidate at
    // exactly the bound never wins and ties keep the point examined first.
    static bool Bounded(const std::uint32_t* a, const std::uint32_t* b, std::size_t count,
                        std::uint32_t bound, std::uint32_t& distance) {
        std::uint32_t running = 0;
        for (std::size_t i = 0; i < count; ++i) {
            running = Accumulate(running, AbsDiff(a[i], b[i]));
            if (running >= bound) {
                return false;
            }
        }
        if (running >= bound) {
            return false;
        }
        distance = running;
        return true;
    }

  private:
    static std::uint32_t Accumulate(std::uint32_t running, std::uint32_t diff) {
        if constexpr (M == DistanceMetric::L1) {
            return running + diff;
        } else if constexpr (M == DistanceMetric::L2) {
            return running + diff * diff;
        } else {
            return diff > running ? diff : running;
        }
    }
};

}  // namespace weftloom
