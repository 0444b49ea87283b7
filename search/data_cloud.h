#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "search/distance_kernels.h"
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
// index. Filled and configured by one thread; a query may then be split across
// the shared WorkerPool (SetThreadCount), and the answer never depends on it.
template <DistanceMetric M>
class DataCloud : public PointSet {
  public:
    static constexpr std::int32_t kInitialSampleSize = 2500;
    static constexpr std::uint32_t kNoMatch = 0xFFFFFFFFu;

    DataCloud(std::uint32_t featureDim, std::uint32_t pixelDim)
        : PointSet(featureDim, pixelDim, true), kernel_(ChooseKernel(M, RowStride())) {}

    // Decides, once the cloud is complete, whether queries subsample and how many
    // points they aim at. Percentage applies only from minimumPixelCount points
    // on; FixedCount always applies; any other mode leaves the cloud fully searched.
    void ConfigureSubsampling(SubsamplingMode mode, std::uint32_t subsamplePercent,
                              std::uint32_t minimumPixelCount, std::int32_t subsampleCount);

    bool Subsample() const { return subsample_; }
    std::int32_t SampleSize() const { return sampleSize_; }

    // Threads a query may use, the caller's included; 0 means all cores, 1 (the
    // default) keeps every query on the calling thread.
    void SetThreadCount(std::uint32_t threadCount) { threadCount_ = threadCount; }

    // Finds the point whose features are nearest the query and copies its pixel
    // into pixel. Point 0 is always examined; the others all, or each with
    // probability threshold / 32768 under subsampling, drawing one value from
    // random per point after the first. False, with pixel untouched, when the
    // cloud is empty or the query has the wrong length or an element above 255.
    bool FindNearest(const FeatureVector& query, FeatureVector& pixel,
                     RandomGenerator& random) const;

    // The same search for a query row of RowStride() bytes, zero-padded; the
    // winner's index, or kNoMatch for an empty cloud (which draws nothing).
    // hint and otherHint name points likely to be near (say, the neighbour of
    // the previous pixel's winner, and the point below the winner of the pixel
    // above); when the query examines one, its distance prunes the scan from
    // the start. The answer never depends on them.
    std::uint32_t FindNearestIndex(const std::uint8_t* query, RandomGenerator& random,
                                   std::uint32_t hint = kNoMatch,
                                   std::uint32_t otherHint = kNoMatch) const;

    // The threshold a subsampled query compares its draws with: sampleSize / n in
    // single precision, times 32768, truncated. Exposed for tests.
    static std::int32_t SubsampleThreshold(std::int32_t sampleSize, std::uint32_t pointCount);

  private:
    struct Scan;
    std::uint32_t ScanAll(const std::uint8_t* query, std::uint32_t bestDistance,
                          std::array<std::uint32_t, 2> hints, bool subsampled, std::uint32_t state,
                          std::uint32_t threshold) const;

    // The share of a query's points, in 1024ths, that the first of two
    // chunks takes. After each query split in two it moves a step away from
    // the chunk that finished last, so that the two come to finish together
    // (the points near a query's match, which prune the rest, are not spread
    // evenly). Where a query is split never changes its answer.
    struct FirstShare {
        static constexpr std::uint32_t kHalf = 512;
        std::atomic<std::uint32_t> value{kHalf};
        FirstShare() = default;
        FirstShare(const FirstShare& other) : value(other.value.load(std::memory_order_relaxed)) {}
        FirstShare& operator=(const FirstShare& other) {
            value.store(other.value.load(std::memory_order_relaxed), std::memory_order_relaxed);
            return *this;
        }
    };

    bool subsample_ = false;
    std::int32_t sampleSize_ = kInitialSampleSize;
    std::uint32_t threadCount_ = 1;
    DistanceKernel kernel_;
    mutable FirstShare firstShare_;
};

extern template class DataCloud<DistanceMetric::L1>;
extern template class DataCloud<DistanceMetric::L2>;
extern template class DataCloud<DistanceMetric::Linf>;

}  // namespace weftloom
