#include "search/distance_metric.h"

#include <gtest/gtest.h>

#include <vector>

namespace weftloom {
namespace {

using Vec = std::vector<std::uint32_t>;

template <DistanceMetric M>
std::uint32_t FullOf(const Vec& a, const Vec& b) {
    return Distance<M>::Full(a.data(), b.data(), a.size());
}

TEST(DistanceMetric, WorkedExamplesOfTheThreeMetrics) {
    const Vec q = {10, 10};
    EXPECT_EQ(FullOf<DistanceMetric::L1>(q, {12, 10}), 2u);
    EXPECT_EQ(FullOf<DistanceMetric::L1>(q, {10, 13}), 3u);
    EXPECT_EQ(FullOf<DistanceMetric::L2>(q, {12, 10}), 4u);
    EXPECT_EQ(FullOf<DistanceMetric::L2>(q, {10, 13}), 9u);
    EXPECT_EQ(FullOf<DistanceMetric::Linf>(q, {12, 10}), 2u);
    EXPECT_EQ(FullOf<DistanceMetric::Linf>(q, {10, 13}), 3u);

    EXPECT_EQ(FullOf<DistanceMetric::L1>(q, {13, 11}), 4u);
    EXPECT_EQ(FullOf<DistanceMetric::L1>(q, {12, 12}), 4u);
    EXPECT_EQ(FullOf<DistanceMetric::L2>(q, {13, 11}), 10u);
    EXPECT_EQ(FullOf<DistanceMetric::L2>(q, {12, 12}), 8u);
    EXPECT_EQ(FullOf<DistanceMetric::Linf>(q, {13, 11}), 3u);
    EXPECT_EQ(FullOf<DistanceMetric::Linf>(q, {12, 12}), 2u);
}

TEST(DistanceMetric, DifferencesAreUnsignedLargerMinusSmaller) {
    // Either argument order gives the same distance; nothing goes negative.
    EXPECT_EQ(FullOf<DistanceMetric::L1>({0, 255}, {255, 0}), 510u);
    EXPECT_EQ(FullOf<DistanceMetric::L2>({0, 255}, {255, 0}), 2u * 255u * 255u);
    EXPECT_EQ(FullOf<DistanceMetric::Linf>({3, 250}, {250, 3}), 247u);
    // The largest L2 distance of a 356-element byte vector.
    EXPECT_EQ(FullOf<DistanceMetric::L2>(Vec(356, 0), Vec(356, 255)), 23148900u);
}

TEST(DistanceMetricBounded, AcceptsOnlyDistancesBelowTheBound) {
    const Vec a = {1, 2, 3};
    const Vec b = {2, 4, 6};  // L1 6, L2 14, Linf 3
    std::uint32_t d = 12345;
    EXPECT_TRUE(Distance<DistanceMetric::L1>::Bounded(a.data(), b.data(), 3, 7, d));
    EXPECT_EQ(d, 6u);
    d = 12345;
    EXPECT_FALSE(Distance<DistanceMetric::L1>::Bounded(a.data(), b.data(), 3, 6, d));
    EXPECT_EQ(d, 12345u) << "a rejected candidate leaves the distance alone";
    EXPECT_TRUE(Distance<DistanceMetric::L2>::Bounded(a.data(), b.data(), 3, 15, d));
    EXPECT_EQ(d, 14u);
    EXPECT_FALSE(Distance<DistanceMetric::L2>::Bounded(a.data(), b.data(), 3, 14, d));
    EXPECT_TRUE(Distance<DistanceMetric::Linf>::Bounded(a.data(), b.data(), 3, 4, d));
    EXPECT_EQ(d, 3u);
    EXPECT_FALSE(Distance<DistanceMetric::Linf>::Bounded(a.data(), b.data(), 3, 3, d));
}

TEST(DistanceMetricBounded, AnExactDuplicateNeverBeatsABestOfZero) {
    const Vec a = {7, 7, 7};
    std::uint32_t d = 99;
    EXPECT_FALSE(Distance<DistanceMetric::L1>::Bounded(a.data(), a.data(), 3, 0, d));
    EXPECT_FALSE(Distance<DistanceMetric::L2>::Bounded(a.data(), a.data(), 3, 0, d));
    EXPECT_FALSE(Distance<DistanceMetric::Linf>::Bounded(a.data(), a.data(), 3, 0, d));
    EXPECT_EQ(d, 99u);
    // With room above zero, the duplicate wins at distance 0.
    EXPECT_TRUE(Distance<DistanceMetric::Linf>::Bounded(a.data(), a.data(), 3, 1, d));
    EXPECT_EQ(d, 0u);
}

}  // namespace
}  // namespace weftloom
