#include "engine/image.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace weftloom {
namespace {

// A side of 0 holds no bytes but keeps the sizes; a size the image cannot
// hold is refused without throwing and leaves it empty, whatever it held.
TEST(ImageAllocate, SizesTheBlockAndRefusesImpossibleSizes) {
    Image image;
    ASSERT_TRUE(image.Allocate(5, 3, 4));
    EXPECT_EQ(image.pixels, std::vector<std::uint8_t>(5 * 3 * 4, 0));
    ASSERT_TRUE(image.Allocate(7, 0, 3));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.width, 7u);
    for (const auto& [width, height, bytesPerPixel] :
         {std::tuple{65535u, 65535u, 5u}, {0xFFFFFFFFu, 0xFFFFFFFFu, 4u}, {4u, 4u, 0u}}) {
        ASSERT_TRUE(image.Allocate(2, 2, 3));
        EXPECT_FALSE(image.Allocate(width, height, bytesPerPixel));
        EXPECT_TRUE(image.IsEmpty());
        EXPECT_EQ(image.width, 0u);
    }
}

}  // namespace
}  // namespace weftloom
