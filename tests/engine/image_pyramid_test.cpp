#include "engine/image_pyramid.h"

#include <gtest/gtest.h>

#include "tests/support/test_images.h"

namespace weftloom {
namespace {

using testing::PatternImage;
using testing::UniformImage;

std::vector<std::pair<std::uint32_t, std::uint32_t>> LevelSizes(const ImagePyramid& pyramid) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    for (std::uint32_t k = 0; k < pyramid.LevelCount(); ++k) {
        sizes.emplace_back(pyramid.Level(k)->width, pyramid.Level(k)->height);
    }
    return sizes;
}

using Sizes = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TEST(ImagePyramidBuild, LevelSizesHalveDownAndStopAtOne) {
    EXPECT_EQ(LevelSizes(ImagePyramid(PatternImage(64, 48, 3), 4)),
              (Sizes{{64, 48}, {32, 24}, {16, 12}, {8, 6}}));
    EXPECT_EQ(LevelSizes(ImagePyramid(PatternImage(1, 5, 3), 4)),
              (Sizes{{1, 5}, {1, 2}, {1, 1}, {1, 1}}));
    EXPECT_EQ(LevelSizes(ImagePyramid(PatternImage(7, 3, 4), 3)), (Sizes{{7, 3}, {3, 1}, {1, 1}}));
    ImagePyramid none(PatternImage(4, 4, 3), 0);
    EXPECT_TRUE(none.Complete());
    EXPECT_EQ(none.LevelCount(), 0u);
    EXPECT_EQ(none.Level(0), nullptr);
}

TEST(ImagePyramidBuild, RefusesSourcesItCannotWrap) {
    Image empty;
    empty.Allocate(0, 5, 3);
    EXPECT_FALSE(ImagePyramid(empty, 4).Complete());
    EXPECT_FALSE(ImagePyramid(PatternImage(4, 4, 2), 4).Complete());
    Image inconsistent = PatternImage(4, 4, 3);
    inconsistent.pixels.pop_back();
    EXPECT_FALSE(ImagePyramid(inconsistent, 4).Complete());
}

TEST(ImagePyramidBuild, AnAbortStopsTheBuild) {
    const std::atomic<bool> abort{true};
    EXPECT_FALSE(ImagePyramid(PatternImage(40, 30, 3), 4, &abort).Complete());
    Image reduced;
    EXPECT_FALSE(ReduceLevel(PatternImage(40, 30, 3), reduced, &abort));
    Image image;
    EXPECT_FALSE(image.Allocate(40, 30, 3, &abort));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.width, 0u);
    // Unset, the flag changes nothing.
    const std::atomic<bool> go{false};
    EXPECT_TRUE(ImagePyramid(PatternImage(40, 30, 3), 4, &go).Complete());
    ASSERT_TRUE(image.Allocate(40, 30, 3, &go));
    EXPECT_EQ(image.pixels, std::vector<std::uint8_t>(40 * 30 * 3, 0));
}

TEST(ImagePyramidBuild, UniformImagesStayExactlyUniform) {
    for (std::uint32_t bpp : {3u, 4u}) {
        ImagePyramid pyramid(UniformImage(13, 6, bpp, 201), 4);
        for (std::uint32_t k = 0; k < 4; ++k) {
            for (std::uint8_t value : pyramid.Level(k)->pixels) {
                ASSERT_EQ(value, 201);
            }
        }
    }
}

TEST(ImagePyramidBuild, KernelWrapsAroundTheTorus) {
    // A single bright pixel shows which finer positions feed a coarse pixel and
    // with what weight: here the finer level's last row and column, read by the
    // top-left coarse pixel through the wrap.
    auto weightOf = [](std::uint32_t fx, std::uint32_t fy) {
        Image source = UniformImage(8, 8, 3, 0);
        source.PixelAt(fx, fy)[0] = 200;  // 200 / 20 = 10 per unit of weight
        ImagePyramid pyramid(source, 2);
        return pyramid.Level(1)->PixelAt(0, 0)[0] / 10;
    };
    EXPECT_EQ(weightOf(7, 7), 0) << "the corner itself has weight 0";
    EXPECT_EQ(weightOf(0, 7), 1);
    EXPECT_EQ(weightOf(1, 7), 1);
    EXPECT_EQ(weightOf(7, 0), 1);
    EXPECT_EQ(weightOf(7, 1), 1);
    EXPECT_EQ(weightOf(0, 0), 3);
    EXPECT_EQ(weightOf(1, 1), 3);
    EXPECT_EQ(weightOf(2, 0), 1);
    EXPECT_EQ(weightOf(2, 2), 0);
    EXPECT_EQ(weightOf(3, 0), 0) << "outside the 4 x 4 block";
}

TEST(ImagePyramidBuild, SmallSidesFoldTheKernelOntoFewPixels) {
    // 3 x 3 reduces to 1 x 1; block offsets -1 and +2 both land on index 2.
    Image corner = UniformImage(3, 3, 3, 0);
    corner.PixelAt(2, 2)[1] = 100;  // only the four zero-weight corners read it
    EXPECT_EQ(ImagePyramid(corner, 2).Level(1)->PixelAt(0, 0)[1], 0);

    Image edge = UniformImage(3, 3, 3, 0);
    edge.PixelAt(2, 0)[1] = 100;  // row offset 0, column offsets -1 and +2: 1 + 1
    ImagePyramid edgePyramid(edge, 2);
    ASSERT_EQ(edgePyramid.Level(1)->width, 1u);
    EXPECT_EQ(edgePyramid.Level(1)->PixelAt(0, 0)[1], 10);

    // Width 1: every block column reads column 0, so a row's weights add up.
    Image column = UniformImage(1, 4, 3, 0);
    column.PixelAt(0, 0)[2] = 100;  // row offset 0: 1 + 3 + 3 + 1
    EXPECT_EQ(ImagePyramid(column, 2).Level(1)->PixelAt(0, 0)[2], 40);
}

}  // namespace
}  // namespace weftloom
