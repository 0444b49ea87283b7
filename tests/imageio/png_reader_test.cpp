#include "imageio/png_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imageio/png_writer.h"
#include "tests/support/test_files.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

void ExpectHoldsNothing(const PngReader& reader) {
    EXPECT_EQ(reader.width, 0u);
    EXPECT_EQ(reader.height, 0u);
    EXPECT_EQ(reader.channels, 0u);
    EXPECT_TRUE(reader.pixels.empty());
}

std::vector<std::uint8_t> Bytes(const std::string& name) {
    return test::ReadBytes(test::DataPath("png/" + name));
}

// Every colour type and bit depth, palettes with and without transparency,
// interlaced files down to 1 x 1: each gives the image computed where the set
// was made, from the file and from memory alike; damaged and lying files are
// refused with a reason (the one their row quotes, where it quotes one) and
// leave the reader empty.
TEST(PngReaderConformance, EveryFileGivesItsExpectedImageOrARefusal) {
    const auto rows = test::ReadExpectedTable(test::DataPath("png/EXPECTED.tsv"));
    ASSERT_GE(rows.size(), 30u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        PngReader fromFile;
        PngReader fromMemory;
        const bool ok = fromFile.Read(test::DataPath("png/" + row.file).string());
        const std::vector<std::uint8_t> bytes = Bytes(row.file);
        EXPECT_EQ(fromMemory.ReadFromMemory(bytes.data(), bytes.size()), ok);
        if (row.result == "FAIL") {
            EXPECT_FALSE(ok);
            for (const PngReader* reader : {&fromFile, &fromMemory}) {
                EXPECT_NE(reader->errorText, "");
                EXPECT_EQ(reader->errorText.find('\n'), std::string::npos);
                if (row.expected.find('"') != std::string::npos) {
                    EXPECT_NE(row.expected.find('"' + reader->errorText + '"'), std::string::npos)
                        << reader->errorText;
                }
                ExpectHoldsNothing(*reader);
            }
            continue;
        }
        ASSERT_EQ(row.result, "OK");
        ASSERT_TRUE(ok) << fromFile.errorText;
        Image expected;
        ASSERT_TRUE(test::ReadPpm(test::DataPath("png/" + row.expected), expected));
        EXPECT_EQ(fromFile.width, row.width);
        EXPECT_EQ(fromFile.height, row.height);
        EXPECT_EQ(fromFile.channels, expected.bytesPerPixel);
        EXPECT_TRUE(fromFile.pixels == expected.pixels);
        EXPECT_TRUE(fromMemory.pixels == fromFile.pixels);
    }
}

TEST(PngReaderDamage, EveryCutInsideTheImageDataFails) {
    for (const char* name : {"rgb8.png", "rgba16_interlaced.png", "palette4.png"}) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> bytes = Bytes(name);
        // The last chunk is the 12-byte end marker, after the last image data
        // chunk's 4-byte checksum; every shorter file lacks image data.
        for (std::size_t size = 0; size + 16 < bytes.size(); ++size) {
            PngReader reader;
            ASSERT_FALSE(reader.ReadFromMemory(bytes.data(), size)) << size;
            ASSERT_NE(reader.errorText, "");
            ExpectHoldsNothing(reader);
        }
    }
}

TEST(PngReaderLimits, AHeaderPastThePixelLimitIsRefusedByItsSize) {
    const std::vector<std::uint8_t> eight = Bytes("rgb8.png");  // 17 x 9
    const std::vector<std::uint8_t> wide = Bytes("rgb16.png");  // 17 x 9, 16 bits
    PngReader reader;
    reader.pixelLimit = 17 * 9;
    EXPECT_TRUE(reader.ReadFromMemory(eight.data(), eight.size())) << reader.errorText;
    EXPECT_FALSE(reader.ReadFromMemory(wide.data(), wide.size()));
    EXPECT_NE(reader.errorText.find("17 x 9"), std::string::npos) << reader.errorText;
    reader.pixelLimit = 17 * 9 - 1;
    EXPECT_FALSE(reader.ReadFromMemory(eight.data(), eight.size()));
    EXPECT_NE(reader.errorText.find("at most 152"), std::string::npos) << reader.errorText;
    ExpectHoldsNothing(reader);
}

TEST(PngWriter, EncodedImagesReadBackUnchanged) {
    for (const auto& [width, height, bpp] : {std::tuple{1u, 1u, 3u}, std::tuple{31u, 17u, 3u},
                                             std::tuple{64u, 3u, 4u}, std::tuple{2u, 40u, 4u}}) {
        SCOPED_TRACE(::testing::Message() << width << " x " << height << " x " << bpp);
        const Image image = testing::PatternImage(width, height, bpp);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(EncodePng(image, bytes));
        ASSERT_TRUE(HasPngSignature(bytes.data(), bytes.size()));
        PngReader reader;
        ASSERT_TRUE(reader.ReadFromMemory(bytes.data(), bytes.size())) << reader.errorText;
        EXPECT_EQ(reader.width, width);
        EXPECT_EQ(reader.height, height);
        EXPECT_EQ(reader.channels, bpp);
        EXPECT_TRUE(reader.pixels == image.pixels);
    }
}

TEST(PngWriter, RefusesWhatPngCannotHold) {
    Image grey = testing::PatternImage(4, 4, 1);
    Image empty;
    Image shortBlock = testing::PatternImage(4, 4, 3);
    shortBlock.pixels.pop_back();
    for (const Image* image : {&grey, &empty, &shortBlock}) {
        std::vector<std::uint8_t> bytes{1, 2, 3};
        EXPECT_FALSE(CanWritePng(*image));
        EXPECT_FALSE(EncodePng(*image, bytes));
        EXPECT_TRUE(bytes.empty());
    }
}

}  // namespace
}  // namespace weftloom
