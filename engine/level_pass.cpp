// The level pass: gathers the sample level's neighbourhoods into a cloud, then
// replaces every output pixel of the level, in scan order, by the pixel of the
// nearest cloud point. Six variants (kd-tree or linear scan, times three
// metrics) share this one routine.
#include <new>

#include "engine/neighbourhood.h"
#include "engine/texture_synthesiser.h"
#include "search/data_cloud.h"
#include "search/kd_tree_cloud.h"

namespace weftloom {

namespace {

template <DistanceMetric M>
void FinishCloud(KdTreeCloud<M>& cloud, const TextureSynthesiser&) {
    cloud.Build();
}

template <DistanceMetric M>
void FinishCloud(DataCloud<M>& cloud, const TextureSynthesiser& job) {
    cloud.ConfigureSubsampling(job.subsamplingMode, job.subsamplePercent, job.minimumPixelCount,
                               job.subsampleCount);
}

template <DistanceMetric M>
bool FindNearestPixel(const KdTreeCloud<M>& cloud, const FeatureVector& query, FeatureVector& pixel,
                      RandomGenerator&) {
    std::uint32_t bestDistance = KdTreeCloud<M>::kNoMatch;
    std::uint32_t bestIndex = KdTreeCloud<M>::kNoMatch;
    cloud.FindNearest(0, query, bestDistance, bestIndex, 0);
    if (bestIndex == KdTreeCloud<M>::kNoMatch) {
        return false;
    }
    pixel = cloud.Point(bestIndex).pixel;
    return true;
}

template <DistanceMetric M>
bool FindNearestPixel(const DataCloud<M>& cloud, const FeatureVector& query, FeatureVector& pixel,
                      RandomGenerator& random) {
    return cloud.FindNearest(query, pixel, random);
}

}  // namespace

bool TextureSynthesiser::SynthesiseLevel(std::uint32_t level, std::int32_t side,
                                         std::uint32_t levels) {
    if (side < 0 || side > kMaxNeighbourhoodSide) {
        return false;
    }
    const bool kdTree = subsamplingMode == SubsamplingMode::Disabled;
    try {
        switch (metric) {
            case DistanceMetric::L1:
                return kdTree ? RunLevelPass<KdTreeCloud<DistanceMetric::L1>>(level, side, levels)
                              : RunLevelPass<DataCloud<DistanceMetric::L1>>(level, side, levels);
            case DistanceMetric::L2:
                return kdTree ? RunLevelPass<KdTreeCloud<DistanceMetric::L2>>(level, side, levels)
                              : RunLevelPass<DataCloud<DistanceMetric::L2>>(level, side, levels);
            case DistanceMetric::Linf:
                return kdTree ? RunLevelPass<KdTreeCloud<DistanceMetric::Linf>>(level, side, levels)
                              : RunLevelPass<DataCloud<DistanceMetric::Linf>>(level, side, levels);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return false;  // not a metric
}

template <class Cloud>
bool TextureSynthesiser::RunLevelPass(std::uint32_t level, std::int32_t side,
                                      std::uint32_t levels) {
    if (!samplePyramid || !outputPyramid) {
        return false;
    }
    const Image* sampleLevel = samplePyramid->Level(level);
    Image* outputLevel = outputPyramid->Level(level);
    if (sampleLevel == nullptr || outputLevel == nullptr) {
        return false;
    }
    side = OddWindowSide(side);
    const std::uint32_t sampleBytes = samplePyramid->Level(0)->bytesPerPixel;
    Cloud cloud(NeighbourhoodPixelCount(side, levels) * sampleBytes, sampleBytes);

    const bool sampleFour = sampleLevel->bytesPerPixel == 4;
    FeatureVector features;
    FeatureVector pixel;
    for (std::uint32_t y = 0; y < sampleLevel->height; ++y) {
        ProgressInfo info;
        info.status = status::kBuildingDataCloud;
        info.context = callbackContext;
        info.stepDone = static_cast<std::int32_t>(y);
        info.stepTotal = static_cast<std::int32_t>(sampleLevel->height);
        Report(info);
        for (std::uint32_t x = 0; x < sampleLevel->width; ++x) {
            features.clear();
            if (BuildNeighbourhood(*samplePyramid, level, side, levels,
                                   static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                   features, sampleFour, false)) {
                const std::uint8_t* source = sampleLevel->PixelAt(x, y);
                pixel.assign(source, source + sampleLevel->bytesPerPixel);
                cloud.AddPoint(features, pixel);
            }
            if (AbortRequested()) {
                return false;
            }
        }
    }
    FinishCloud(cloud, *this);

    const std::uint32_t width = outputLevel->width;
    const std::uint32_t height = outputLevel->height;
    const std::uint32_t bpp = outputLevel->bytesPerPixel;
    {
        ProgressInfo info;
        info.status = status::kSynthesizing;
        info.context = callbackContext;
        info.stepDone = 0;
        info.stepTotal = static_cast<std::int32_t>(height);
        info.overallDone = pixelsDone;
        info.overallTotal = pixelsTotal;
        Report(info);
    }
    FeatureVector query;
    FeatureVector winner(bpp);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            query.clear();
            // A query can only fail to build when a level is missing; then the
            // cloud is empty as well and the pixel keeps its value.
            if (BuildNeighbourhood(*outputPyramid, level, side, levels,
                                   static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                   query, bpp == 4, true) &&
                FindNearestPixel(cloud, query, winner, random)) {
                std::uint8_t* out = outputLevel->PixelAt(x, y);
                for (std::uint32_t c = 0; c < bpp; ++c) {
                    out[c] = static_cast<std::uint8_t>(winner[c] & 0xFFu);
                }
            }
            if (AbortRequested()) {
                return false;
            }
        }
        pixelsDone += static_cast<std::int32_t>(width);
        ProgressInfo info;
        info.status = status::kSynthesizing;
        info.context = callbackContext;
        info.rowPixels = outputLevel->PixelAt(0, y);
        info.levelWidth = width;
        info.levelHeight = height;
        info.bytesPerPixel = bpp;
        info.row = static_cast<std::int32_t>(y);
        info.stepDone = static_cast<std::int32_t>(y + 1);
        info.stepTotal = static_cast<std::int32_t>(height);
        info.overallDone = pixelsDone;
        info.overallTotal = pixelsTotal;
        Report(info);
    }
    return true;
}

}  // namespace weftloom
