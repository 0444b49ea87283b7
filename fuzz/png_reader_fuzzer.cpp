// Feeds arbitrary bytes to the PNG reader and reads every byte of a decoded
// image. A failure must leave the reader empty with a reason.

#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "imageio/png_reader.h"

using weftloom::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    weftloom::PngReader reader;
    reader.pixelLimit = weftloom::fuzz::kPixelLimit;
    if (!reader.ReadFromMemory(data, size)) {
        Require(!reader.errorText.empty());
        Require(reader.width == 0 && reader.height == 0 && reader.pixels.empty());
        return 0;
    }
    Require(reader.channels == 3 || reader.channels == 4);
    Require(reader.pixels.size() == std::size_t{reader.width} * reader.height * reader.channels);
    weftloom::fuzz::TouchEveryByte(reader.pixels);
    return 0;
}
