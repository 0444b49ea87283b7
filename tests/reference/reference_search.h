#pragma once

// The literal search, kept as the oracle the product search is compared with:
// every point two heap vectors of 32-bit elements, a scalar distance with a
// branch per element, one generator call per point of a subsampled scan and a
// recursive kd-tree descent. Plain on purpose; never optimise it. Linked only
// by tests and benchmarks.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "search/data_cloud.h"  // SubsamplingMode
#include "search/distance_metric.h"
#include "search/feature_vector.h"
#include "search/random_generator.h"

namespace weftloom::reference {

// Distance on unsigned 32-bit elements with wrap-around arithmetic.
template <DistanceMetric M>
struct Distance {
    static std::uint32_t AbsDiff(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; }

    static std::uint32_t Full(const std::uint32_t* a, const std::uint32_t* b, std::size_t count) {
        std::uint32_t result = 0;
        for (std::size_t i = 0; i < count; ++i) {
            result = Accumulate(result, AbsDiff(a[i], b[i]));
        }
        return result;
    }

    // True, storing the distance, when it lies below bound; false as soon as the
    // running value reaches bound.
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

struct CloudPoint {
    FeatureVector features;
    FeatureVector pixel;
};

class PointSet {
  public:
    PointSet(std::uint32_t featureDim, std::uint32_t pixelDim)
        : featureDim_(featureDim), pixelDim_(pixelDim) {}

    bool AddPoint(const FeatureVector& features, const FeatureVector& pixel) {
        if (features.size() != featureDim_ || pixel.size() != pixelDim_) {
            return false;
        }
        points_.push_back(CloudPoint{features, pixel});
        return true;
    }

    std::uint32_t PointCount() const { return static_cast<std::uint32_t>(points_.size()); }
    std::uint32_t FeatureDim() const { return featureDim_; }
    const CloudPoint& Point(std::uint32_t index) const { return points_[index]; }

  protected:
    std::vector<CloudPoint> points_;
    std::uint32_t featureDim_;
    std::uint32_t pixelDim_;
};

// The linear scan, all points or a random subset.
template <DistanceMetric M>
class DataCloud : public PointSet {
  public:
    using PointSet::PointSet;

    void ConfigureSubsampling(SubsamplingMode mode, std::uint32_t subsamplePercent,
                              std::uint32_t minimumPixelCount, std::int32_t subsampleCount);

    // The pixel of the nearest examined point; false for an empty cloud or a
    // query of the wrong length.
    bool FindNearest(const FeatureVector& query, FeatureVector& pixel,
                     RandomGenerator& random) const;

  private:
    bool subsample_ = false;
    std::int32_t sampleSize_ = 2500;
};

// The kd-tree; the root is node 0, which doubles as "no child".
template <DistanceMetric M>
class KdTreeCloud : public PointSet {
  public:
    static constexpr std::uint32_t kNoMatch = 0xFFFFFFFFu;

    using PointSet::PointSet;

    void Build();
    // Descends from the root; bestIndex stays kNoMatch when nothing is found.
    void FindNearest(const FeatureVector& query, std::uint32_t& bestDistance,
                     std::uint32_t& bestIndex) const;

  private:
    struct Node {
        std::uint32_t point = 0;
        std::uint32_t left = 0;
        std::uint32_t right = 0;
    };
    std::uint32_t Value(const std::vector<std::uint32_t>& index, std::uint32_t position,
                        std::uint32_t coordinate) const {
        return points_[index[position]].features[coordinate];
    }
    std::uint32_t BuildRange(std::vector<std::uint32_t>& index, std::uint32_t lo, std::uint32_t hi,
                             std::uint32_t coordinate);
    std::uint32_t Partition(std::vector<std::uint32_t>& index, std::uint32_t lo, std::uint32_t hi,
                            std::uint32_t coordinate) const;
    void Descend(std::uint32_t node, const std::uint32_t* query, std::uint32_t& bestDistance,
                 std::uint32_t& bestIndex, std::uint32_t coordinate) const;
    void Evaluate(std::uint32_t pointIndex, const std::uint32_t* query, std::uint32_t& bestDistance,
                  std::uint32_t& bestIndex) const;

    std::vector<Node> nodes_;
};

}  // namespace weftloom::reference
