#pragma once

#include <cstdint>
#include <vector>

#include "search/distance_metric.h"
#include "search/feature_vector.h"
#include "search/point_set.h"
#include "search/random_generator.h"

namespace weftloom {

// How a linear-scan cloud chooses the points a query examines.
enum class SubsamplingMode : std::int32_t {
    Disabled = 0,    // every point (the synthesis then uses a kd-tree instead)
    Percentage = 1,  // a percentage of the cloud, once it has enough points
    FixedCount = 2,  // about a fixed number of points
};

// A flat point set searched by a linear scan, examining either every point or
// a random subset of about sampleSize points per query. Points keep their
// insertion order; a point's index is its position and ties go to the lower
// index. Owned and used by one level pass on one thread.
template <DistanceMetric M>
class DataCloud : public PointSet {
  public:
    static constexpr std::int32_t kInitialSampleSize = 2500;

    using PointSet::PointSet;

    // Decides, once the cloud is complete, whether queries subsample and how many
    // points they aim at. Percentage applies only from minimumPixelCount points
    // on; FixedCount always applies; any other mode leaves the cloud fully searched.
    void ConfigureSubsampling(SubsamplingMode mode, std::uint32_t subsamplePercent,
                              std::uint32_t minimumPixelCount, std::int32_t subsampleCount);

    bool Subsample() const { return subsample_; }
    std::int32_t SampleSize() const { return sampleSize_; }

    // Finds the point whose features are nearest the query and copies its pixel
    // into pixel. Point 0 is always examined; the others all, or each with
    // probability threshold / 32768 under subsampling, drawing one value from
    // random per point after the first. False, with pixel untouched, when the
    // cloud is empty or the query has the wrong length.
    bool FindNearest(const FeatureVector& query, FeatureVector& pixel,
                     RandomGenerator& random) const;

    // The threshold a subsampled query compares its draws with: sampleSize / n in
    // single precision, times 32768, truncated. Exposed for tests.
    static std::int32_t SubsampleThreshold(std::int32_t sampleSize, std::uint32_t pointCount);

  private:
    bool subsample_ = false;
    std::int32_t sampleSize_ = kInitialSampleSize;
};

extern template class DataCloud<DistanceMetric::L1>;
extern template class DataCloud<DistanceMetric::L2>;
extern template class DataCloud<DistanceMetric::Linf>;

}  // namespace weftloom
