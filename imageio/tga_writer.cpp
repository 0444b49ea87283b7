#include "imageio/tga_writer.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <new>

namespace weftloom {
namespace {

constexpr std::size_t kHeaderSize = 18;

void PutHeader(const Image& image, std::uint8_t* header) {
    for (std::size_t i = 0; i < kHeaderSize; ++i) {
        header[i] = 0;
    }
    header[2] = 2;
    header[12] = static_cast<std::uint8_t>(image.width & 0xFF);
    header[13] = static_cast<std::uint8_t>(image.width >> 8);
    header[14] = static_cast<std::uint8_t>(image.height & 0xFF);
    header[15] = static_cast<std::uint8_t>(image.height >> 8);
    header[16] = static_cast<std::uint8_t>(image.bytesPerPixel * 8);
    header[17] = 0x20;
}

// Feeds the header and then one row at a time to emit(data, size), stopping
// at the first block it does not take. The caller has checked the image.
template <typename Emit>
bool EmitTga(const Image& image, Emit&& emit) {
    std::uint8_t header[kHeaderSize];
    PutHeader(image, header);
    if (!emit(header, kHeaderSize)) {
        return false;
    }
    const std::size_t bpp = image.bytesPerPixel;
    const std::size_t rowBytes = std::size_t{image.width} * bpp;
    std::unique_ptr<std::uint8_t[]> row(new (std::nothrow) std::uint8_t[rowBytes]);
    if (!row) {
        return false;
    }
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* source = image.PixelAt(0, y);
        std::uint8_t* out = row.get();
        for (std::uint32_t x = 0; x < image.width; ++x, source += bpp, out += bpp) {
            out[0] = source[2];
            out[1] = source[1];
            out[2] = source[0];
            if (bpp == 4) {
                out[3] = source[3];
            }
        }
        if (!emit(row.get(), rowBytes)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool CanWriteTga(const Image& image) {
    return IsWritableImage(image, kMaxTgaSide);
}

bool EncodeTga(const Image& image, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (!CanWriteTga(image)) {
        return false;
    }
    try {
        bytes.reserve(kHeaderSize + image.pixels.size());
        const bool written = EmitTga(image, [&](const std::uint8_t* data, std::size_t size) {
            bytes.insert(bytes.end(), data, data + size);
            return true;
        });
        if (!written) {
            bytes.clear();
        }
        return written;
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return false;
    }
}

bool WriteTga(const Image& image, const std::string& path, const TgaBlockWriter& writeBlock,
              const std::atomic<bool>* abort) {
    if (path.empty() || !CanWriteTga(image)) {
        errno = EINVAL;
        return false;
    }
    return ReplaceFile(
        path, [&image](const BlockSink& sink) { return EmitTga(image, sink); }, writeBlock, abort);
}

}  // namespace weftloom
