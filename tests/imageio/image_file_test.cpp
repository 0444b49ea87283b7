#include "imageio/image_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imageio/png_reader.h"
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

// A PNG or JPEG signature chooses its codec whatever the name; a file without
// one goes by its ending in any case (a TGA named .png is refused as a PNG
// without its signature); a failure keeps the image and gives the reader's
// reason.
TEST(ImageFileLoad, TheContentAndOtherwiseTheEndingChoosesTheCodec) {
    struct File {
        const char* source;
        const char* name;
        const char* expected;  // the PPM of a load, nullptr for a failure
        const char* reason;
    };
    const File files[] = {
        {"tga/common/200x32_rgb_tl_rle.tga", "SCAN.TGA",
         "tga/expected/common__200x32_rgb_tl_rle.ppm", ""},
        {"tga/common/200x32_rgb_tl_rle.tga", "my.pics.tga",
         "tga/expected/common__200x32_rgb_tl_rle.ppm", ""},
        {"jpeg/testorig.jpg", "photo.jpg", "jpeg/expected/testorig.ppm", ""},
        {"jpeg/testorig.jpg", "Photo.JPEG", "jpeg/expected/testorig.ppm", ""},
        {"tga/rgba16.tga", "picture.bmp", nullptr, ""},
        {"tga/rgba16.tga", "photo.jpg.bak", nullptr, ""},
        {"tga/rgba16.tga", "photojpg", nullptr, ""},
        {"jpeg/testorig.jpg", "photo.tga", "jpeg/expected/testorig.ppm", ""},
        {"jpeg/testorig.jpg", "photo", "jpeg/expected/testorig.ppm", ""},
        {"png/rgb8.png", "texture.PNG", "png/expected/rgb8.ppm", ""},
        {"png/rgb8.png", "texture.jpg", "png/expected/rgb8.ppm", ""},
        {"png/rgb8.png", "texture.tga", "png/expected/rgb8.ppm", ""},
        {"tga/common/200x32_rgb_tl_rle.tga", "scan.png", nullptr, "invalid signature"},
        {"png/truncated.png", "cut.png", nullptr,
         "Error reading PNG image: end of stream (the file ends early)."},
        {"tga/rgba16.tga", "image.jpg", nullptr, "Not a JPEG file"},
        {"tga/cross_scan_line_truncated.tga", "cut.tga", nullptr,
         "Error reading data from TGA image."},
        {"jpeg/monkey12.jpg", "deep.jpg", nullptr, ""},
        // The system's reason for what cannot be opened; no wait on a FIFO.
        {nullptr, "absent.tga", nullptr, "No such file or directory"},
        {nullptr, "absent.jpg", nullptr, "No such file or directory"},
        {nullptr, "folder.tga", nullptr, "It is a folder."},
        {nullptr, "pipe.jpg", nullptr, "It is not a regular file."},
        {nullptr, "absent.png", nullptr, "No such file or directory"},
    };
    test::ScratchFolder folder;
    fs::create_directory(folder / "folder.tga");
    ASSERT_EQ(mkfifo((folder / "pipe.jpg").c_str(), 0600), 0);
    for (const File& file : files) {
        SCOPED_TRACE(file.name);
        Image image = Marker();
        std::string given;
        const fs::path path = folder / file.name;
        if (file.source != nullptr) {
            fs::copy_file(test::DataPath(file.source), path);
        }
        if (file.expected != nullptr) {
            ASSERT_TRUE(LoadImageFile(path.string(), image, given)) << given;
            const Image want = Expected(file.expected);
            EXPECT_EQ(image.bytesPerPixel, 3u);
            EXPECT_EQ(image.width, want.width);
            EXPECT_TRUE(image.pixels == want.pixels);
            continue;
        }
        EXPECT_FALSE(LoadImageFile(path.string(), image, given));
        EXPECT_FALSE(given.empty());
        // The TGA reader's and the system's texts are given whole, libjpeg's
        // within its own words.
        if (file.source == nullptr || std::string(file.reason).starts_with("Error")) {
            EXPECT_EQ(given, file.reason);
        } else {
            EXPECT_NE(given.find(file.reason), std::string::npos) << given;
        }
        EXPECT_EQ(image.pixels, Marker().pixels);
    }
}

