// Feeds arbitrary bytes to the JPEG reader and reads every byte of a decoded
// image. A failure must leave the reader empty with a reason.

#include <cstdint>

#include "engine/image.h"
#include "fuzz/fuzz_support.h"
#include "imageio/image_file.h"
#include "imageio/jpeg_reader.h"

using weftloom::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    weftloom::JpegReader reader;
    reader.pixelLimit = weftloom::fuzz::kPixelLimit;
    if (!reader.ReadFromMemory(data, size)) {
        Require(!reader.errorText.empty());
        Require(reader.width == 0 && reader.height == 0 && reader.pixels.empty());
        return 0;
    }
    Require(reader.pixels.size() == std::size_t{reader.width} * reader.height * 3);
    weftloom::Image image;
    Require(weftloom::ImageFromJpeg(reader, image));
    weftloom::fuzz::TouchEveryByte(image.pixels);
    return 0;
}
