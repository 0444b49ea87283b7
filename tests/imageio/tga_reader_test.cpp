#include "imageio/tga_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "tests/support/test_files.h"
#include "tests/support/tga_builder.h"

namespace weftloom {
namespace {

using test::Append;
using test::HeaderBytes;
using test::Rgba;
using test::StoredValue;
using test::TgaHeader;

constexpr const char* kPaletteDepthText = "Unsupported palette bit depth in TGA image.";
constexpr const char* kColorMapText = "Error reading color map from TGA image.";
constexpr const char* kDataText = "Error reading data from TGA image.";

void ExpectHoldsNothing(const TgaReader& reader) {
    EXPECT_EQ(reader.width, 0u);
    EXPECT_EQ(reader.height, 0u);
    EXPECT_TRUE(reader.plane.empty());
    EXPECT_TRUE(reader.palette.empty());
}

bool Read(TgaReader& reader, const std::vector<std::uint8_t>& bytes) {
    return reader.ReadFromMemory(bytes.data(), bytes.size());
}

Rgba PlanePixel(const TgaReader& reader, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = &reader.plane[(std::size_t{y} * reader.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

TgaHeader With(std::uint8_t type, std::uint16_t w, std::uint16_t h, std::uint8_t depth,
               std::uint16_t mapLength = 0, std::uint8_t entryBits = 0) {
    TgaHeader header;
    header.imageType = type;
    header.width = w;
    header.height = h;
    header.depth = depth;
    header.mapLength = mapLength;
    header.entryBits = entryBits;
    return header;
}

std::vector<std::uint8_t> File(const TgaHeader& header, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> file = HeaderBytes(header);
    Append(file, body);
    return file;
}

// A 5 x 3 picture, top row first: no symmetry, red and blue far apart so a
// channel swap shows, and a run of equal pixels that crosses the end of the
// first row. Every value is a multiple of 8 and every alpha 0 or 255, so the
// 16-bit layout holds it exactly.
const std::vector<Rgba>& Picture() {
    static const std::vector<Rgba> picture = {
        {248, 0, 0, 255},  {0, 248, 0, 255}, {0, 0, 248, 0},     {8, 16, 24, 255},
        {8, 16, 24, 255},  {8, 16, 24, 255}, {8, 16, 24, 255},   {200, 96, 40, 255},
        {40, 96, 200, 0},  {0, 0, 0, 255},   {248, 248, 248, 0}, {120, 64, 8, 255},
        {64, 8, 120, 255}, {16, 0, 0, 255},  {0, 0, 16, 255},
    };
    return picture;
}
constexpr std::uint16_t kPictureWidth = 5;
constexpr std::uint16_t kPictureHeight = 3;

// The picture's pixel values in storage order for the given row order.
std::vector<std::uint8_t> StoredPicture(unsigned valueBytes, bool topDown) {
    std::vector<std::uint8_t> values;
    for (unsigned stored = 0; stored < kPictureHeight; ++stored) {
        const unsigned row = topDown ? stored : kPictureHeight - 1 - stored;
        for (unsigned x = 0; x < kPictureWidth; ++x) {
            Append(values, StoredValue(Picture()[row * kPictureWidth + x], valueBytes));
        }
    }
    return values;
}

// What the reader must hold for a picture pixel stored with the given size.
Rgba Decoded(Rgba c, unsigned valueBytes) {
    switch (valueBytes) {
        case 1:
            return {c.r, c.r, c.r, 255};
        case 2:
            return {c.r, c.g, c.b, static_cast<std::uint8_t>(c.a >= 128 ? 255 : 0)};
        case 3:
            return {c.r, c.g, c.b, 255};
        default:
            return c;
    }
}

struct TrueColourCase {
    std::uint8_t depth;
    bool topDown;
    bool runLength;
};

class TrueColourDecoding : public testing::TestWithParam<TrueColourCase> {};

TEST_P(TrueColourDecoding, GivesThePictureInBothRowOrders) {
    const auto [depth, topDown, runLength] = GetParam();
    const unsigned valueBytes = depth == 15 ? 2u : depth / 8u;
    TgaHeader h = With(static_cast<std::uint8_t>((valueBytes == 1 ? 3 : 2) + (runLength ? 8 : 0)),
                       kPictureWidth, kPictureHeight, depth);
    h.descriptor = topDown ? 0x20 : 0x00;
    const std::vector<std::uint8_t> values = StoredPicture(valueBytes, topDown);
    const auto file = File(h, runLength ? test::RunLengthPackets(values, valueBytes) : values);

    TgaReader reader;
    ASSERT_TRUE(Read(reader, file)) << reader.errorText;
    EXPECT_EQ(reader.errorText, nullptr);
    ASSERT_EQ(reader.width, kPictureWidth);
    ASSERT_EQ(reader.height, kPictureHeight);
    EXPECT_FALSE(reader.HasPalette());
    for (std::uint32_t y = 0; y < kPictureHeight; ++y) {
        for (std::uint32_t x = 0; x < kPictureWidth; ++x) {
            const Rgba want = Decoded(Picture()[y * kPictureWidth + x], valueBytes);
            const Rgba got = PlanePixel(reader, x, y);
            EXPECT_EQ(got, want) << "pixel " << x << "," << y << ": got " << int{got.r} << " "
                                 << int{got.g} << " " << int{got.b} << " " << int{got.a};
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllDepths, TrueColourDecoding,
    testing::Values(TrueColourCase{8, true, false}, TrueColourCase{8, false, true},
                    TrueColourCase{15, true, false}, TrueColourCase{16, false, false},
                    TrueColourCase{16, true, true}, TrueColourCase{24, true, false},
                    TrueColourCase{24, false, false}, TrueColourCase{24, true, true},
                    TrueColourCase{24, false, true}, TrueColourCase{32, true, false},
                    TrueColourCase{32, false, true}),
    [](const testing::TestParamInfo<TrueColourCase>& param) {
        return "depth" + std::to_string(param.param.depth) +
               (param.param.topDown ? "_topdown" : "_bottomup") +
               (param.param.runLength ? "_rle" : "_raw");
    });

// Palette images: a 3 x 2 picture of indices into a 4-entry map.
struct PaletteCase {
    std::uint8_t entryBits;
    bool runLength;
};

class PaletteDecoding : public testing::TestWithParam<PaletteCase> {};

TEST_P(PaletteDecoding, StoresIndicesAndConvertsEntries) {
    const auto [entryBits, runLength] = GetParam();
    const unsigned entryBytes = entryBits / 8u;
    const std::vector<Rgba> entries = {
        {248, 0, 0, 255}, {0, 0, 248, 255}, {8, 128, 64, 0}, {200, 16, 96, 255}};
    // Top row 0 1 2, bottom row 3 3 0; stored bottom-up.
    const std::vector<std::uint8_t> stored = {3, 3, 0, 0, 1, 2};
    TgaHeader h = With(runLength ? 9 : 1, 3, 2, 8, 4, entryBits);
    h.colorMapType = 1;
    h.descriptor = 0x00;
    std::vector<std::uint8_t> file = HeaderBytes(h);
    for (const Rgba& entry : entries) {
        Append(file, StoredValue(entry, entryBytes));
    }
    Append(file, runLength ? test::RunLengthPackets(stored, 1) : stored);

    TgaReader reader;
    ASSERT_TRUE(Read(reader, file)) << reader.errorText;
    ASSERT_TRUE(reader.HasPalette());
    EXPECT_EQ(reader.plane, (std::vector<std::uint8_t>{0, 1, 2, 3, 3, 0}));
    ASSERT_EQ(reader.palette.size(), 16u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Rgba want = Decoded(entries[i], entryBytes);
        const Rgba got = {reader.palette[i * 4], reader.palette[i * 4 + 1],
                          reader.palette[i * 4 + 2], reader.palette[i * 4 + 3]};
        EXPECT_EQ(got, want) << "entry " << i;
    }
    Image image;
    ASSERT_TRUE(ImageFromTga(reader, image));
    std::vector<std::uint8_t> want;
    for (std::uint8_t index : reader.plane) {
        const Rgba c = Decoded(entries[index], entryBytes);
        Append(want, {c.r, c.g, c.b});
    }
    EXPECT_EQ(image.pixels, want);
}

INSTANTIATE_TEST_SUITE_P(EntrySizes, PaletteDecoding,
                         testing::Values(PaletteCase{8, false}, PaletteCase{16, false},
                                         PaletteCase{24, false}, PaletteCase{32, false},
                                         PaletteCase{24, true}, PaletteCase{16, true}),
                         [](const testing::TestParamInfo<PaletteCase>& param) {
                             return "entry" + std::to_string(param.param.entryBits) +
                                    (param.param.runLength ? "_rle" : "_raw");
                         });

// Header fields that must play no part, and fields that decide alone.
TEST(TgaReaderHeader, OnlyTheMapLengthDecidesAboutThePalette) {
    // Colour-map type 0 with a non-zero length is still a palette image.
    TgaReader reader;
    ASSERT_TRUE(Read(reader, File(With(1, 1, 1, 8, 1, 24), {1, 2, 3, 0})));
    ASSERT_TRUE(reader.HasPalette());
    Image image;
    ASSERT_TRUE(ImageFromTga(reader, image));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{3, 2, 1}));

    // Type 1 without a colour map is read as grey.
    ASSERT_TRUE(Read(reader, File(With(1, 1, 1, 8), {77})));
    EXPECT_FALSE(reader.HasPalette());
    EXPECT_EQ(PlanePixel(reader, 0, 0), (Rgba{77, 77, 77, 255}));
}

TEST(TgaReaderHeader, IgnoresFirstEntryOriginAndRightToLeftBit) {
    const TgaHeader plain = With(1, 2, 1, 8, 2, 24);
    TgaHeader odd = plain;
    odd.firstEntry = 7;
    odd.xOrigin = 300;
    odd.yOrigin = 5;
    odd.descriptor = 0x20 | 0x10 | 0x08;
    const std::vector<std::uint8_t> body = {0, 0, 255, 255, 0, 0, 1, 0};
    TgaReader first, second;
    ASSERT_TRUE(Read(first, File(plain, body)));
    ASSERT_TRUE(Read(second, File(odd, body)));
    EXPECT_EQ(first.plane, second.plane);
    EXPECT_EQ(first.palette, second.palette);
    Image image;
    ASSERT_TRUE(ImageFromTga(second, image));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{0, 0, 255, 255, 0, 0}));
}

// Failures: each gives its text and leaves nothing behind, also when the
// reader held an image before. The hostile files below add more.
TEST(TgaReaderRefusal, EachFaultFailsWithItsTextAndHoldsNothing) {
    struct Refusal {
        const char* name;
        TgaHeader header;
        std::vector<std::uint8_t> body;
        const char* text;
    };
    constexpr const char* kTypeText = "Unsupported image type in TGA image.";
    const Refusal refusals[] = {
        {"type 0", With(0, 1, 1, 24), {1, 2, 3}, kTypeText},
        {"type 32", With(32, 1, 1, 24), {1, 2, 3}, kTypeText},
        {"palette of 16-bit pixels", With(1, 1, 1, 16, 1, 24), {0, 0, 0, 0, 0}, kPaletteDepthText},
        {"depth 0", With(2, 1, 1, 0), {1}, "Unsupported pixel bit depth in TGA image."},
        {"map cut short", With(1, 1, 1, 8, 3, 24), {1, 2, 3, 4, 5, 6, 7}, kColorMapText},
        {"raw data cut short", With(2, 2, 2, 24), {1, 2, 3, 4, 5, 6, 7, 8, 9}, kDataText},
        {"run value cut short", With(10, 2, 2, 24), {0x83, 1, 2}, kDataText},
        {"packets run out", With(10, 200, 1, 24), {0x83, 1, 2, 3, 0x83, 1, 2, 3}, kDataText},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        TgaReader reader;
        ASSERT_TRUE(Read(reader, File(With(2, 1, 1, 24), {1, 2, 3})));
        EXPECT_FALSE(Read(reader, File(refusal.header, refusal.body)));
        EXPECT_STREQ(reader.errorText, refusal.text);
        ExpectHoldsNothing(reader);
    }
}

TEST(TgaReaderRefusal, ShortHeaderImageIdAndUnopenableFilesHaveTheirOwnTexts) {
    TgaReader reader;
    const std::vector<std::uint8_t> header = HeaderBytes(With(2, 1, 1, 24));
    EXPECT_FALSE(reader.ReadFromMemory(header.data(), 17));
    EXPECT_STREQ(reader.errorText, "Error reading header from TGA image.");
    EXPECT_FALSE(reader.ReadFromMemory(nullptr, 0));
    EXPECT_STREQ(reader.errorText, "Error reading header from TGA image.");

    TgaHeader withId = With(2, 1, 1, 24);
    withId.idLength = 30;
    EXPECT_FALSE(Read(reader, HeaderBytes(withId)));
    EXPECT_STREQ(reader.errorText, "Error reading image ID from TGA image.");
    ExpectHoldsNothing(reader);

    EXPECT_FALSE(reader.Read(test::DataPath("tga/no_such_file.tga").string()));
    EXPECT_STREQ(reader.errorText, "Error opening TGA image.");
    EXPECT_FALSE(reader.Read(test::DataPath("tga").string()));
    ExpectHoldsNothing(reader);
}

TEST(TgaReaderRefusal, PixelLimitIsCheckedBeforeTheData) {
    TgaReader reader;
    reader.pixelLimit = 5;
    const std::vector<std::uint8_t> file =
        File(With(2, 3, 2, 24), std::vector<std::uint8_t>(18, 9));
    EXPECT_FALSE(Read(reader, file));
    EXPECT_STREQ(reader.errorText, "Image too large in TGA image.");
    reader.pixelLimit = 6;
    EXPECT_TRUE(Read(reader, file));
    EXPECT_EQ(reader.errorText, nullptr);
}

// Every prefix of a valid file must fail cleanly: from disk through the
// chunked buffer, and from memory.
TEST(TgaReaderTruncation, EveryPrefixOfAValidFileFails) {
    const char* files[] = {"tga/common/200x32_p_bl_rle.tga", "tga/common/200x32_la_tl_raw.tga",
                           "tga/cross_scan_line.tga",        "tga/rgba16.tga",
                           "tga/tga_id_field.tga",           "tga/common/1x1_l_bl_rle.tga"};
    test::ScratchFolder folder;
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> bytes = test::ReadBytes(test::DataPath(name));
        ASSERT_FALSE(bytes.empty());
        TgaReader reader;
        ASSERT_TRUE(Read(reader, bytes));
        // The decoded part ends before any trailing footer: find its length
        // as the shortest prefix that still reads.
        std::size_t needed = bytes.size();
        while (needed > 0 && reader.ReadFromMemory(bytes.data(), needed - 1)) {
            --needed;
        }
        for (std::size_t size = 0; size < needed; ++size) {
            ASSERT_FALSE(reader.ReadFromMemory(bytes.data(), size)) << "prefix " << size;
            ASSERT_NE(reader.errorText, nullptr);
            ExpectHoldsNothing(reader);
        }
        // A sample of the prefixes again through a real file.
        for (std::size_t size = 0; size < needed; size += 1 + needed / 40) {
            const auto path = folder / "cut.tga";
            test::WriteBytes(
                path, std::vector<std::uint8_t>(bytes.begin(),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(size)));
            ASSERT_FALSE(reader.Read(path.string())) << "prefix " << size;
            ExpectHoldsNothing(reader);
        }
    }
}

TEST(TgaReaderFiles, FileMemoryAndThreadsAgree) {
    std::vector<std::string> paths;
    for (const char* name :
         {"tga/rgb32rle.tga", "tga/common/200x32_rgba_tl_rle.tga", "tga/p_16.tga",
          "tga/tga_id_field.tga", "tga/rgb32rle_top_right.tga"}) {
        paths.push_back(test::DataPath(name).string());
    }
    // The last is larger than the 64 KiB read buffer, so packets straddle chunk ends.
    ASSERT_GT(std::filesystem::file_size(paths.back()), 65536u * 1.5);
    for (const std::string& path : paths) {
        TgaReader fromFile, fromMemory;
        ASSERT_TRUE(fromFile.Read(path));
        ASSERT_TRUE(Read(fromMemory, test::ReadBytes(path)));
        EXPECT_EQ(fromFile.plane, fromMemory.plane) << path;
    }
    EXPECT_TRUE(test::SameResultsOnThreads(paths, [](const std::string& path) {
        TgaReader reader;
        return reader.Read(path) ? reader.plane : std::vector<std::uint8_t>{};
    }));
}

// The conformance set: every file against the image it must give.
TEST(TgaReaderConformance, RealFilesGiveTheirExpectedImages) {
    const auto rows = test::ReadExpectedTable(test::DataPath("tga/EXPECTED.tsv"));
    ASSERT_GE(rows.size(), 30u);
    int checked = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        TgaReader reader;
        const bool ok = reader.Read(test::DataPath("tga/" + row.file).string());
        if (row.result == "FAIL") {
            EXPECT_FALSE(ok);
            EXPECT_NE(reader.errorText, nullptr);
            ExpectHoldsNothing(reader);
            ++checked;
            continue;
        }
        ASSERT_EQ(row.result, "OK");
        ASSERT_TRUE(ok) << reader.errorText;
        Image image, expected;
        ASSERT_TRUE(ImageFromTga(reader, image));
        ASSERT_TRUE(test::ReadPpm(test::DataPath("tga/" + row.expected), expected));
        EXPECT_EQ(image.width, row.width);
        EXPECT_EQ(image.height, row.height);
        EXPECT_EQ(image.bytesPerPixel, 3u);
        EXPECT_TRUE(image.pixels == expected.pixels);
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(rows.size()));
}

// Hostile files kept as regression fixtures: what each must give, as the
// image it decodes to or the text of its refusal.
TEST(TgaReaderCrashers, EachGivesItsImageOrItsRefusal) {
    struct Crasher {
        const char* file;
        const char* text;  // nullptr: read, giving `pixels`
        std::vector<std::uint8_t> pixels;
    };
    const Crasher crashers[] = {
        // A run past the last pixel is clipped.
        {"rle_overrun.tga",
         nullptr,
         {16, 32, 48, 16, 32, 48, 16, 32, 48, 16, 32, 48, 16, 32, 48, 16, 32, 48}},
        // A raw packet past the last pixel reads only what it needs.
        {"raw_packet_overrun.tga",
         nullptr,
         {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 18, 17, 16}},
        // Width 0 ends without decoding.
        {"zero_width.tga", nullptr, {}},
        // An index past the end of the map gives black.
        {"palette_index_past_end.tga", nullptr, {255, 0, 0, 0, 0, 0, 0, 0, 255}},
        // Refused before allocating.
        {"huge_header.tga", "Image too large in TGA image.", {}},
        // Under the pixel limit, but the claims need more data than the file has.
        {"huge_rle_header.tga", kDataText, {}},
        {"huge_color_map.tga", kColorMapText, {}},
        {"palette_with_24bit_pixels.tga", kPaletteDepthText, {}},
        {"depth_12.tga", "Unsupported pixel bit depth in TGA image.", {}},
        {"entry_size_20.tga", "Unsupported color map entry size in TGA image.", {}},
    };
    for (const Crasher& crasher : crashers) {
        SCOPED_TRACE(crasher.file);
        TgaReader reader;
        const bool ok =
            reader.Read(test::DataPath(std::string("crashers/") + crasher.file).string());
        if (crasher.text != nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_STREQ(reader.errorText, crasher.text);
            ExpectHoldsNothing(reader);
            continue;
        }
        ASSERT_TRUE(ok) << reader.errorText;
        Image image;
        ASSERT_TRUE(ImageFromTga(reader, image));
        EXPECT_EQ(image.pixels, crasher.pixels);
    }
}

}  // namespace
}  // namespace weftloom
