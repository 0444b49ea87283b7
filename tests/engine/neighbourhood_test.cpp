#include "engine/neighbourhood.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/support/test_images.h"

namespace weftloom {
namespace {

// A pyramid whose pixels name their own position: channel 0 holds x, channel 1
// y and channel 2 the level, so a vector spells out which pixels it read.
ImagePyramid CoordinatePyramid(std::uint32_t width, std::uint32_t height, std::uint32_t levels) {
    ImagePyramid pyramid(testing::UniformImage(width, height, 3, 0), levels);
    for (std::uint32_t k = 0; k < levels; ++k) {
        Image* level = pyramid.Level(k);
        for (std::uint32_t y = 0; y < level->height; ++y) {
            for (std::uint32_t x = 0; x < level->width; ++x) {
                std::uint8_t* p = level->PixelAt(x, y);
                p[0] = static_cast<std::uint8_t>(x);
                p[1] = static_cast<std::uint8_t>(y);
                p[2] = static_cast<std::uint8_t>(k);
            }
        }
    }
    return pyramid;
}

struct Read {
    std::uint32_t x, y, level;
    bool operator==(const Read&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Read& r) {
    return out << "(" << r.x << ", " << r.y << " @" << r.level << ")";
}

std::vector<Read> Reads(const FeatureVector& v) {
    std::vector<Read> reads;
    for (std::size_t i = 0; i + 2 < v.size(); i += 3) {
        reads.push_back({v[i], v[i + 1], v[i + 2]});
    }
    return reads;
}

TEST(NeighbourhoodPixelCount, CountsTheCausalWindowAndTheCoarserSquares) {
    EXPECT_EQ(NeighbourhoodPixelCount(3, 1), 4u);
    EXPECT_EQ(NeighbourhoodPixelCount(5, 2), 21u);
    EXPECT_EQ(NeighbourhoodPixelCount(7, 2), 49u);
    EXPECT_EQ(NeighbourhoodPixelCount(9, 2), 89u);
    EXPECT_EQ(NeighbourhoodPixelCount(1, 2), 1u);
    EXPECT_EQ(NeighbourhoodPixelCount(1, 1), 0u);
    EXPECT_EQ(NeighbourhoodPixelCount(4, 2), 21u) << "an even side counts as the next odd one";
    EXPECT_EQ(NeighbourhoodPixelCount(9, 3), 89u + 25u);
}

TEST(BuildNeighbourhood, SideFiveOverTwoLevels) {
    const ImagePyramid pyramid = CoordinatePyramid(32, 32, 2);
    FeatureVector v;
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 5, 2, 10, 10, v, false, false));
    std::vector<Read> expected;
    for (std::uint32_t y = 8; y <= 9; ++y) {
        for (std::uint32_t x = 8; x <= 12; ++x)
            expected.push_back({x, y, 0});
    }
    expected.push_back({8, 10, 0});
    expected.push_back({9, 10, 0});
    for (std::uint32_t y = 4; y <= 6; ++y) {
        for (std::uint32_t x = 4; x <= 6; ++x)
            expected.push_back({x, y, 1});
    }
    EXPECT_EQ(Reads(v), expected);
    EXPECT_EQ(v.size(), 21u * 3u);
}

TEST(BuildNeighbourhood, SmallSidesAndTheOwnPixel) {
    const ImagePyramid pyramid = CoordinatePyramid(16, 16, 2);
    FeatureVector v;
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 3, 1, 6, 4, v, false, false));
    EXPECT_EQ(Reads(v), (std::vector<Read>{{5, 3, 0}, {6, 3, 0}, {7, 3, 0}, {5, 4, 0}}));

    v.clear();
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 1, 2, 6, 4, v, false, false));
    EXPECT_EQ(Reads(v), (std::vector<Read>{{3, 2, 1}})) << "side 1 holds only the parent";

    v.clear();
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 1, 1, 6, 4, v, false, false));
    EXPECT_TRUE(v.empty());
}

TEST(BuildNeighbourhood, EvenSidesReadAsTheirShrinkingRule) {
    const ImagePyramid pyramid = CoordinatePyramid(32, 32, 2);
    FeatureVector four, five;
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 4, 2, 10, 10, four, false, false));
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 5, 2, 10, 10, five, false, false));
    EXPECT_EQ(four, five);
    FeatureVector two;
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 2, 2, 10, 10, two, false, false));
    EXPECT_EQ(two.size(), 13u * 3u) << "side 2 keeps side 2 at the coarser level";
}

TEST(BuildNeighbourhood, ParentCoordinatesHalveExceptZeroAndOne) {
    const ImagePyramid pyramid = CoordinatePyramid(16, 16, 2);
    for (auto [x, parent] : std::vector<std::pair<int, std::uint32_t>>{
             {0, 0}, {1, 1}, {2, 1}, {3, 1}, {4, 2}, {9, 4}}) {
        FeatureVector v;
        ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 1, 2, x, 5, v, false, true));
        EXPECT_EQ(Reads(v), (std::vector<Read>{{parent, 2, 1}})) << "x = " << x;
    }
}

