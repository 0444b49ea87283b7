#include "search/data_cloud.h"

#include <gtest/gtest.h>

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
    // One padded row per point, aligned, padding zero.
    EXPECT_EQ(cloud.RowStride(), 128u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(cloud.Features(0)) % 64, 0u);
    EXPECT_EQ(cloud.Features(0)[69], 255);
    EXPECT_EQ(cloud.Features(0)[70], 0);
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

TEST(DataCloudSubsampling, PercentageAppliesFromTheMinimumCountOn) {
    L2Cloud fresh(1, 1);
    EXPECT_FALSE(fresh.Subsample());
    EXPECT_EQ(fresh.SampleSize(), 2500);

    L2Cloud small = CloudOfSize(2499);
    small.ConfigureSubsampling(SubsamplingMode::Percentage, 10, 2500, 777);
    EXPECT_FALSE(small.Subsample());
    EXPECT_EQ(small.SampleSize(), 2500) << "an unused percentage leaves the size alone";

    L2Cloud exact = CloudOfSize(2500);
    exact.ConfigureSubsampling(SubsamplingMode::Percentage, 10, 2500, 777);
    EXPECT_TRUE(exact.Subsample());
    EXPECT_EQ(exact.SampleSize(), 250);

    L2Cloud rounded = CloudOfSize(2509);
    rounded.ConfigureSubsampling(SubsamplingMode::Percentage, 10, 2500, 777);
    EXPECT_EQ(rounded.SampleSize(), 250);

    L2Cloud level0 = CloudOfSize(2704);
    level0.ConfigureSubsampling(SubsamplingMode::Percentage, 10, 2500, 777);
    EXPECT_EQ(level0.SampleSize(), 270);

    L2Cloud all = CloudOfSize(300);
    all.ConfigureSubsampling(SubsamplingMode::Percentage, 100, 0, 777);
    EXPECT_EQ(all.SampleSize(), 300);
}

TEST(DataCloudSubsampling, FixedCountAlwaysAppliesAndOtherModesNever) {
    L2Cloud cloud = CloudOfSize(100);
    cloud.ConfigureSubsampling(SubsamplingMode::FixedCount, 10, 2500, 2500);
    EXPECT_TRUE(cloud.Subsample());
    EXPECT_EQ(cloud.SampleSize(), 2500);

    cloud.ConfigureSubsampling(SubsamplingMode::Disabled, 10, 0, 5);
    EXPECT_FALSE(cloud.Subsample());
    EXPECT_EQ(cloud.SampleSize(), 2500);
    cloud.ConfigureSubsampling(static_cast<SubsamplingMode>(7), 10, 0, 5);
    EXPECT_FALSE(cloud.Subsample());
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

TEST(DataCloudFindNearest, SubsampledScanExaminesPointsWhoseDrawIsBelowTheThreshold) {
    // Even points sit on the query, odd ones tie with point 0 and never replace
    // it: the answer is the first even point whose draw let it be examined.
    const std::uint32_t n = 400;
    DataCloud<DistanceMetric::L1> cloud(1, 1);
    cloud.AddPoint({255}, {0});
    for (std::uint32_t j = 1; j < n; ++j) {
        cloud.AddPoint({j % 2 == 0 ? 10u : 255u}, {j % 256});
    }
    cloud.ConfigureSubsampling(SubsamplingMode::FixedCount, 0, 0, 40);
    const auto threshold = static_cast<std::uint32_t>(L2Cloud::SubsampleThreshold(40, n));

    RandomGenerator random(99);
    RandomGenerator replay(99);
    FeatureVector pixel;
    ASSERT_TRUE(cloud.FindNearest({10}, pixel, random));
    std::uint32_t expected = 0;
    for (std::uint32_t j = 1; j < n; ++j) {
        if (replay.Next() < threshold && j % 2 == 0) {
            expected = j;
            break;
        }
    }
    EXPECT_EQ(pixel, (FeatureVector{expected % 256}));
    EXPECT_NE(expected, 0u);
}

}  // namespace
}  // namespace weftloom
