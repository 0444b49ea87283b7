#include "tests/reference/reference_synthesiser.h"

#include <algorithm>

#include "engine/neighbourhood.h"
#include "tests/reference/reference_search.h"

namespace weftloom::reference {

namespace {

template <DistanceMetric M>
bool Nearest(KdTreeCloud<M>& cloud, const FeatureVector& query, FeatureVector& pixel,
             RandomGenerator&) {
    std::uint32_t bestDistance = KdTreeCloud<M>::kNoMatch;
    std::uint32_t bestIndex = KdTreeCloud<M>::kNoMatch;
    cloud.FindNearest(query, bestDistance, bestIndex);
    if (bestIndex == KdTreeCloud<M>::kNoMatch) {
        return false;
    }
    pixel = cloud.Point(bestIndex).pixel;
    return true;
}

template <DistanceMetric M>
bool Nearest(DataCloud<M>& cloud, const FeatureVector& query, FeatureVector& pixel,
             RandomGenerator& random) {
    return cloud.FindNearest(query, pixel, random);
}

template <class Cloud>
bool LevelPass(const TextureSynthesiser& job, ImagePyramid& samplePyramid,
               ImagePyramid& outputPyramid, std::uint32_t level, std::int32_t side,
               std::uint32_t levels, RandomGenerator& random) {
    const Image* sampleLevel = samplePyramid.Level(level);
    Image* outputLevel = outputPyramid.Level(level);
    if (sampleLevel == nullptr || outputLevel == nullptr) {
        return false;
    }
    side = OddWindowSide(side);
    const std::uint32_t sampleBytes = samplePyramid.Level(0)->bytesPerPixel;
    Cloud cloud(NeighbourhoodPixelCount(side, levels) * sampleBytes, sampleBytes);
    FeatureVector features;
    for (std::uint32_t y = 0; y < sampleLevel->height; ++y) {
        for (std::uint32_t x = 0; x < sampleLevel->width; ++x) {
            features.clear();
            if (BuildNeighbourhood(samplePyramid, level, side, levels, static_cast<std::int32_t>(x),
                                   static_cast<std::int32_t>(y), features,
                                   sampleLevel->bytesPerPixel == 4, false)) {
                const std::uint8_t* source = sampleLevel->PixelAt(x, y);
                cloud.AddPoint(features, FeatureVector(source, source + sampleBytes));
            }
        }
    }
    if constexpr (requires { cloud.Build(); }) {
        cloud.Build();
    } else {
        cloud.ConfigureSubsampling(job.subsamplingMode, job.subsamplePercent, job.minimumPixelCount,
                                   job.subsampleCount);
    }
    const std::uint32_t bpp = outputLevel->bytesPerPixel;
    FeatureVector query;
    FeatureVector winner(bpp);
    for (std::uint32_t y = 0; y < outputLevel->height; ++y) {
        for (std::uint32_t x = 0; x < outputLevel->width; ++x) {
            query.clear();
            if (BuildNeighbourhood(outputPyramid, level, side, levels, static_cast<std::int32_t>(x),
                                   static_cast<std::int32_t>(y), query, bpp == 4, true) &&
                Nearest(cloud, query, winner, random)) {
                std::uint8_t* out = outputLevel->PixelAt(x, y);
                for (std::uint32_t c = 0; c < bpp; ++c) {
                    out[c] = static_cast<std::uint8_t>(winner[c] & 0xFFu);
                }
            }
        }
    }
    return true;
}

template <DistanceMetric M>
bool LevelPassOf(const TextureSynthesiser& job, ImagePyramid& samplePyramid,
                 ImagePyramid& outputPyramid, std::uint32_t level, std::int32_t side,
                 std::uint32_t levels, RandomGenerator& random) {
    return job.subsamplingMode == SubsamplingMode::Disabled
               ? LevelPass<KdTreeCloud<M>>(job, samplePyramid, outputPyramid, level, side, levels,
                                           random)
               : LevelPass<DataCloud<M>>(job, samplePyramid, outputPyramid, level, side, levels,
                                         random);
}

}  // namespace

bool TextureSynthesiser::SynthesiseLevel(ImagePyramid& samplePyramid, ImagePyramid& outputPyramid,
                                         std::uint32_t level, std::int32_t side,
                                         std::uint32_t levels, RandomGenerator& random) const {
    if (side < 0 || side > 255) {
        return false;
    }
    switch (metric) {
        case DistanceMetric::L1:
            return LevelPassOf<DistanceMetric::L1>(*this, samplePyramid, outputPyramid, level, side,
                                                   levels, random);
        case DistanceMetric::L2:
            return LevelPassOf<DistanceMetric::L2>(*this, samplePyramid, outputPyramid, level, side,
                                                   levels, random);
        case DistanceMetric::Linf:
            return LevelPassOf<DistanceMetric::Linf>(*this, samplePyramid, outputPyramid, level,
                                                     side, levels, random);
    }
    return false;
}

bool TextureSynthesiser::Synthesise(const Image& sample, std::uint32_t width,
                                    std::uint32_t height) {
    if (sample.IsEmpty() || (sample.bytesPerPixel != 3 && sample.bytesPerPixel != 4)) {
        return false;
    }
    width = width == 0 ? sample.width : width;
    height = height == 0 ? sample.height : height;
    RandomGenerator random(randomSeed);
    result = std::make_unique<Image>();
    if (!result->Allocate(width, height, sample.bytesPerPixel)) {
        return false;
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t sy = random.Next() % sample.height;
            const std::uint32_t sx = random.Next() % sample.width;
            const std::uint8_t* source = sample.PixelAt(sx, sy);
            std::copy(source, source + sample.bytesPerPixel, result->PixelAt(x, y));
        }
    }
    ImagePyramid outputPyramid(*result, 4);
    ImagePyramid samplePyramid(sample, 4);
    const bool passed =
        SynthesiseLevel(samplePyramid, outputPyramid, 3, 3, 1, random) &&
        SynthesiseLevel(samplePyramid, outputPyramid, 2, neighbourhoodSize[2], 2, random) &&
        SynthesiseLevel(samplePyramid, outputPyramid, 1, neighbourhoodSize[1], 2, random) &&
        SynthesiseLevel(samplePyramid, outputPyramid, 0, neighbourhoodSize[0], 2, random);
    if (!passed) {
        return false;
    }
    result->pixels = outputPyramid.Level(0)->pixels;
    return true;
}

}  // namespace weftloom::reference
