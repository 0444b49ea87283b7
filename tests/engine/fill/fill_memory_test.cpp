// The fill's memory estimate against the heap a fill really takes (counted
// for the whole process, so its program runs alone).
#include <gtest/gtest.h>

#include "engine/fill/picture_fill.h"
#include "tests/support/heap_count.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

TEST(FillMemory, EstimateBoundsTheCountedPeak) {
    struct Case {
        std::uint32_t width, height, bytesPerPixel, sourceLimit;
        int holeShare;  // every holeShare-th row is the hole
    };
    const Case cases[] = {{90, 70, 3, 0, 5}, {200, 150, 4, 6, 3}, {333, 47, 3, 0, 2}};
    for (const Case& c : cases) {
        const Image picture = testing::PatternImage(c.width, c.height, c.bytesPerPixel, 2);
        HoleMask hole(std::size_t{c.width} * c.height, 0);
        for (std::uint32_t y = 0; y < c.height; y += static_cast<std::uint32_t>(c.holeShare)) {
            std::fill_n(hole.begin() + std::ptrdiff_t{y} * c.width + c.width / 4, c.width / 2, 1);
        }
        PictureFill fill;
        fill.sourceLimit = c.sourceLimit;
        const std::int64_t base = test::HeapNow();
        test::ResetHeapPeak();
        ASSERT_TRUE(fill.Fill(picture, hole));
        const auto measured = static_cast<std::uint64_t>(test::HeapPeak() - base);
        EXPECT_GE(EstimateFillMemory(c.width, c.height, c.bytesPerPixel), measured)
            << c.width << " x " << c.height;
    }
}

}  // namespace
}  // namespace weftloom