// Readers of every format at once, each file on a thread of its own, give
// what they give alone.
TEST(ImageFileLoad, ReadersOnSeparateThreadsAgree) {
    std::vector<std::string> paths;
    for (const char* name :
         {"tga/rgb32rle.tga", "tga/p_16.tga", "jpeg/gen/prog.jpg", "jpeg/gen/cmyk.jpg",
          "jpeg/testimgari.jpg", "png/rgba16_interlaced.png", "png/palette8_trns.png",
          "png/grey1_interlaced.png", "png/grey16.png"}) {
        paths.push_back(test::DataPath(name).string());
    }
    EXPECT_TRUE(test::SameResultsOnThreads(paths, [](const std::string& path) {
        Image image;
        std::string reason;
        return LoadImageFile(path, image, reason) ? image.pixels : std::vector<std::uint8_t>{};
    }));
}

TEST(ImageFileSavePath, FollowsTheEndingRules) {
    const std::pair<const char*, const char*> cases[] = {
        {"photo.jpg", "photo.tga"},
        {"/home/a/PHOTO.JPG", "/home/a/PHOTO.tga"},
        {"Photo.JPEG", "Photo.tga"},
        {"/out/result", "/out/result.tga"},
        {"/my.pics/result", "/my.pics/result.tga"},
        {"./result", "./result.tga"},
        {"../v1.2/out", "../v1.2/out.tga"},
        {"dir.d/a.b/shot.JPG", "dir.d/a.b/shot.tga"},
        {"result.bmp", "result.bmp"},
        {"result.TGA", "result.TGA"},
        {"archive.jpg.bak", "archive.jpg.bak"},
        {".jpg", ".tga"},
    };
    for (const auto& [path, want] : cases) {
        EXPECT_EQ(SavePathFor(path), want) << path;
    }
}

TEST(ImageFileSave, RefusedSavesTouchNothing) {
    test::ScratchFolder folder;
    const fs::path existing = folder / "keep.tga";
    test::WriteBytes(existing, {'k', 'e', 'e', 'p'});
    Image image;
    std::string saved, reason;
    EXPECT_FALSE(SaveImageFile(image, existing.string(), saved, reason));
    EXPECT_FALSE(reason.empty());
    ASSERT_TRUE(image.Allocate(3, 2, 3));
    EXPECT_FALSE(
        SaveImageFile(image, (folder / "no" / "such" / "folder.tga").string(), saved, reason));
    EXPECT_NE(reason.find("folder.tga"), std::string::npos) << reason;
    EXPECT_EQ(test::ReadBytes(existing), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.tga"});
}

// The output's name decides its format; TGA to PNG and back keeps every byte,
// and a PNG keeps its alpha through a save as PNG.
TEST(ImageFileSave, TheNameChoosesTheFormatAndRoundTripsKeepEveryByte) {
    test::ScratchFolder folder;
    Image original, viaTga, viaPng;
    std::string saved, reason;
    const auto savedAndLoaded = [&](const Image& image, const std::string& name, Image& loaded) {
        ASSERT_TRUE(SaveImageFile(image, (folder / name).string(), saved, reason)) << reason;
        EXPECT_EQ(saved, (folder / name).string());
        ASSERT_TRUE(LoadImageFile(saved, loaded, reason)) << reason;
    };
    ASSERT_TRUE(LoadImageFile(test::DataPath("tga/common/200x32_rgb_tl_rle.tga").string(), original,
                              reason));
    savedAndLoaded(original, "first.tga", viaTga);
    savedAndLoaded(viaTga, "second.PNG", viaPng);
    const std::vector<std::uint8_t> pngBytes = test::ReadBytes(folder / "second.PNG");
    EXPECT_TRUE(HasPngSignature(pngBytes.data(), pngBytes.size()));
    savedAndLoaded(viaPng, "third.tga", viaTga);
    EXPECT_EQ(test::ReadBytes(folder / "third.tga"), test::ReadBytes(folder / "first.tga"));

    ASSERT_TRUE(
        LoadImageFile(test::DataPath("png/rgba16_interlaced.png").string(), original, reason));
    ASSERT_EQ(original.bytesPerPixel, 4u);
    savedAndLoaded(original, "alpha.png", viaPng);
    EXPECT_EQ(viaPng.bytesPerPixel, 4u);
    EXPECT_TRUE(viaPng.pixels == original.pixels);
    EXPECT_EQ(folder.Entries(),
              (std::vector<std::string>{"alpha.png", "first.tga", "second.PNG", "third.tga"}));
}

}  // namespace
}  // namespace weftloom
