#include "imageio/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imageio/tga_writer.h"
#include "tests/support/test_files.h"

namespace weftloom {
namespace {

namespace fs = std::filesystem;

// A marker image: loads must replace it only on success.
Image Marker() {
    Image image;
    EXPECT_TRUE(image.Allocate(1, 1, 3));
    image.pixels = {1, 2, 3};
    return image;
}

Image Expected(const std::string& ppm) {
    Image image;
    EXPECT_TRUE(test::ReadPpm(test::DataPath(ppm), image)) << ppm;
    return image;
}

class ImageFileLoad : public testing::Test {
  protected:
    // Copies a test file into the scratch folder under a new name.
    std::string CopyAs(const std::string& source, const std::string& name) {
        const fs::path target = folder / name;
        fs::copy_file(test::DataPath(source), target, fs::copy_options::overwrite_existing);
        return target.string();
    }
    test::ScratchFolder folder;
};

TEST_F(ImageFileLoad, KnownEndingsInAnyCaseChooseTheirCodec) {
    struct Ending {
        const char* source;
        const char* expected;
        std::vector<const char*> names;
    };
    const Ending endings[] = {
        {"tga/common/200x32_rgb_tl_rle.tga",
         "tga/expected/common__200x32_rgb_tl_rle.ppm",
         {"SCAN.TGA", "my.pics.tga"}},
        {"jpeg/testorig.jpg", "jpeg/expected/testorig.ppm", {"photo.jpg", "Photo.JPEG"}},
    };
    for (const Ending& ending : endings) {
        const Image want = Expected(ending.expected);
        for (const char* name : ending.names) {
            SCOPED_TRACE(name);
            Image image = Marker();
            std::string reason;
            ASSERT_TRUE(LoadImageFile(CopyAs(ending.source, name), image, reason)) << reason;
            EXPECT_EQ(image.bytesPerPixel, 3u);
            EXPECT_EQ(image.width, want.width);
            EXPECT_TRUE(image.pixels == want.pixels);
        }
    }
}

// Other endings are refused, the ending decides and not the content, and a
// failure keeps the image and gives the reader's reason.
TEST_F(ImageFileLoad, FailuresKeepTheImageAndGiveTheReason) {
    const std::tuple<const char*, const char*, const char*> failures[] = {
        {"tga/rgba16.tga", "picture.bmp", ""},
        {"tga/rgba16.tga", "photo.jpg.bak", ""},
        {"tga/rgba16.tga", "photojpg", ""},
        {"jpeg/testorig.jpg", "photo.tga", ""},
        {"tga/rgba16.tga", "image.jpg", "Not a JPEG file"},
        {"tga/cross_scan_line_truncated.tga", "cut.tga", "Error reading data from TGA image."},
        {"jpeg/monkey12.jpg", "deep.jpg", ""},
        {nullptr, "absent.tga", "Error opening TGA image."},
        {nullptr, "absent.jpg", "Error opening JPEG image."},
    };
    for (const auto& [source, name, reason] : failures) {
        SCOPED_TRACE(name);
        Image image = Marker();
        std::string given;
        const std::string path = source ? CopyAs(source, name) : (folder / name).string();
        EXPECT_FALSE(LoadImageFile(path, image, given));
        EXPECT_FALSE(given.empty());
        // The TGA reader's texts are given whole, libjpeg's within its own words.
        if (std::string(reason).starts_with("Error")) {
            EXPECT_EQ(given, reason);
        } else {
            EXPECT_NE(given.find(reason), std::string::npos) << given;
        }
        EXPECT_EQ(image.pixels, Marker().pixels);
    }
}

TEST(ImageFileSavePath, FollowsTheEndingRules) {
    const std::pair<const char*, const char*> cases[] = {
        {"photo.jpg", "photo.tga"},
        {"/home/a/PHOTO.JPG", "/home/a/PHOTO.tga"},
        {"Photo.JPEG", "Photo.tga"},
        {"/out/result", "/out/result.tga"},
        {"/my.pics/result", "/my.pics/result"},
        {"result.bmp", "result.bmp"},
        {"result.TGA", "result.TGA"},
        {"archive.jpg.bak", "archive.jpg.bak"},
        {".jpg", ".tga"},
    };
    for (const auto& [path, want] : cases) {
        EXPECT_EQ(SavePathFor(path), want) << path;
    }
}

class ImageFileSave : public testing::Test {
  protected:
    Image Sample() {
        Image image;
        EXPECT_TRUE(image.Allocate(3, 2, 3));
        image.pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7, 100, 150, 200, 1, 2, 3};
        return image;
    }
    test::ScratchFolder folder;
};

TEST_F(ImageFileSave, RefusedSavesTouchNothing) {
    const fs::path existing = folder / "keep.tga";
    test::WriteBytes(existing, {'k', 'e', 'e', 'p'});
    std::string saved, reason;
    EXPECT_FALSE(SaveImageFile(Image{}, existing.string(), saved, reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(
        SaveImageFile(Sample(), (folder / "no" / "such" / "folder.tga").string(), saved, reason));
    EXPECT_NE(reason.find("folder.tga"), std::string::npos) << reason;
    EXPECT_EQ(test::ReadBytes(existing), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.tga"});
}

}  // namespace
}  // namespace weftloom
