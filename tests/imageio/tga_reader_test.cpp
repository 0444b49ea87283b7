#include "imageio/tga_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "tests/support/test_files.h"

namespace weftloom {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kPaletteDepthText = "Unsupported palette bit depth in TGA image.";
constexpr const char* kColorMapText = "Error reading color map from TGA image.";
constexpr const char* kDataText = "Error reading data from TGA image.";

// TGA files built byte by byte, so that every header field and every packet
// is spelled out where the test uses it.
struct TgaHeader {
    std::uint8_t idLength = 0, colorMapType = 0, imageType = 2;
    std::uint16_t firstEntry = 0, mapLength = 0;
    std::uint8_t entryBits = 0;
    std::uint16_t xOrigin = 0, yOrigin = 0, width = 0, height = 0;
    std::uint8_t depth = 24, descriptor = 0x20;
};

Bytes HeaderBytes(const TgaHeader& h) {
    auto lo = [](unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](unsigned v) { return static_cast<std::uint8_t>(v >> 8); };
    return {h.idLength,      h.colorMapType,  h.imageType, lo(h.firstEntry), hi(h.firstEntry),
            lo(h.mapLength), hi(h.mapLength), h.entryBits, lo(h.xOrigin),    hi(h.xOrigin),
            lo(h.yOrigin),   hi(h.yOrigin),   lo(h.width), hi(h.width),      lo(h.height),
            hi(h.height),    h.depth,         h.descriptor};
}

TgaHeader With(std::uint8_t type, std::uint16_t w, std::uint16_t h, std::uint8_t depth,
               std::uint16_t mapLength = 0, std::uint8_t entryBits = 0) {
    TgaHeader header;
    header.imageType = type;
    header.width = w;
    header.height = h;
    header.depth = depth;
    header.colorMapType = mapLength != 0 ? 1 : 0;
    header.mapLength = mapLength;
    header.entryBits = entryBits;
    return header;
}

Bytes File(const TgaHeader& header, const Bytes& body) {
    Bytes file = HeaderBytes(header);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

void ExpectHoldsNothing(const TgaReader& reader) {
    EXPECT_EQ(reader.width, 0u);
    EXPECT_EQ(reader.height, 0u);
    EXPECT_TRUE(reader.plane.empty());
    EXPECT_TRUE(reader.palette.empty());
}

bool Read(TgaReader& reader, const Bytes& bytes) {
    return reader.ReadFromMemory(bytes.data(), bytes.size());
}

// Small files for what the real files below do not hold: 15- and 16-bit
// pixels with their alpha bit, alpha kept, palettes of every entry size, the
// header fields that play no part and the one that decides about a palette.
TEST(TgaReaderDecoding, SmallFilesGiveTheirPlaneAndPalette) {
    struct Decoding {
        const char* name;
        Bytes file;
        Bytes plane;    // RGBA per pixel, or indices
        Bytes palette;  // RGBA per entry
    };
    TgaHeader ignored = With(1, 2, 1, 8, 2, 8);
    ignored.firstEntry = 7;
    ignored.xOrigin = 300;
    ignored.yOrigin = 5;
    ignored.descriptor = 0x20 | 0x10 | 0x08;  // right to left, alpha bits
    TgaHeader mapTypeZero = With(1, 1, 1, 8, 1, 24);
    mapTypeZero.colorMapType = 0;
    const Decoding decodings[] = {
        {"15-bit raw",
         File(With(2, 2, 1, 15), {0x00, 0xFC, 0xE0, 0x03}),
         {248, 0, 0, 255, 0, 248, 0, 0},
         {}},
        {"16-bit run",
         File(With(10, 2, 1, 16), {0x81, 0x1F, 0x00}),
         {0, 0, 248, 0, 0, 0, 248, 0},
         {}},
        {"32-bit keeps alpha", File(With(2, 1, 1, 32), {1, 2, 3, 4}), {3, 2, 1, 4}, {}},
        {"grey run", File(With(11, 2, 1, 8), {0x81, 77}), {77, 77, 77, 255, 77, 77, 77, 255}, {}},
        {"8-bit entries",
         File(With(1, 2, 1, 8, 2, 8), {10, 20, 1, 0}),
         {1, 0},
         {10, 10, 10, 255, 20, 20, 20, 255}},
        {"16-bit entries, run",
         File(With(9, 2, 1, 8, 1, 16), {0x00, 0xFC, 0x81, 0}),
         {0, 0},
         {248, 0, 0, 255}},
        {"32-bit entries", File(With(1, 1, 1, 8, 1, 32), {1, 2, 3, 4, 0}), {0}, {3, 2, 1, 4}},
        {"fields that play no part",
         File(ignored, {10, 20, 1, 0}),
         {1, 0},
         {10, 10, 10, 255, 20, 20, 20, 255}},
        {"map type 0 with a map", File(mapTypeZero, {1, 2, 3, 0}), {0}, {3, 2, 1, 255}},
        {"type 1 without a map is grey", File(With(1, 1, 1, 8), {77}), {77, 77, 77, 255}, {}},
    };
    for (const Decoding& decoding : decodings) {
        SCOPED_TRACE(decoding.name);
        TgaReader reader;
        ASSERT_TRUE(Read(reader, decoding.file)) << reader.errorText;
        EXPECT_EQ(reader.errorText, "");
        EXPECT_EQ(reader.plane, decoding.plane);
        EXPECT_EQ(reader.palette, decoding.palette);
    }
}

// Failures: each gives its text and leaves nothing behind, also when the
// reader held an image before. The hostile files below add more.
TEST(TgaReaderRefusal, EachFaultFailsWithItsTextAndHoldsNothing) {
    struct Refusal {
        const char* name;
        Bytes file;
        const char* text;
    };
    constexpr const char* kTypeText = "Unsupported image type in TGA image.";
    TgaHeader withId = With(2, 1, 1, 24);
    withId.idLength = 30;
    const Refusal refusals[] = {
        {"empty", {}, "Error reading header from TGA image."},
        {"short header", Bytes(17, 0), "Error reading header from TGA image."},
        {"image ID cut short", HeaderBytes(withId), "Error reading image ID from TGA image."},
        {"type 0", File(With(0, 1, 1, 24), {1, 2, 3}), kTypeText},
        {"type 32", File(With(32, 1, 1, 24), {1, 2, 3}), kTypeText},
        {"palette of 16-bit pixels", File(With(1, 1, 1, 16, 1, 24), {0, 0, 0, 0, 0}),
         kPaletteDepthText},
        {"depth 0", File(With(2, 1, 1, 0), {1}), "Unsupported pixel bit depth in TGA image."},
        {"map cut short", File(With(1, 1, 1, 8, 3, 24), {1, 2, 3, 4, 5, 6, 7}), kColorMapText},
        {"raw data cut short", File(With(2, 2, 2, 24), {1, 2, 3, 4, 5, 6, 7, 8, 9}), kDataText},
        {"run value cut short", File(With(10, 2, 2, 24), {0x83, 1, 2}), kDataText},
        {"packets run out", File(With(10, 200, 1, 24), {0x83, 1, 2, 3, 0x83, 1, 2, 3}), kDataText},
        {"run of an index past a one-entry map", File(With(9, 2, 1, 8, 1, 24), {1, 2, 3, 0x81, 5}),
         "Palette index 5 past the palette's 1 entry in TGA image."},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        TgaReader reader;
        ASSERT_TRUE(Read(reader, File(With(2, 1, 1, 24), {1, 2, 3})));
        EXPECT_FALSE(Read(reader, refusal.file));
        EXPECT_EQ(reader.errorText, refusal.text);
        ExpectHoldsNothing(reader);
    }
    TgaReader reader;
    EXPECT_FALSE(reader.Read(test::DataPath("tga").string()));
    EXPECT_EQ(reader.errorText, "Error opening TGA image.");
    ExpectHoldsNothing(reader);
    // The pixel limit is checked before the data.
    reader.pixelLimit = 5;
    const Bytes file = File(With(2, 3, 2, 24), Bytes(18, 9));
    EXPECT_FALSE(Read(reader, file));
    EXPECT_EQ(reader.errorText, "Image too large in TGA image.");
    reader.pixelLimit = 6;
    EXPECT_TRUE(Read(reader, file));
}

// Every prefix of a valid file must fail cleanly.
TEST(TgaReaderTruncation, EveryPrefixOfAValidFileFails) {
    for (const char* name : {"tga/common/200x32_p_bl_rle.tga", "tga/common/200x32_la_tl_raw.tga",
                             "tga/cross_scan_line.tga", "tga/rgba16.tga", "tga/tga_id_field.tga"}) {
        SCOPED_TRACE(name);
        const Bytes bytes = test::ReadBytes(test::DataPath(name));
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
            ASSERT_NE(reader.errorText, "");
            ExpectHoldsNothing(reader);
        }
    }
}

// The conformance set: every file against the image it must give, read from
// the file (in 64 KiB blocks, which several files outgrow, so that packets
// straddle them) and from memory alike.
TEST(TgaReaderConformance, RealFilesGiveTheirExpectedImages) {
    const auto rows = test::ReadExpectedTable(test::DataPath("tga/EXPECTED.tsv"));
    ASSERT_GE(rows.size(), 30u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        TgaReader reader;
        TgaReader fromMemory;
        const bool ok = reader.Read(test::DataPath("tga/" + row.file).string());
        EXPECT_EQ(Read(fromMemory, test::ReadBytes(test::DataPath("tga/" + row.file))), ok);
        EXPECT_EQ(fromMemory.plane, reader.plane);
        if (row.result == "FAIL") {
            EXPECT_FALSE(ok);
            EXPECT_NE(reader.errorText, "");
            if (row.expected.find('"') != std::string::npos) {
                EXPECT_NE(row.expected.find('"' + reader.errorText + '"'), std::string::npos)
                    << reader.errorText;
            }
            ExpectHoldsNothing(reader);
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
    }
}

// Hostile files kept as regression fixtures: what each must give, as the
// image it decodes to or the text of its refusal.
TEST(TgaReaderCrashers, EachGivesItsImageOrItsRefusal) {
    struct Crasher {
        const char* file;
        const char* text;  // nullptr: read, giving `pixels`
        Bytes pixels;
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
        // An index past the end of the map names no colour.
        {"palette_index_past_end.tga",
         "Palette index 200 past the palette's 2 entries in TGA image.",
         {}},
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
            EXPECT_EQ(reader.errorText, crasher.text);
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
