#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "search/distance_metric.h"
#include "search/feature_vector.h"
#include "search/simd_level.h"
#include "tests/reference/reference_search.h"

namespace weftloom {

inline void PrintTo(SimdLevel level, std::ostream* out) {
    *out << (level == SimdLevel::Avx512 ? "Avx512" : level == SimdLevel::Avx2 ? "Avx2" : "Scalar");
}

}  // namespace weftloom

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

// The kernels' tests run once per instruction-set level, each level a test
// case of its own named after it, so that a level this CPU lacks shows in the
// log as a skip with its reason rather than passing unseen.
class PerSimdLevel : public ::testing::TestWithParam<SimdLevel> {
  protected:
    void SetUp() override {
        if (!SimdLevelSupported(GetParam())) {
            GTEST_SKIP() << "this CPU lacks "
                         << (GetParam() == SimdLevel::Avx512 ? "AVX-512 F and BW" : "AVX2");
        }
    }
};

inline const SimdLevel kSimdLevels[] = {SimdLevel::Scalar, SimdLevel::Avx2, SimdLevel::Avx512};

inline std::string SimdLevelName(const ::testing::TestParamInfo<SimdLevel>& info) {
    return ::testing::PrintToString(info.param);
}

}  // namespace weftloom::testing
