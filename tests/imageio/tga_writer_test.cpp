#include "imageio/tga_writer.h"

#include <gtest/gtest.h>

#include <atomic>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "tests/support/test_files.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

// A 5 x 3 image with no symmetry and a different value in each channel.
Image OddImage(std::uint32_t bytesPerPixel) {
    return testing::PatternImage(5, 3, bytesPerPixel);
}

std::vector<std::uint8_t> Encoded(const Image& image) {
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(EncodeTga(image, bytes));
    return bytes;
}

// Golden bytes: a header for an uncompressed top-down image, then the pixels
// blue first; four-byte images keep their alpha after them.
TEST(TgaWriterBytes, SmallImagesGiveTheExactFile) {
    Image rgb, rgba;
    ASSERT_TRUE(rgb.Allocate(2, 1, 3));
    rgb.pixels = {10, 20, 30, 40, 50, 60};
    ASSERT_TRUE(rgba.Allocate(1, 2, 4));
    rgba.pixels = {1, 2, 3, 4, 250, 251, 252, 253};
    const std::vector<std::uint8_t> header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> want = header;
    want.insert(want.end(), {2, 0, 1, 0, 24, 0x20, 30, 20, 10, 60, 50, 40});
    EXPECT_EQ(Encoded(rgb), want);

    want = header;
    want.insert(want.end(), {1, 0, 2, 0, 32, 0x20, 3, 2, 1, 4, 252, 251, 250, 253});
    EXPECT_EQ(Encoded(rgba), want);
}

TEST(TgaWriterRefusal, ImagesATgaHeaderCannotDescribeAreRefusedWithoutAFile) {
    test::ScratchFolder folder;
    Image empty, grey, wide, tall, inconsistent = OddImage(3);
    ASSERT_TRUE(grey.Allocate(2, 2, 1));
    ASSERT_TRUE(wide.Allocate(kMaxTgaSide + 1, 1, 3));
    ASSERT_TRUE(tall.Allocate(1, kMaxTgaSide + 1, 3));
    inconsistent.pixels.pop_back();
    for (const Image* image : {&empty, &grey, &wide, &tall, &inconsistent}) {
        EXPECT_FALSE(WriteTga(*image, (folder / "refused.tga").string())) << image->width;
    }
    EXPECT_FALSE(WriteTga(OddImage(3), ""));
    EXPECT_TRUE(folder.Entries().empty());

    std::vector<std::uint8_t> bytes = {1, 2, 3};
    EXPECT_FALSE(EncodeTga(wide, bytes));
    EXPECT_TRUE(bytes.empty());
    // The largest side is still written whole.
    ASSERT_TRUE(wide.Allocate(kMaxTgaSide, 1, 3));
    wide.pixels.back() = 9;
    ASSERT_TRUE(EncodeTga(wide, bytes));
    ASSERT_EQ(bytes.size(), 18u + 65535u * 3u);
    EXPECT_EQ(bytes[12] + bytes[13] * 256, 65535);
    EXPECT_EQ(bytes[18 + 65534 * 3], 9) << "blue first";
}

// A failed save must leave whatever was at the target as it was.
class TgaWriterFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        target = folder / "keep.tga";
        test::WriteBytes(target, original);
    }
    void ExpectTargetUntouched() {
        EXPECT_EQ(test::ReadBytes(target), original);
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.tga"});
    }
    test::ScratchFolder folder;
    std::filesystem::path target;
    const std::vector<std::uint8_t> original = {'o', 'l', 'd', ' ', 'd', 'a', 't', 'a'};
};

TEST_F(TgaWriterFailure, NoFolderAFolderAWriteErrorOrAShortWriteLeaveTheTarget) {
    // errno says why, as the first failing step saw it.
    EXPECT_FALSE(WriteTga(OddImage(3), (folder / "missing" / "out.tga").string()));
    EXPECT_EQ(errno, ENOENT);
    ExpectTargetUntouched();

    std::filesystem::create_directory(folder / "taken.tga");
    EXPECT_FALSE(WriteTga(OddImage(3), (folder / "taken.tga").string()));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "taken.tga"));
    std::filesystem::remove(folder / "taken.tga");
    ExpectTargetUntouched();

    auto failAll = [](std::FILE*, const std::uint8_t*, std::size_t) { return false; };
    EXPECT_FALSE(WriteTga(OddImage(3), target.string(), failAll));
    EXPECT_EQ(errno, EIO) << "a writer failing without a reason";
    ExpectTargetUntouched();

    int calls = 0;
    auto failThirdBlock = [&calls](std::FILE* file, const std::uint8_t* data, std::size_t size) {
        if (++calls == 3) {
            // A full disk takes part of the block and then stops.
            std::fwrite(data, 1, size / 2, file);
            return false;
        }
        return std::fwrite(data, 1, size, file) == size;
    };
    EXPECT_FALSE(WriteTga(OddImage(4), target.string(), failThirdBlock));
    EXPECT_EQ(calls, 3);
    ExpectTargetUntouched();

    // An abort between two blocks, or after the last one but before the file
    // replaces the target, stops the save as a failure would.
    for (const int abortAt : {2, 4}) {  // the header and three rows: 4 blocks
        std::atomic<bool> abort{false};
        calls = 0;
        auto abortingWriter = [&](std::FILE* file, const std::uint8_t* data, std::size_t size) {
            abort.store(++calls == abortAt);
            return std::fwrite(data, 1, size, file) == size;
        };
        EXPECT_FALSE(WriteTga(OddImage(4), target.string(), abortingWriter, &abort));
        EXPECT_EQ(errno, EINTR);
        EXPECT_EQ(calls, abortAt) << "no block after the abort";
        ExpectTargetUntouched();
    }
}

TEST_F(TgaWriterFailure, ASymbolicLinkIsWrittenThroughAndStays) {
    std::filesystem::create_directory(folder / "sub");
    test::WriteBytes(folder / "sub" / "real.tga", original);
    std::filesystem::create_symlink("sub/real.tga", folder / "link.tga");
    std::filesystem::create_symlink("../link.tga", folder / "sub" / "chain.tga");
    const Image image = OddImage(3);
    std::vector<std::uint8_t> want;
    ASSERT_TRUE(EncodeTga(image, want));
    ASSERT_TRUE(WriteTga(image, (folder / "sub" / "chain.tga").string()));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.tga"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "sub" / "chain.tga"));
    EXPECT_EQ(test::ReadBytes(folder / "sub" / "real.tga"), want);
    // A dangling link names the file to create.
    std::filesystem::create_symlink("made.tga", folder / "dangling.tga");
    ASSERT_TRUE(WriteTga(image, (folder / "dangling.tga").string()));
    EXPECT_EQ(test::ReadBytes(folder / "made.tga"), want);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "dangling.tga"));
}

TEST_F(TgaWriterFailure, ASuccessfulSaveReplacesTheTargetAndKeepsItsPermissions) {
    std::filesystem::permissions(target, std::filesystem::perms(0640));
    const Image image = OddImage(3);
    ASSERT_TRUE(WriteTga(image, target.string()));
    std::vector<std::uint8_t> want;
    ASSERT_TRUE(EncodeTga(image, want));
    EXPECT_EQ(test::ReadBytes(target), want);
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"keep.tga"});
}

}  // namespace
}  // namespace weftloom
