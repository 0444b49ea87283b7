#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/image.h"
#include "engine/image_pyramid.h"
#include "search/data_cloud.h"
#include "search/distance_metric.h"
#include "search/random_generator.h"

namespace weftloom::reference {

// The literal synthesis run: the oracle for the product's TextureSynthesiser.
// Same settings, same meaning, no progress reports, no abort, one thread.
// Reuses the product's Image, ImagePyramid, BuildNeighbourhood and
// RandomGenerator, which the fast engine does not rewrite.
struct TextureSynthesiser {
    std::array<std::int32_t, 3> neighbourhoodSize = {9, 7, 5};
    SubsamplingMode subsamplingMode = SubsamplingMode::FixedCount;
    std::int32_t subsampleCount = 2500;
    std::uint32_t subsamplePercent = 10;
    std::uint32_t minimumPixelCount = 2500;
    DistanceMetric metric = DistanceMetric::L2;
    std::uint32_t randomSeed = RandomGenerator::kDefaultSeed;
    std::unique_ptr<Image> result;

    // False for an unusable sample, an invalid metric or window side.
    bool Synthesise(const Image& sample, std::uint32_t width, std::uint32_t height);

    // One level pass, as the product's SynthesiseLevel.
    bool SynthesiseLevel(ImagePyramid& samplePyramid, ImagePyramid& outputPyramid,
                         std::uint32_t level, std::int32_t side, std::uint32_t levels,
                         RandomGenerator& random) const;
};

}  // namespace weftloom::reference
