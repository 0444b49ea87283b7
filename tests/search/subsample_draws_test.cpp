#include "search/subsample_draws.h"

#include <gtest/gtest.h>

#include <vector>

#include "search/random_generator.h"
#include "tests/search/search_test_support.h"

namespace weftloom {
namespace {

TEST(RandomGeneratorJump, SkipEqualsThatManyDraws) {
    for (std::uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
        RandomGenerator oneByOne(seed);
        for (std::uint64_t steps = 0; steps < 300; ++steps) {
            RandomGenerator jumped(seed);
            jumped.Skip(steps);
            ASSERT_EQ(jumped.State(), oneByOne.State()) << "seed " << seed << " steps " << steps;
            oneByOne.Next();
        }
    }
    RandomGenerator far(1);
    far.Skip(1u << 20);
    RandomGenerator walked(1);
    for (std::uint32_t k = 0; k < (1u << 20); ++k) {
        walked.Next();
    }
    EXPECT_EQ(far.State(), walked.State());
    // The state has period 2^32: a full turn comes back.
    EXPECT_EQ(RandomGenerator::Advance(77, std::uint64_t{1} << 32), 77u);
}

using DrawKernels = testing::PerSimdLevel;
INSTANTIATE_TEST_SUITE_P(Level, DrawKernels, ::testing::ValuesIn(testing::kSimdLevels),
                         testing::SimdLevelName);

// Each kernel picks the same indices as the one-at-a-time generator and
// leaves the same state, for counts around its lane widths.
TEST_P(DrawKernels, SameSelectionAndStateAsOneDrawAtATime) {
    const DrawKernel draw = DrawKernelFor(GetParam());
    for (std::uint32_t count : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 31u, 32u, 33u, 100u, 1024u}) {
        for (std::uint32_t threshold : {0u, 1u, 1375u, 16384u, 32767u, 32768u}) {
            for (std::uint32_t seed : {1u, 99u, 0xDEADBEEFu}) {
                RandomGenerator random(seed);
                std::vector<std::uint32_t> expected;
                for (std::uint32_t k = 0; k < count; ++k) {
                    if (random.Next() < threshold) {
                        expected.push_back(5 + k);
                    }
                }
                std::vector<std::uint32_t> out(count + 16, 0xAAAAAAAAu);
                std::uint32_t state = seed;
                const std::uint32_t found = draw(state, 5, count, threshold, out.data());
                out.resize(found);
                ASSERT_EQ(out, expected) << "count " << count << " threshold " << threshold;
                ASSERT_EQ(state, random.State());
            }
        }
    }
}

}  // namespace
}  // namespace weftloom