TEST(HasCompleteNeighbourhood, TellsWhetherALevelCanGiveAnyPoint) {
    // Side 9 over two levels needs 9 columns and 5 rows at level 0, and the
    // parent window of side 7 inside level 1.
    EXPECT_TRUE(HasCompleteNeighbourhood(CoordinatePyramid(64, 64, 2), 0, 9, 2));
    EXPECT_FALSE(HasCompleteNeighbourhood(CoordinatePyramid(12, 12, 2), 0, 9, 2));
    EXPECT_TRUE(HasCompleteNeighbourhood(CoordinatePyramid(2, 2, 1), 0, 1, 1));
    EXPECT_FALSE(HasCompleteNeighbourhood(CoordinatePyramid(2, 2, 1), 0, 3, 1));
    EXPECT_FALSE(HasCompleteNeighbourhood(CoordinatePyramid(8, 8, 1), 1, 3, 1)) << "no level 1";
}

TEST(BuildNeighbourhood, QueryWindowsWrapAtTheEdges) {
    const ImagePyramid pyramid = CoordinatePyramid(6, 5, 1);
    FeatureVector v;
    ASSERT_TRUE(BuildNeighbourhood(pyramid, 0, 3, 1, 0, 0, v, false, true));
    EXPECT_EQ(Reads(v), (std::vector<Read>{{5, 4, 0}, {0, 4, 0}, {1, 4, 0}, {5, 0, 0}}));
}

TEST(BuildNeighbourhood, FailureLeavesThePrefixAndNeverClears) {
    const ImagePyramid pyramid = CoordinatePyramid(8, 8, 1);
    FeatureVector v = {77};
    EXPECT_FALSE(BuildNeighbourhood(pyramid, 0, 3, 1, 0, 1, v, false, false));
    // (-1, 0) fails first: only the marker stays.
    EXPECT_EQ(v, (FeatureVector{77}));
    v = {77};
    EXPECT_FALSE(BuildNeighbourhood(pyramid, 0, 3, 2, 3, 3, v, false, true))
        << "level 1 does not exist";
    EXPECT_EQ(v.size(), 1u + 4u * 3u);
}

// The gatherer writes exactly BuildNeighbourhood's elements as bytes, and
// succeeds exactly where it does, for every pixel of odd-sized levels, with
// and without wrap, 3 and 4 channels, small and huge windows.
TEST(NeighbourhoodGatherer, GivesBuildNeighbourhoodsBytesAndVerdicts) {
    struct Shape {
        std::uint32_t width, height, bpp;
        std::int32_t side;
        std::uint32_t levels, level;
    };
    const Shape shapes[] = {{13, 11, 3, 1, 2, 0}, {13, 11, 3, 3, 1, 0}, {13, 11, 4, 5, 2, 0},
                            {17, 9, 3, 9, 2, 0},  {17, 9, 4, 7, 2, 1},  {9, 14, 3, 3, 3, 0},
                            {5, 3, 3, 255, 2, 0}, {6, 6, 4, 9, 2, 2},   {7, 5, 3, 5, 2, 3}};
    for (const Shape& s : shapes) {
        ImagePyramid pyramid(testing::PatternImage(s.width, s.height, s.bpp, 1), 4);
        const Image* level = pyramid.Level(s.level);
        for (bool wrap : {false, true}) {
            const NeighbourhoodGatherer gatherer(pyramid, s.level, s.side, s.levels, s.bpp == 4,
                                                 wrap);
            std::vector<std::uint8_t> bytes(gatherer.ByteCount() + 1, 0);
            for (std::uint32_t y = 0; y < level->height; ++y) {
                for (std::uint32_t x = 0; x < level->width; ++x) {
                    SCOPED_TRACE(::testing::Message()
                                 << "side " << s.side << " level " << s.level << " wrap " << wrap
                                 << " at " << x << ", " << y);
                    FeatureVector expected;
                    const bool built = BuildNeighbourhood(
                        pyramid, s.level, s.side, s.levels, static_cast<std::int32_t>(x),
                        static_cast<std::int32_t>(y), expected, s.bpp == 4, wrap);
                    ASSERT_EQ(gatherer.Inside(x, y), built);
                    ASSERT_EQ(gatherer.Gather(x, y, bytes.data()), built);
                    if (built) {
                        ASSERT_EQ(expected.size(), gatherer.ByteCount());
                        ASSERT_EQ(FeatureVector(bytes.begin(), bytes.end() - 1), expected);
                    }
                }
            }
        }
    }
    // A level past the last one: nothing is inside, even with wrap.
    ImagePyramid two(testing::PatternImage(8, 8, 3), 2);
    EXPECT_FALSE(NeighbourhoodGatherer(two, 1, 3, 2, false, true).Inside(0, 0));
}

}  // namespace
}  // namespace weftloom
