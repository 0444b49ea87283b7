#pragma once

#include <cstdint>
#include <vector>

#include "search/cloud_point.h"
#include "search/feature_vector.h"

namespace weftloom {

// The points of a data cloud in insertion order; a point's index is its
// position. Points are never reordered, changed or removed once added, so
// search structures refer to them by index. Every point's features have
// featureDim elements and its pixel pixelDim.
class PointSet {
  public:
    PointSet(std::uint32_t featureDim, std::uint32_t pixelDim)
        : featureDim_(featureDim), pixelDim_(pixelDim) {}

    // Appends copies of both vectors; false (nothing stored) when a length
    // differs from the set's dimensions.
    bool AddPoint(const FeatureVector& features, const FeatureVector& pixel) {
        if (features.size() != featureDim_ || pixel.size() != pixelDim_) {
            return false;
        }
        points_.push_back(CloudPoint{features, pixel});
        return true;
    }

    std::uint32_t PointCount() const { return static_cast<std::uint32_t>(points_.size()); }
    std::uint32_t FeatureDim() const { return featureDim_; }
    std::uint32_t PixelDim() const { return pixelDim_; }
    const CloudPoint& Point(std::uint32_t index) const { return points_[index]; }

  protected:
    std::vector<CloudPoint> points_;
    std::uint32_t featureDim_;
    std::uint32_t pixelDim_;
};

}  // namespace weftloom
