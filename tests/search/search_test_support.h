#pragma once

#include <cstdint>
#include <vector>

#include "search/distance_metric.h"
#include "search/feature_vector.h"
#include "tests/reference/reference_search.h"

namespace weftloom::testing {

// Random byte-valued point sets for comparing the searches with brute force.
// Values are drawn from a narrow range so that ties are common.
class PointMaker {
  public:
    explicit PointMaker(std::uint32_t seed) : state_(seed) {}

    std::uint32_t Next(std::uint32_t range) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % range;
    }

    FeatureVector Vector(std::uint32_t dim, std::uint32_t range) {
        FeatureVector v(dim);
        for (auto& e : v) {
            e = Next(range);
        }
        return v;
    }

  private:
    std::uint32_t state_;
};

// The smallest distance from query to any of points, and the lowest index at it.
template <DistanceMetric M>
std::pair<std::uint32_t, std::uint32_t> BruteForceNearest(const std::vector<FeatureVector>& points,
                                                          const FeatureVector& query) {
    std::uint32_t best = 0xFFFFFFFFu;
    std::uint32_t bestIndex = 0xFFFFFFFFu;
    for (std::uint32_t i = 0; i < points.size(); ++i) {
        const std::uint32_t d =
            reference::Distance<M>::Full(query.data(), points[i].data(), query.size());
        if (bestIndex == 0xFFFFFFFFu || d < best) {
            best = d;
            bestIndex = i;
        }
    }
    return {best, bestIndex};
}

}  // namespace weftloom::testing
