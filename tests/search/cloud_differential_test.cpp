// The product clouds against the literal reference clouds, query by query:
// the same winning pixel and the same generator state afterwards, over a table
// of cloud shapes, search modes, thread counts and seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "search/data_cloud.h"
#include "search/kd_tree_cloud.h"
#include "tests/reference/reference_search.h"
#include "tests/search/search_test_support.h"
#include "tests/support/simd_cap.h"

namespace weftloom {
namespace {

// A cloud shape: n points of dim elements drawn from 0..range-1 (a narrow
// range makes ties common, range 1 makes every point a duplicate); flat: each
// point and query one value repeated, whose distances are exactly what their
// sums tell (the sums' bound is tight), or a level plus a little noise, whose
// sums lie far apart, as a picture's bright and dark windows do.
enum class Rows { Drawn, Flat, Levels };
struct Shape {
    std::uint32_t n;
    std::uint32_t dim;
    std::uint32_t range;
    Rows rows = Rows::Drawn;
};

const Shape kShapes[] = {
    {0, 5, 4},        // empty
    {1, 5, 4},        // one point
    {50, 7, 1},       // all ties
    {300, 3, 3},      // many ties
    {700, 27, 8},     // one block of 64 and a bit
    {2100, 75, 256},  // several blocks, split across threads
    {3000, 4, 2},     // split across threads, full of ties
    {40, 0, 1},       // no elements at all
    {600, 20, 9, Rows::Flat},
    {1500, 70, 256, Rows::Levels},
};

FeatureVector MakeRow(testing::PointMaker& maker, const Shape& shape) {
    if (shape.rows == Rows::Drawn) {
        return maker.Vector(shape.dim, shape.range);
    }
    const std::uint32_t level = maker.Vector(1, shape.range)[0];
    if (shape.rows == Rows::Flat) {
        return FeatureVector(shape.dim, level);
    }
    FeatureVector row = maker.Vector(shape.dim, 8);
    for (std::uint32_t& v : row) {
        v = std::min(255u, v + level);
    }
    return row;
}

struct Search {
    SubsamplingMode mode;
    std::int32_t count;
    std::uint32_t percent;
    std::uint32_t minimum;
};

const Search kSearches[] = {
    {SubsamplingMode::FixedCount, 0, 0, 0},        // sample size 0
    {SubsamplingMode::FixedCount, 40, 0, 0},       // below the cloud size
    {SubsamplingMode::FixedCount, 2500, 0, 0},     // above most clouds
    {SubsamplingMode::FixedCount, -5, 0, 0},       // negative: every point, drawing
    {SubsamplingMode::Percentage, 0, 30, 100},     // applies from 100 points
    {SubsamplingMode::Disabled, 10, 10, 0},        // full scan
    {static_cast<SubsamplingMode>(9), 10, 10, 0},  // not a mode: full scan
};

template <DistanceMetric M>
void CompareDataClouds(const Shape& shape, const Search& search, std::uint32_t threads,
                       std::uint32_t seed) {
    testing::PointMaker maker(seed * 31 + shape.n);
    DataCloud<M> product(shape.dim, 2);
    reference::DataCloud<M> literal(shape.dim, 2);
    for (std::uint32_t i = 0; i < shape.n; ++i) {
        const FeatureVector features = MakeRow(maker, shape);
        const FeatureVector pixel = {i % 256, i / 256};
        ASSERT_TRUE(product.AddPoint(features, pixel));
        ASSERT_TRUE(literal.AddPoint(features, pixel));
    }
    product.ConfigureSubsampling(search.mode, search.percent, search.minimum, search.count);
    literal.ConfigureSubsampling(search.mode, search.percent, search.minimum, search.count);
    product.SetThreadCount(threads);
    RandomGenerator productRandom(seed);
    RandomGenerator literalRandom(seed);
    for (int q = 0; q < 12; ++q) {
        const FeatureVector query = MakeRow(maker, shape);
        FeatureVector productPixel = {7, 7};
        FeatureVector literalPixel = {7, 7};
        ASSERT_EQ(product.FindNearest(query, productPixel, productRandom),
                  literal.FindNearest(query, literalPixel, literalRandom));
        ASSERT_EQ(productPixel, literalPixel) << "query " << q;
        ASSERT_EQ(productRandom.State(), literalRandom.State()) << "query " << q;
    }
}

template <DistanceMetric M>
void CompareKdTrees(const Shape& shape, std::uint32_t seed) {
    testing::PointMaker maker(seed * 17 + shape.n);
    KdTreeCloud<M> product(shape.dim, 2);
    reference::KdTreeCloud<M> literal(shape.dim, 2);
    for (std::uint32_t i = 0; i < shape.n; ++i) {
        const FeatureVector features = maker.Vector(shape.dim, shape.range);
        ASSERT_TRUE(product.AddPoint(features, {i % 256, i / 256}));
        ASSERT_TRUE(literal.AddPoint(features, {i % 256, i / 256}));
    }
    product.Build();
    literal.Build();
    for (int q = 0; q < 12; ++q) {
        const FeatureVector query = maker.Vector(shape.dim, shape.range);
        std::uint32_t productBest = KdTreeCloud<M>::kNoMatch;
        std::uint32_t productIndex = KdTreeCloud<M>::kNoMatch;
        std::uint32_t literalBest = KdTreeCloud<M>::kNoMatch;
        std::uint32_t literalIndex = KdTreeCloud<M>::kNoMatch;
        product.FindNearest(0, query, productBest, productIndex, 0);
        literal.FindNearest(query, literalBest, literalIndex);
        ASSERT_EQ(productIndex, literalIndex) << "query " << q;
        ASSERT_EQ(productBest, literalBest) << "query " << q;
    }
}

template <DistanceMetric M>
void CompareShapes() {
    for (const Shape& shape : kShapes) {
        for (std::uint32_t seed : {1u, 2u, 40503u}) {
            SCOPED_TRACE(::testing::Message() << "n " << shape.n << " dim " << shape.dim
                                              << " range " << shape.range << " seed " << seed);
            CompareKdTrees<M>(shape, seed);
            for (const Search& search : kSearches) {
                for (std::uint32_t threads : {1u, 2u, 3u}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "mode " << static_cast<int>(search.mode) << " count "
                                 << search.count << " threads " << threads);
                    CompareDataClouds<M>(shape, search, threads, seed);
                }
            }
        }
    }
}

// Every shape under each instruction set the kernels may be capped to.
template <DistanceMetric M>
void CompareAll() {
    for (const SimdLevel cap : testing::kDifferentialCaps) {
        const testing::ScopedSimdCap capped(cap);
        SCOPED_TRACE(::testing::Message() << "instruction set " << SimdLevelName(BestSimdLevel()));
        CompareShapes<M>();
    }
}

TEST(CloudDifferential, L1MatchesTheReference) {
    CompareAll<DistanceMetric::L1>();
}

TEST(CloudDifferential, L2MatchesTheReference) {
    CompareAll<DistanceMetric::L2>();
}

TEST(CloudDifferential, LinfMatchesTheReference) {
    CompareAll<DistanceMetric::Linf>();
}

// Rows long enough for an L2 sum to wrap keep the literal element-by-element
// order; a few points and queries of 255s and 0s make the wrap happen.
TEST(CloudDifferential, WrappingL2SumsKeepTheLiteralDecisions) {
    const std::uint32_t dim = 66100;
    DataCloud<DistanceMetric::L2> product(dim, 1);
    reference::DataCloud<DistanceMetric::L2> literal(dim, 1);
    for (std::uint32_t i = 0; i < 6; ++i) {
        FeatureVector features(dim, i % 2 == 0 ? 255u : 0u);
        for (std::uint32_t k = 0; k < i * 10; ++k) {
            features[k] = 128;
        }
        product.AddPoint(features, {i});
        literal.AddPoint(features, {i});
    }
    product.SetThreadCount(2);
    RandomGenerator a(3);
    RandomGenerator b(3);
    for (std::uint32_t value : {0u, 255u, 128u}) {
        const FeatureVector query(dim, value);
        FeatureVector productPixel;
        FeatureVector literalPixel;
        ASSERT_TRUE(product.FindNearest(query, productPixel, a));
        ASSERT_TRUE(literal.FindNearest(query, literalPixel, b));
        EXPECT_EQ(productPixel, literalPixel) << value;
    }
}

}  // namespace
}  // namespace weftloom
