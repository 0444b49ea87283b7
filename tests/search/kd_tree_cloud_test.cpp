#include "search/kd_tree_cloud.h"

#include <gtest/gtest.h>

#include "tests/search/search_test_support.h"

namespace weftloom {
namespace {

template <DistanceMetric M = DistanceMetric::L2>
KdTreeCloud<M> BuiltCloud(const std::vector<FeatureVector>& features) {
    KdTreeCloud<M> cloud(static_cast<std::uint32_t>(features.front().size()), 1);
    for (std::uint32_t i = 0; i < features.size(); ++i) {
        EXPECT_TRUE(cloud.AddPoint(features[i], {i % 256}));
    }
    cloud.Build();
    return cloud;
}

template <DistanceMetric M>
std::uint32_t Nearest(const KdTreeCloud<M>& cloud, const FeatureVector& query,
                      std::uint32_t* distance = nullptr) {
    std::uint32_t best = 0xFFFFFFFFu;
    std::uint32_t index = 0xFFFFFFFFu;
    cloud.FindNearest(0, query, best, index, 0);
    if (distance != nullptr) {
        *distance = best;
    }
    return index;
}

// An empty cloud, or a build stopped by its flag, gives no tree and finds
// nothing; an unset flag stops nothing; no point is added after the build.
TEST(KdTreeBuild, AnEmptyOrAbortedBuildFindsNothing) {
    KdTreeCloud<DistanceMetric::L2> empty(2, 3);
    empty.Build();
    EXPECT_FALSE(empty.AddPoint({1, 2}, {1, 2, 3}));
    KdTreeCloud<DistanceMetric::L2> aborted(2, 1);
    KdTreeCloud<DistanceMetric::L2> watched(2, 1);
    for (std::uint32_t i = 0; i < 50; ++i) {
        aborted.AddPoint({i, 50 - i}, {i});
        watched.AddPoint({i, 50 - i}, {i});
    }
    const std::atomic<bool> abort{true};
    const std::atomic<bool> go{false};
    EXPECT_FALSE(aborted.Build(&abort));
    EXPECT_TRUE(watched.Build(&go));
    EXPECT_EQ(Nearest(watched, {3, 47}), 3u);
    for (const auto* cloud : {&empty, &aborted}) {
        EXPECT_TRUE(cloud->Nodes().empty());
        std::uint32_t distance = 0;
        EXPECT_EQ(Nearest(*cloud, {3, 47}, &distance), 0xFFFFFFFFu);
        EXPECT_EQ(distance, 0xFFFFFFFFu);
    }
}

TEST(KdTreeFindNearest, QueryOfTheWrongLengthFindsNothing) {
    auto cloud = BuiltCloud({{1, 2}, {3, 4}});
    EXPECT_EQ(Nearest(cloud, {1}), 0xFFFFFFFFu);
    EXPECT_EQ(Nearest(cloud, {1, 2, 3}), 0xFFFFFFFFu);
}

// Independent of the literal tree the differential test compares with: the
// L2 descent prunes exactly, so it finds a point at the smallest distance, and
// says that point's distance.
TEST(KdTreeFindNearest, L2DescentFindsTheSmallestDistance) {
    testing::PointMaker maker(21);
    for (std::uint32_t n : {1u, 2u, 5u, 40u, 500u}) {
        for (std::uint32_t dim : {1u, 3u, 8u, 27u}) {
            std::vector<FeatureVector> points;
            for (std::uint32_t i = 0; i < n; ++i) {
                points.push_back(maker.Vector(dim, n > 100 ? 256 : 8));
            }
            auto cloud = BuiltCloud(points);
            for (int q = 0; q < 25; ++q) {
                const FeatureVector query = maker.Vector(dim, n > 100 ? 256 : 8);
                std::uint32_t d = 0;
                const std::uint32_t found = Nearest(cloud, query, &d);
                ASSERT_LT(found, n);
                EXPECT_EQ(d, reference::Distance<DistanceMetric::L2>::Full(
                                 query.data(), points[found].data(), dim));
                ASSERT_EQ(d, testing::BruteForceNearest<DistanceMetric::L2>(points, query).first)
                    << "n " << n << " dim " << dim << " q " << q;
            }
        }
    }
}

}  // namespace
}  // namespace weftloom
