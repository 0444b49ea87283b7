#include "search/data_cloud.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace weftloom {
namespace {

using L2Cloud = DataCloud<DistanceMetric::L2>;

TEST(DataCloudAddPoint, RefusesVectorsOfTheWrongLength) {
    DataCloud<DistanceMetric::L1> cloud(3, 4);
    EXPECT_TRUE(cloud.AddPoint({1, 2, 3}, {4, 5, 6, 7}));
    EXPECT_FALSE(cloud.AddPoint({1, 2}, {4, 5, 6, 7}));
    EXPECT_FALSE(cloud.AddPoint({1, 2, 3}, {4, 5, 6}));
    EXPECT_FALSE(cloud.AddPoint({1, 2, 3, 4}, {4, 5, 6, 7}));
    EXPECT_EQ(cloud.PointCount(), 1u);
}

TEST(DataCloudAddPoint, StoresBytesAndRefusesLargerElements) {
    DataCloud<DistanceMetric::L1> cloud(70, 3);
    FeatureVector features(70, 255);
    EXPECT_TRUE(cloud.AddPoint(features, {0, 128, 255}));
    features[69] = 256;
    EXPECT_FALSE(cloud.AddPoint(features, {0, 0, 0}));
    features[69] = 0;
    EXPECT_FALSE(cloud.AddPoint(features, {0, 0, 300}));
    EXPECT_EQ(cloud.PointCount(), 1u);
    EXPECT_EQ(cloud.Features(0)[69], 255);
    // A query with a larger element finds nothing, as it could match nothing.
    RandomGenerator random;
    FeatureVector pixel = {9};
    FeatureVector query(70, 0);
    query[3] = 1000;
    EXPECT_FALSE(cloud.FindNearest(query, pixel, random));
    EXPECT_EQ(pixel, (FeatureVector{9}));
}

L2Cloud CloudOfSize(std::uint32_t n) {
    L2Cloud cloud(1, 1);
    for (std::uint32_t i = 0; i < n; ++i) {
        cloud.AddPoint({i % 256}, {i % 256});
    }
    return cloud;
}

// A percentage applies from the minimum point count on, rounding down; a fixed
// count always applies; no other mode subsamples or changes the size (2500
// until one does).
TEST(DataCloudSubsampling, WhenEachModeAppliesAndTheSizeItGives) {
    struct Case {
        std::uint32_t points;
        SubsamplingMode mode;
        std::uint32_t percent, minimum;
        std::int32_t count;
        bool applies;
        std::int32_t size;
    };
    const auto percentage = SubsamplingMode::Percentage;
    const Case cases[] = {
        {2499, percentage, 10, 2500, 777, false, 2500},
        {2500, percentage, 10, 2500, 777, true, 250},
        {2509, percentage, 10, 2500, 777, true, 250},
        {2704, percentage, 10, 2500, 777, true, 270},
        {300, percentage, 100, 0, 777, true, 300},
        {100, SubsamplingMode::FixedCount, 10, 2500, 2600, true, 2600},
        {100, SubsamplingMode::Disabled, 10, 0, 5, false, 2500},
        {100, static_cast<SubsamplingMode>(7), 10, 0, 5, false, 2500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.points << " points, mode " << static_cast<int>(c.mode));
        L2Cloud cloud = CloudOfSize(c.points);
        cloud.ConfigureSubsampling(c.mode, c.percent, c.minimum, c.count);
        EXPECT_EQ(cloud.Subsample(), c.applies);
        EXPECT_EQ(cloud.SampleSize(), c.size);
    }
}

TEST(DataCloudSubsampling, ThresholdFromTheSingleRatio) {
    EXPECT_EQ(L2Cloud::SubsampleThreshold(250, 2500), 3276);
    EXPECT_EQ(L2Cloud::SubsampleThreshold(2500, 59536), 1375);
    EXPECT_EQ(L2Cloud::SubsampleThreshold(5000, 10000), 16384);
    EXPECT_EQ(L2Cloud::SubsampleThreshold(0, 10000), 0);
    EXPECT_LT(L2Cloud::SubsampleThreshold(-1, 10000), 0);
    EXPECT_LT(L2Cloud::SubsampleThreshold(-2147483647 - 1, 1), 0);
}

TEST(DataCloudFindNearest, EmptyCloudOrWrongQueryLengthFindsNothing) {
    L2Cloud cloud(2, 1);
    RandomGenerator random;
    FeatureVector pixel = {42};
    EXPECT_FALSE(cloud.FindNearest({1, 2}, pixel, random));
    cloud.AddPoint({1, 2}, {7});
    EXPECT_FALSE(cloud.FindNearest({1, 2, 3}, pixel, random));
    EXPECT_EQ(pixel, (FeatureVector{42}));
    EXPECT_TRUE(cloud.FindNearest({1, 2}, pixel, random));
    EXPECT_EQ(pixel, (FeatureVector{7}));
}

}  // namespace
// Hints only prune: whatever points they name (the winner, its neighbours,
// the same point twice, point 0, none, past the end), every query finds the
// point it finds without them and leaves the generator where it would.
TEST(DataCloudFindNearest, HintsNeverChangeTheAnswer) {
    std::mt19937 random(7);
    L2Cloud cloud(150, 3);
    FeatureVector point(150);
    for (std::uint32_t i = 0; i < 600; ++i) {
        for (auto& b : point) {
            b = random() % 256;
        }
        cloud.AddPoint(point, {i % 256, 0, 0});
    }
    for (const std::int32_t count : {0, 300}) {
        cloud.ConfigureSubsampling(
            count == 0 ? SubsamplingMode::Disabled : SubsamplingMode::FixedCount, 10, 2500, count);
        for (std::uint32_t q = 0; q < 20; ++q) {
            // Queries near point q * 25, so that the winner is a point worth hinting.
            ByteRows query = cloud.QueryRow(cloud.FeatureValues(q * 25));
            query[q % 150] = static_cast<std::uint8_t>(query[q % 150] ^ 0x40);
            RandomGenerator plain(q + 1);
            const std::uint32_t expected = cloud.FindNearestIndex(query.data(), plain);
            const std::uint32_t hints[][2] = {{expected, expected + 1},
                                              {expected + 1, expected},
                                              {expected, expected},
                                              {0, L2Cloud::kNoMatch},
                                              {600, 100000},
                                              {q * 25 + 1, q * 25}};
            for (const auto& h : hints) {
                RandomGenerator hinted(q + 1);
                EXPECT_EQ(cloud.FindNearestIndex(query.data(), hinted, h[0], h[1]), expected)
                    << "count " << count << ", query " << q << ", hints " << h[0] << " " << h[1];
                EXPECT_EQ(hinted.State(), plain.State());
            }
        }
    }
}

}  // namespace weftloom
