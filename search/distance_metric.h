#pragma once

#include <cstddef>
#include <cstdint>

namespace weftloom {

// How two feature vectors are compared. All three work on unsigned 32-bit
// integers with wrap-around arithmetic and compare equal-length vectors
// coordinate by coordinate, coordinate 0 first; search/distance_kernels.h
// evaluates them on byte rows.
enum class DistanceMetric : std::int32_t {
    L1 = 0,    // sum of absolute differences
    L2 = 1,    // sum of squared differences (squared Euclidean distance)
    Linf = 2,  // largest absolute difference
};

constexpr bool IsValidMetric(DistanceMetric metric) {
    return metric == DistanceMetric::L1 || metric == DistanceMetric::L2 ||
           metric == DistanceMetric::Linf;
}

}  // namespace weftloom
