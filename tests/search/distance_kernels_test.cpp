#include "search/distance_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "search/group_sums.h"
#include "search/simd_level.h"
#include "tests/search/search_test_support.h"
#include "tests/support/simd_cap.h"

namespace weftloom {
namespace {

using Bytes = std::vector<std::uint8_t>;

const DistanceMetric kMetrics[] = {DistanceMetric::L1, DistanceMetric::L2, DistanceMetric::Linf};

std::uint32_t Full(DistanceMetric m, const Bytes& a, const Bytes& b) {
    return LiteralFullDistance(m, a.data(), b.data(), a.size());
}

// The searches use the best set the processor has, up to the cap; the cap
// is named as the environment variable takes it.
TEST(SimdCap, CapsTheLevelTheSearchesUseAndNamesRoundTrip) {
    const SimdLevel supported = SupportedSimdLevel();
    for (const SimdLevel cap : testing::kDifferentialCaps) {
        const testing::ScopedSimdCap capped(cap);
        EXPECT_EQ(BestSimdLevel(), std::min(cap, supported)) << SimdLevelName(cap);
        EXPECT_TRUE(SimdLevelSupported(BestSimdLevel()));
        EXPECT_EQ(ParseSimdLevel(SimdLevelName(cap)), cap);
    }
    EXPECT_EQ(BestSimdLevel(), std::min(SimdCap(), supported)) << "the cap is restored";
    for (const char* name : {"", "AVX2", "sse4", "avx"}) {
        EXPECT_FALSE(ParseSimdLevel(name).has_value()) << name;
    }
}

TEST(LiteralFullDistance, WorkedExamplesOfTheThreeMetrics) {
    const Bytes q = {10, 10};
    EXPECT_EQ(Full(DistanceMetric::L1, q, {12, 10}), 2u);
    EXPECT_EQ(Full(DistanceMetric::L1, q, {13, 11}), 4u);
    EXPECT_EQ(Full(DistanceMetric::L2, q, {13, 11}), 10u);
    EXPECT_EQ(Full(DistanceMetric::L2, q, {12, 12}), 8u);
    EXPECT_EQ(Full(DistanceMetric::Linf, q, {13, 11}), 3u);
    EXPECT_EQ(Full(DistanceMetric::Linf, q, {12, 12}), 2u);
    // Differences are unsigned, larger minus smaller, in either order.
    EXPECT_EQ(Full(DistanceMetric::L1, {0, 255}, {255, 0}), 510u);
    EXPECT_EQ(Full(DistanceMetric::L2, Bytes(356, 0), Bytes(356, 255)), 23148900u);
    // Past 66,051 elements of 255 the L2 sum wraps round 2^32.
    EXPECT_TRUE(SumMayWrap(DistanceMetric::L2, 66052));
    EXPECT_FALSE(SumMayWrap(DistanceMetric::L2, 66051));
    EXPECT_EQ(Full(DistanceMetric::L2, Bytes(66052, 0), Bytes(66052, 255)), 66052u * 65025u);
}

TEST(LiteralKernel, RejectsAtTheBoundEvenWhenTheSumWrapsBelowItLater) {
    // The wrapped sum drops below the bound again, but the first element at
    // the bound has rejected the row already.
    const std::size_t n = 66052;
    const Bytes zeros(n, 0);
    const Bytes full(n, 255);
    const DistanceKernel literal = LiteralKernel(DistanceMetric::L2);
    const std::uint32_t wrapped = Full(DistanceMetric::L2, zeros, full);
    EXPECT_GE(literal(zeros.data(), full.data(), n, wrapped + 1), wrapped + 1);
    EXPECT_EQ(literal(zeros.data(), full.data(), n, 0xFFFFFFFFu), wrapped)
        << "the running sum never reached the top";
}

using BlockKernels = testing::PerSimdLevel;
using StageKernels = testing::PerSimdLevel;
using GroupFilters = testing::PerSimdLevel;
INSTANTIATE_TEST_SUITE_P(Level, BlockKernels, ::testing::ValuesIn(testing::kSimdLevels),
                         testing::SimdLevelName);
INSTANTIATE_TEST_SUITE_P(Level, StageKernels, ::testing::ValuesIn(testing::kSimdLevels),
                         testing::SimdLevelName);
INSTANTIATE_TEST_SUITE_P(Level, GroupFilters, ::testing::ValuesIn(testing::kSimdLevels),
                         testing::SimdLevelName);

// Every block kernel against the literal one: the same decision at the
// exact distance, just above it and at 0, and the same distance when accepted.
TEST_P(BlockKernels, DecideAsTheLiteralKernel) {
    testing::PointMaker maker(7);
    for (DistanceMetric metric : kMetrics) {
        const DistanceKernel kernel = BlockKernel(metric, GetParam());
        for (std::size_t n : {0u, 1u, 31u, 33u, 63u, 64u, 65u, 100u, 267u, 356u}) {
            SCOPED_TRACE(::testing::Message()
                         << "metric " << static_cast<int>(metric) << " n " << n);
            for (std::uint32_t range : {2u, 256u}) {
                Bytes a(n);
                Bytes b(n);
                for (std::size_t i = 0; i < n; ++i) {
                    a[i] = static_cast<std::uint8_t>(maker.Next(range));
                    b[i] = static_cast<std::uint8_t>(maker.Next(range));
                }
                const std::uint32_t d = Full(metric, a, b);
                EXPECT_EQ(kernel(a.data(), b.data(), n, 0xFFFFFFFFu), d);
                EXPECT_EQ(kernel(a.data(), b.data(), n, d + 1), d);
                EXPECT_GE(kernel(a.data(), b.data(), n, d), d) << "at the bound: rejected";
                if (d > 0) {
                    EXPECT_GE(kernel(a.data(), b.data(), n, d - 1), d - 1);
                    EXPECT_GE(kernel(a.data(), b.data(), n, 1), 1u);
                }
                EXPECT_EQ(kernel(a.data(), a.data(), n, 1), 0u);
            }
        }
    }
}

// A stage keeps exactly the candidates whose partial distance is below the
// bound, in order, with their partials; after the last stage, the whole
// distance.
TEST_P(StageKernels, KeepTheCandidatesBelowTheBoundWithTheirDistances) {
    testing::PointMaker maker(8);
    const std::size_t stride = 192;
    const std::uint32_t rowsCount = 40;
    Bytes rows(stride * rowsCount, 0);
    Bytes query(stride, 0);
    for (std::size_t i = 0; i < 150; ++i) {  // zero padding from 150 on
        query[i] = static_cast<std::uint8_t>(maker.Next(256));
        for (std::uint32_t r = 0; r < rowsCount; ++r) {
            // Rows 0..9 repeat the query: distance 0, ties everywhere.
            rows[r * stride + i] =
                r < 10 ? query[i] : static_cast<std::uint8_t>(maker.Next(r < 25 ? 256 : 4));
        }
    }
    for (DistanceMetric metric : kMetrics) {
        const StageKernel stage = StageKernelFor(metric, GetParam());
        std::vector<std::uint32_t> whole(rowsCount);
        for (std::uint32_t r = 0; r < rowsCount; ++r) {
            whole[r] = LiteralFullDistance(metric, query.data(), &rows[r * stride], stride);
        }
        for (std::uint32_t bound : {0u, 1u, whole[30], whole[30] + 1, whole[12], 0xFFFFFFFFu}) {
            SCOPED_TRACE(::testing::Message()
                         << "metric " << static_cast<int>(metric) << " bound " << bound);
            // Candidates out of order and repeated, 37 of them (not a multiple of 16).
            std::vector<std::uint32_t> candidates;
            for (std::uint32_t k = 0; k < 37; ++k) {
                candidates.push_back((k * 7) % rowsCount);
            }
            std::vector<std::uint32_t> expected;
            for (std::uint32_t c : candidates) {
                if (whole[c] < bound) {
                    expected.push_back(c);
                }
            }
            std::vector<std::uint32_t> partials(candidates.size(), 0);
            auto left = static_cast<std::uint32_t>(candidates.size());
            for (std::size_t offset = 0; offset < stride; offset += 64) {
                left = stage(query.data(), rows.data(), stride, offset, candidates.data(),
                             partials.data(), left, bound);
            }
            candidates.resize(left);
            EXPECT_EQ(candidates, expected);
            for (std::uint32_t k = 0; k < left; ++k) {
                EXPECT_EQ(partials[k], whole[candidates[k]]);
            }
        }
    }
}

// The group-sum filter is a lower bound: it never rules out a row closer
// (L2) than the bound it is given, whatever the row length (the last groups
// short or empty) and however far apart the rows; and it keeps, in order,
// exactly the rows whose group distance is below its limit, for any count
// (the last few past a multiple of eight included).
TEST_P(GroupFilters, NeverRuleOutARowWithinTheBoundAndKeepTheOrder) {
    testing::PointMaker maker(9);
    const GroupFilter filter = GroupFilterFor(GetParam());
    for (std::uint32_t n : {1u, 15u, 17u, 64u, 267u, 1024u}) {
        const std::uint32_t width = SumGroupWidth(n);
        ASSERT_NE(width, 0u) << n;
        const std::uint32_t rowsCount = 29;
        std::vector<Bytes> rows(rowsCount, Bytes(n));
        Bytes query(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            query[i] = static_cast<std::uint8_t>(maker.Next(256));
            for (std::uint32_t r = 0; r < rowsCount; ++r) {
                // Near copies, random rows, and the farthest rows there are.
                rows[r][i] = r < 10   ? static_cast<std::uint8_t>(std::min(255u, query[i] + r % 3))
                             : r < 20 ? static_cast<std::uint8_t>(maker.Next(256))
                                      : static_cast<std::uint8_t>(query[i] < 128 ? 255 : 0);
            }
        }
        std::vector<std::uint16_t> sums(std::size_t{rowsCount} * kSumGroups);
        std::array<std::uint16_t, kSumGroups> querySums{};
        GroupSumsOf(query.data(), n, querySums.data());
        std::vector<std::uint32_t> whole(rowsCount);
        for (std::uint32_t r = 0; r < rowsCount; ++r) {
            GroupSumsOf(rows[r].data(), n, &sums[std::size_t{r} * kSumGroups]);
            whole[r] = Full(DistanceMetric::L2, query, rows[r]);
        }
        for (std::uint32_t r = 0; r < rowsCount; ++r) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " row " << r);
            // Bounded by the row's own distance plus one, the row stays.
            std::vector<std::uint32_t> one{r};
            const std::uint64_t limit = (std::uint64_t{whole[r]} + 1) * width;
            EXPECT_EQ(
                filter(sums.data(), querySums.data(),
                       static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, 0xFFFFFFFFu)),
                       one.data(), 1),
                1u);
        }
        for (std::uint32_t count : {0u, 1u, 7u, 8u, 13u, 29u}) {
            for (std::uint32_t limit : {0u, 1u, whole[12] * width, 0xFFFFFFFFu}) {
                SCOPED_TRACE(::testing::Message()
                             << "n " << n << " count " << count << " limit " << limit);
                std::vector<std::uint32_t> candidates;
                std::vector<std::uint32_t> expected;
                for (std::uint32_t k = 0; k < count; ++k) {
                    const std::uint32_t r = (k * 11) % rowsCount;
                    candidates.push_back(r);
                    std::uint32_t distance = 0;
                    for (std::uint32_t g = 0; g < kSumGroups; ++g) {
                        const int d = sums[std::size_t{r} * kSumGroups + g] - querySums[g];
                        distance += static_cast<std::uint32_t>(d * d);
                    }
                    if (distance < limit) {
                        expected.push_back(r);
                    }
                }
                // What follows the candidates is not the filter's to touch.
                candidates.push_back(12345);
                const std::uint32_t kept =
                    filter(sums.data(), querySums.data(), limit, candidates.data(), count);
                EXPECT_EQ(candidates[count], 12345u);
                candidates.resize(kept);
                EXPECT_EQ(candidates, expected);
            }
        }
    }
    EXPECT_EQ(SumGroupWidth(1025), 0u) << "rows too long for 32 bits";
}

}  // namespace
}  // namespace weftloom
