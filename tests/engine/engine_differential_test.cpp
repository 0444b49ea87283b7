// The product engine against the literal reference, byte for byte, over a
// table of small whole runs: every metric and subsampling mode (an invalid one
// included), window sides 1 to 9, 3- and 4-byte samples, sample sizes around
// the cloud sizes, thread counts 1 to 3, several seeds, and the instruction
// sets scalar, AVX2 and the best the machine has.
#include <gtest/gtest.h>

#include <string>

#include "engine/neighbourhood.h"
#include "engine/texture_synthesiser.h"
#include "tests/reference/reference_synthesiser.h"
#include "tests/support/simd_cap.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

struct Case {
    DistanceMetric metric;
    SubsamplingMode mode;
    std::array<std::int32_t, 3> sides;
    std::uint32_t bytesPerPixel;
    std::int32_t count;  // FixedCount's sample size
    std::uint32_t seed;
};

constexpr auto L1 = DistanceMetric::L1;
constexpr auto L2 = DistanceMetric::L2;
constexpr auto Linf = DistanceMetric::Linf;
constexpr auto Kd = SubsamplingMode::Disabled;
constexpr auto Percent = SubsamplingMode::Percentage;
constexpr auto Count = SubsamplingMode::FixedCount;
constexpr auto Invalid = static_cast<SubsamplingMode>(5);

// Level-0 clouds of the 30 x 26 sample hold between about 300 and 700
// points, level 3's a handful: counts 0, 60 and 5000 fall below, between and
// above them.
const Case kCases[] = {
    {L1, Kd, {9, 7, 5}, 3, 0, 1},       {L2, Kd, {9, 7, 5}, 3, 0, 2},
    {Linf, Kd, {9, 7, 5}, 4, 0, 3},     {L1, Percent, {8, 6, 4}, 3, 0, 1},
    {L2, Percent, {7, 5, 3}, 4, 0, 9},  {Linf, Percent, {2, 2, 2}, 3, 0, 1},
    {L1, Count, {9, 7, 5}, 4, 60, 1},   {L2, Count, {9, 7, 5}, 3, 60, 77},
    {Linf, Count, {9, 7, 5}, 3, 60, 5}, {L2, Count, {1, 1, 1}, 3, 60, 1},
    {L2, Count, {3, 3, 3}, 4, 0, 1},    {L1, Count, {5, 4, 3}, 3, 5000, 2},
    {Linf, Count, {6, 5, 4}, 4, -3, 1}, {L2, Invalid, {9, 7, 5}, 3, 60, 1},
    {L1, Invalid, {2, 1, 1}, 4, 60, 8}, {L2, Kd, {1, 1, 1}, 4, 0, 1},
    {Linf, Kd, {4, 4, 4}, 3, 0, 6},     {L2, Percent, {9, 7, 5}, 3, 0, 123},
};

std::string Describe(const Case& c) {
    return "metric " + std::to_string(static_cast<int>(c.metric)) + " mode " +
           std::to_string(static_cast<int>(c.mode)) + " sides " + std::to_string(c.sides[0]) + "/" +
           std::to_string(c.sides[1]) + "/" + std::to_string(c.sides[2]) + " bpp " +
           std::to_string(c.bytesPerPixel) + " count " + std::to_string(c.count) + " seed " +
           std::to_string(c.seed);
}

// The same parameters on either engine, whose fields have the same names.
template <class Job>
void Configure(Job& job, const Case& c) {
    job.metric = c.metric;
    job.subsamplingMode = c.mode;
    job.neighbourhoodSize = c.sides;
    job.subsampleCount = c.count;
    job.subsamplePercent = 30;
    job.minimumPixelCount = 400;
    job.randomSeed = c.seed;
}

TEST(EngineDifferential, ProductGivesTheReferenceBytes) {
    for (const Case& c : kCases) {
        const Image sample = testing::PatternImage(30, 26, c.bytesPerPixel, c.seed % 3);
        reference::TextureSynthesiser literal;
        Configure(literal, c);
        ASSERT_TRUE(literal.Synthesise(sample, 37, 29)) << Describe(c);
        for (const SimdLevel cap : testing::kDifferentialCaps) {
            const testing::ScopedSimdCap capped(cap);
            for (std::uint32_t threads : {1u, 2u, 3u}) {
                TextureSynthesiser product;
                Configure(product, c);
                product.threadCount = threads;
                ASSERT_TRUE(product.Synthesise(sample, 37, 29)) << Describe(c);
                ASSERT_EQ(product.result->pixels, literal.result->pixels)
                    << Describe(c) << " threads " << threads << ", "
                    << SimdLevelName(BestSimdLevel());
            }
        }
    }
}

// One level pass with windows beyond the user's choices, up to side 255 over
// small levels (every coordinate wraps many times), and a subsample count
// large enough to split queries across threads.
TEST(EngineDifferential, LevelPassesWithLargeWindowsAndSplitQueries) {
    struct Pass {
        std::int32_t side;
        std::uint32_t levels;
        SubsamplingMode mode;
        std::uint32_t sampleSide;
    };
    const Pass passes[] = {{11, 2, Count, 48}, {31, 2, Count, 70},   {255, 1, Count, 8},
                           {21, 2, Kd, 40},    {13, 1, Percent, 90}, {0, 2, Count, 16}};
    for (const Pass& p : passes) {
        for (std::uint32_t threads : {1u, 2u}) {
            const Image sampleImage = testing::PatternImage(p.sampleSide, p.sampleSide, 3, 1);
            const Image outputImage = testing::PatternImage(23, 19, 3, 2);
            ImagePyramid literalSample(sampleImage, 2);
            ImagePyramid literalOutput(outputImage, 2);
            reference::TextureSynthesiser literal;
            literal.subsamplingMode = p.mode;
            literal.subsampleCount = 3000;
            literal.minimumPixelCount = 0;
            RandomGenerator random(4);
            ASSERT_TRUE(
                literal.SynthesiseLevel(literalSample, literalOutput, 0, p.side, p.levels, random));

            TextureSynthesiser product;
            product.subsamplingMode = p.mode;
            product.subsampleCount = 3000;
            product.minimumPixelCount = 0;
            product.threadCount = threads;
            product.samplePyramid = std::make_unique<ImagePyramid>(sampleImage, 2);
            product.outputPyramid = std::make_unique<ImagePyramid>(outputImage, 2);
            product.random.Seed(4);
            ASSERT_TRUE(product.SynthesiseLevel(0, p.side, p.levels));
            EXPECT_EQ(product.outputPyramid->Level(0)->pixels, literalOutput.Level(0)->pixels)
                << "side " << p.side << " threads " << threads;
            EXPECT_EQ(product.random.State(), random.State()) << "side " << p.side;
        }
    }
}

}  // namespace
}  // namespace weftloom
