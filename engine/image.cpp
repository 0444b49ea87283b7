#include "engine/image.h"

#include <new>

namespace weftloom {

bool Image::Allocate(std::uint32_t newWidth, std::uint32_t newHeight,
                     std::uint32_t newBytesPerPixel, const std::atomic<bool>* abort,
                     const RowProgress& progress) {
    pixels.clear();
    pixels.shrink_to_fit();
    width = newWidth;
    height = newHeight;
    bytesPerPixel = newBytesPerPixel;
    if (newWidth == 0 || newHeight == 0) {
        return true;
    }
    // 32-bit sides and a small channel count cannot overflow 64 bits, so the
    // product is exact before it is compared with the cap.
    const std::uint64_t bytes =
        std::uint64_t{newWidth} * newHeight * std::uint64_t{newBytesPerPixel};
    try {
        if (newBytesPerPixel == 0 || newBytesPerPixel > 4 || bytes > kMaxImageBytes) {
            throw std::bad_alloc();
        }
        if (abort == nullptr && !progress) {
            pixels.assign(static_cast<std::size_t>(bytes), 0);
        } else {
            // Reserved at once, cleared row by row: a large block takes a while
            // to clear, and an abort must not wait for all of it.
            pixels.reserve(static_cast<std::size_t>(bytes));
            const std::size_t rowBytes = std::size_t{newWidth} * newBytesPerPixel;
            for (std::uint32_t y = 0; y < newHeight; ++y) {
                if (abort != nullptr && abort->load(std::memory_order_relaxed)) {
                    std::vector<std::uint8_t>().swap(pixels);
                    width = height = bytesPerPixel = 0;
                    return false;
                }
                pixels.resize(pixels.size() + rowBytes, 0);
                if (progress) {
                    progress(y + 1, newHeight);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        std::vector<std::uint8_t>().swap(pixels);
        width = height = bytesPerPixel = 0;
        return false;
    }
    return true;
}

std::uint64_t Fingerprint(const Image& image) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    auto mix = [&hash](std::uint8_t byte) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    };
    for (std::uint32_t value : {image.width, image.height, image.bytesPerPixel}) {
        for (int shift = 0; shift < 32; shift += 8) {
            mix(static_cast<std::uint8_t>(value >> shift));
        }
    }
    for (std::uint8_t byte : image.pixels) {
        mix(byte);
    }
    return hash;
}

}  // namespace weftloom
