// Feeds arbitrary bytes to the JPEG reader and reads every byte of a decoded
// image. A failure must leave the reader empty with a reason.

#include <cstdint>
#include <cstdlib>

#include "engine/image.h"
#include "imageio/image_file.h"
#include "imageio/jpeg_reader.h"

namespace {

// Keeps each run small and quick: a 3 MiB image at most.
constexpr std::uint64_t kFuzzPixelLimit = std::uint64_t{1} << 20;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    weftloom::JpegReader reader;
    reader.pixelLimit = kFuzzPixelLimit;
    if (!reader.ReadFromMemory(data, size)) {
        Require(!reader.errorText.empty());
        Require(reader.width == 0 && reader.height == 0 && reader.pixels.empty());
        return 0;
    }
    Require(reader.pixels.size() == std::size_t{reader.width} * reader.height * 3);
    weftloom::Image image;
    Require(weftloom::ImageFromJpeg(reader, image));
    unsigned sum = 0;
    for (std::uint8_t byte : image.pixels) {
        sum += byte;
    }
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
