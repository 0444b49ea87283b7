// Feeds arbitrary bytes to the TGA reader. A decoded image is built, every
// byte of it read, written back as TGA and read again: the second read must
// give the same pixels. A failure must leave the reader empty with a reason.

#include <cstdint>
#include <vector>

#include "engine/image.h"
#include "fuzz/fuzz_support.h"
#include "imageio/image_file.h"
#include "imageio/tga_reader.h"
#include "imageio/tga_writer.h"

using weftloom::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    weftloom::TgaReader reader;
    reader.pixelLimit = weftloom::fuzz::kPixelLimit;
    if (!reader.ReadFromMemory(data, size)) {
        Require(!reader.errorText.empty());
        Require(reader.width == 0 && reader.height == 0);
        Require(reader.plane.empty() && reader.palette.empty());
        return 0;
    }
    const std::size_t pixels = std::size_t{reader.width} * reader.height;
    Require(reader.plane.size() == pixels * (reader.HasPalette() ? 1 : 4));

    weftloom::Image image;
    Require(weftloom::ImageFromTga(reader, image));
    weftloom::fuzz::TouchEveryByte(image.pixels);
    weftloom::fuzz::TouchEveryByte(reader.plane);

    if (image.IsEmpty()) {
        return 0;
    }
    std::vector<std::uint8_t> encoded;
    Require(weftloom::EncodeTga(image, encoded));
    weftloom::TgaReader again;
    Require(again.ReadFromMemory(encoded.data(), encoded.size()));
    weftloom::Image second;
    Require(weftloom::ImageFromTga(again, second));
    Require(second.pixels == image.pixels);
    return 0;
}
