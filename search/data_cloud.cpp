#include "search/data_cloud.h"

#include <cmath>
#include <limits>

namespace weftloom {

template <DistanceMetric M>
void DataCloud<M>::ConfigureSubsampling(SubsamplingMode mode, std::uint32_t subsamplePercent,
                                        std::uint32_t minimumPixelCount,
                                        std::int32_t subsampleCount) {
    subsample_ = false;
    if (mode == SubsamplingMode::Percentage) {
        const std::uint32_t n = PointCount();
        if (n >= minimumPixelCount) {
            subsample_ = true;
            // Unsigned 32-bit product, wrapping like the rest of the arithmetic.
            sampleSize_ = static_cast<std::int32_t>(subsamplePercent * n / 100u);
        }
    } else if (mode == SubsamplingMode::FixedCount) {
        subsample_ = true;
        sampleSize_ = subsampleCount;
    }
}

namespace {

// sampleSize / n, divided in floating point and rounded to single precision.
float SubsampleRatio(std::int32_t sampleSize, std::uint32_t pointCount) {
    return static_cast<float>(static_cast<double>(sampleSize) / static_cast<double>(pointCount));
}

std::int32_t ThresholdOf(float ratio) {
    const float scaled = ratio * 32768.0f;
    // A hugely negative sample size saturates; every negative threshold reads as
    // an unsigned value above any draw, so all of them mean "examine all".
    if (scaled <= static_cast<float>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(scaled);
}

}  // namespace

template <DistanceMetric M>
std::int32_t DataCloud<M>::SubsampleThreshold(std::int32_t sampleSize, std::uint32_t pointCount) {
    return ThresholdOf(SubsampleRatio(sampleSize, pointCount));
}

template <DistanceMetric M>
bool DataCloud<M>::FindNearest(const FeatureVector& query, FeatureVector& pixel,
                               RandomGenerator& random) const {
    if (points_.empty() || query.size() != featureDim_) {
        return false;
    }
    const std::uint32_t* q = query.data();
    std::uint32_t best = Distance<M>::Full(q, points_[0].features.data(), featureDim_);
    std::uint32_t bestIndex = 0;

    const std::uint32_t n = PointCount();
    const float ratio = SubsampleRatio(sampleSize_, n);
    if (!subsample_ || ratio >= 1.0f) {
        for (std::uint32_t j = 1; j < n; ++j) {
            if (Distance<M>::Bounded(q, points_[j].features.data(), featureDim_, best, best)) {
                bestIndex = j;
            }
        }
    } else {
        const auto threshold = static_cast<std::uint32_t>(ThresholdOf(ratio));
        for (std::uint32_t j = 1; j < n; ++j) {
            if (random.Next() < threshold &&
                Distance<M>::Bounded(q, points_[j].features.data(), featureDim_, best, best)) {
                bestIndex = j;
            }
        }
    }
    pixel = points_[bestIndex].pixel;
    return true;
}

template class DataCloud<DistanceMetric::L1>;
template class DataCloud<DistanceMetric::L2>;
template class DataCloud<DistanceMetric::Linf>;

}  // namespace weftloom
