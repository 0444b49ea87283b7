#include "engine/image.h"

#include <gtest/gtest.h>

namespace weftloom {
namespace {

TEST(ImageAllocate, FreshImageIsEmptyAndAllocationSizesTheBlock) {
    Image image;
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.height, 0u);
    EXPECT_EQ(image.bytesPerPixel, 0u);

    ASSERT_TRUE(image.Allocate(5, 3, 4));
    EXPECT_EQ(image.pixels.size(), 5u * 3u * 4u);
    EXPECT_EQ(image.Offset(2, 1), (1u * 5u + 2u) * 4u);

    ASSERT_TRUE(image.Allocate(7, 0, 3));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.width, 7u);
    EXPECT_EQ(image.height, 0u);
}

TEST(ImageAllocate, RefusesImpossibleSizesWithoutThrowing) {
    Image image;
    ASSERT_TRUE(image.Allocate(2, 2, 3));
    EXPECT_FALSE(image.Allocate(65535, 65535, 5));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.width, 0u);
    EXPECT_FALSE(image.Allocate(0xFFFFFFFFu, 0xFFFFFFFFu, 4));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_FALSE(image.Allocate(4, 4, 0));
}

}  // namespace
}  // namespace weftloom
