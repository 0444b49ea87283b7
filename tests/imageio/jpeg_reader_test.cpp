#include "imageio/jpeg_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "tests/support/test_files.h"

namespace weftloom {
namespace {

void ExpectHoldsNothing(const JpegReader& reader) {
    EXPECT_EQ(reader.width, 0u);
    EXPECT_EQ(reader.height, 0u);
    EXPECT_TRUE(reader.pixels.empty());
}

Image ImageOf(const JpegReader& reader) {
    Image image;
    EXPECT_TRUE(ImageFromJpeg(reader, image));
    return image;
}

Image Expected(const std::string& ppm) {
    Image image;
    EXPECT_TRUE(test::ReadPpm(test::DataPath("jpeg/" + ppm), image)) << ppm;
    return image;
}

// Every file of the set against libjpeg's default decode, from the file and
// from memory alike; APPROX rows within the stated mean difference, FATAL rows
// (libjpeg's fatal errors) refused without ending the process, FAIL rows
// (damage libjpeg would repair) refused too; a refusal carries the words its
// row quotes.
TEST(JpegReaderConformance, RealFilesGiveTheirExpectedImages) {
    const auto rows = test::ReadExpectedTable(test::DataPath("jpeg/EXPECTED.tsv"));
    ASSERT_GE(rows.size(), 15u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        JpegReader reader;
        JpegReader fromMemory;
        const bool ok = reader.Read(test::DataPath("jpeg/" + row.file).string());
        const std::vector<std::uint8_t> bytes = test::ReadBytes(test::DataPath("jpeg/" + row.file));
        EXPECT_EQ(fromMemory.ReadFromMemory(bytes.data(), bytes.size()), ok);
        EXPECT_EQ(fromMemory.pixels, reader.pixels);
        if (row.result == "FATAL" || row.result == "FAIL") {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(reader.errorText.empty());
            EXPECT_NE(row.expected.find('"' + reader.errorText + '"'), std::string::npos)
                << reader.errorText;
            EXPECT_EQ(fromMemory.errorText, reader.errorText);
            ExpectHoldsNothing(reader);
            continue;
        }
        ASSERT_TRUE(ok) << reader.errorText;
        EXPECT_TRUE(reader.errorText.empty());
        const Image image = ImageOf(reader);
        const Image expected = Expected(row.expected);
        ASSERT_EQ(image.width, row.width);
        ASSERT_EQ(image.height, row.height);
        if (row.result == "OK") {
            EXPECT_TRUE(image.pixels == expected.pixels);
        } else {
            ASSERT_EQ(row.result, "APPROX");
            ASSERT_EQ(image.pixels.size(), expected.pixels.size());
            // Within a mean difference of 3 per channel value.
            const double sum = std::transform_reduce(image.pixels.begin(), image.pixels.end(),
                                                     expected.pixels.begin(), 0.0, std::plus<>(),
                                                     [](int a, int b) { return std::abs(a - b); });
            EXPECT_LT(sum / static_cast<double>(image.pixels.size()), 3.0);
        }
    }
}

// Damage: cut files fail cleanly, corrupt entropy data decodes.
TEST(JpegReaderDamage, FilesCutBeforeTheirLastRowFail) {
    JpegReader reader;
    for (const char* name :
         {"jpeg/testorig.jpg", "jpeg/testimgari.jpg", "jpeg/gen/prog_arith.jpg"}) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> bytes = test::ReadBytes(test::DataPath(name));
        ASSERT_GT(bytes.size(), 100u);
        // Every cut within the headers, then a spread through the data.
        for (std::size_t size = 0; size + 2 < bytes.size();
             size += size < 700 ? 1 : 1 + bytes.size() / 60) {
            ASSERT_FALSE(reader.ReadFromMemory(bytes.data(), size)) << "prefix " << size;
            EXPECT_FALSE(reader.errorText.empty());
            ExpectHoldsNothing(reader);
        }
    }
    // Nothing at all, or markers and no image.
    const std::uint8_t markersOnly[] = {0xFF, 0xD8, 0xFF, 0xD9};
    for (const std::uint8_t* data : {static_cast<const std::uint8_t*>(nullptr), markersOnly}) {
        EXPECT_FALSE(reader.ReadFromMemory(data, data ? 4 : 0));
        EXPECT_FALSE(reader.errorText.empty());
    }
}

// Coded data that ends before the frame's last row, whether the file is cut
// or its end marker comes early, is a failure: never rows of grey.
TEST(JpegReaderDamage, DataEndingBeforeTheLastRowFails) {
    const std::vector<std::uint8_t> original = test::ReadBytes(test::DataPath("jpeg/testorig.jpg"));
    const std::uint8_t sos[] = {0xFF, 0xDA};
    const auto scan = std::search(original.begin(), original.end(), sos, sos + 2);
    ASSERT_NE(scan, original.end());
    JpegReader reader;
    // The end-of-image marker put at points spread through the coded data.
    for (auto at = scan + 20; at < original.end() - 40; at += 97) {
        std::vector<std::uint8_t> early(original.begin(), at);
        early.insert(early.end(), {0xFF, 0xD9});
        EXPECT_FALSE(reader.ReadFromMemory(early.data(), early.size())) << at - original.begin();
        EXPECT_EQ(reader.errorText, "Premature end of JPEG file");
        ExpectHoldsNothing(reader);
    }
    // The fixtures: a frame header claiming 16000 x 16000 over 227 x 149 of
    // data, and an end marker halfway, from a file as from memory.
    for (const char* name :
         {"crashers/frame_claims_16000_squared.jpg", "crashers/end_marker_mid_scan.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(reader.Read(test::DataPath(name).string()));
        EXPECT_EQ(reader.errorText, "Premature end of JPEG file");
        const std::vector<std::uint8_t> bytes = test::ReadBytes(test::DataPath(name));
        EXPECT_FALSE(reader.ReadFromMemory(bytes.data(), bytes.size()));
        ExpectHoldsNothing(reader);
    }
    // The header alone is what it claims, for a caller to refuse before decoding.
    Image image;
    ImageHeader header;
    std::string reason;
    ASSERT_TRUE(ReadImageHeader(test::DataPath("crashers/frame_claims_16000_squared.jpg").string(),
                                header, reason))
        << reason;
    EXPECT_EQ(header.width, 16000u);
    EXPECT_EQ(header.height, 16000u);
    EXPECT_FALSE(
        LoadImageFile(test::DataPath("crashers/end_marker_mid_scan.jpg").string(), image, reason));
    EXPECT_EQ(reason, "Premature end of JPEG file");
}

TEST(JpegReaderDamage, AMissingEndMarkerOrAMissingLastScanStillDecode) {
    const std::vector<std::uint8_t> bytes = test::ReadBytes(test::DataPath("jpeg/testorig.jpg"));
    const Image expected = Expected("expected/testorig.ppm");
    JpegReader reader;
    // All rows are in the file; only the two-byte end-of-image marker is gone.
    ASSERT_TRUE(reader.ReadFromMemory(bytes.data(), bytes.size() - 2)) << reader.errorText;
    EXPECT_TRUE(ImageOf(reader).pixels == expected.pixels);
    // So are they in a progressive file cut where its last scan starts: the
    // image is only coarser.
    const std::vector<std::uint8_t> prog = test::ReadBytes(test::DataPath("jpeg/gen/prog.jpg"));
    const std::uint8_t sos[] = {0xFF, 0xDA};
    const auto lastScan = std::find_end(prog.begin(), prog.end(), sos, sos + 2);
    ASSERT_TRUE(
        reader.ReadFromMemory(prog.data(), static_cast<std::size_t>(lastScan - prog.begin())))
        << reader.errorText;
    EXPECT_FALSE(ImageOf(reader).pixels == Expected("expected/gen__prog.ppm").pixels);
}

TEST(JpegReaderLimits, APixelLimitAndAHugeFrameAreRefusedBeforeDecoding) {
    JpegReader reader;
    reader.pixelLimit = 227 * 149 - 1;
    EXPECT_FALSE(reader.Read(test::DataPath("jpeg/testorig.jpg").string()));
    EXPECT_EQ(reader.errorText, "Image too large in JPEG image.");
    reader.pixelLimit = 227 * 149;
    EXPECT_TRUE(reader.Read(test::DataPath("jpeg/testorig.jpg").string()));

    // Without a limit, a frame header patched to 65500 x 65500 is refused too.
    std::vector<std::uint8_t> bytes = test::ReadBytes(test::DataPath("jpeg/testorig.jpg"));
    const std::uint8_t marker[] = {0xFF, 0xC0};
    const auto sof = std::search(bytes.begin() + 2, bytes.end(), marker, marker + 2);
    ASSERT_LT(sof + 8, bytes.end());
    const std::uint8_t huge[] = {0xFF, 0xDC, 0xFF, 0xDC};  // the height, then the width
    std::copy(huge, huge + 4, sof + 5);
    reader.pixelLimit = JpegReader().pixelLimit;
    EXPECT_FALSE(reader.ReadFromMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(reader.errorText, "Image too large in JPEG image.");
    ExpectHoldsNothing(reader);
}

}  // namespace
}  // namespace weftloom
