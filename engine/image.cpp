#include "engine/image.h"

#include <new>

namespace weftloom {

bool Image::Allocate(std::uint32_t newWidth, std::uint32_t newHeight,
                     std::uint32_t newBytesPerPixel) {
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
        pixels.assign(static_cast<std::size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        pixels.clear();
        width = height = bytesPerPixel = 0;
        return false;
    }
    return true;
}

}  // namespace weftloom
