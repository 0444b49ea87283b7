#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/image.h"

namespace weftloom::testing {

// A deterministic, structured sample: diagonal stripes and a checker, each
// channel different, so that channel swaps and flips show up in results.
inline Image PatternImage(std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerPixel,
                          std::uint32_t variant = 0) {
    Image image;
    image.Allocate(width, height, bytesPerPixel);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.PixelAt(x, y);
            const std::uint32_t stripe = ((x + 2 * y + variant) / 3) % 4;
            const std::uint32_t checker = ((x / 4) + (y / 4) + variant) % 2;
            const std::uint8_t channels[4] = {
                static_cast<std::uint8_t>(40 + stripe * 50 + checker * 10),
                static_cast<std::uint8_t>((x * 7 + y * 13 + variant * 29) % 256),
                static_cast<std::uint8_t>(checker ? 200 - stripe * 30 : 30 + stripe * 20),
                static_cast<std::uint8_t>(255 - (x ^ y) % 64)};
            for (std::uint32_t c = 0; c < bytesPerPixel && c < 4; ++c) {
                p[c] = channels[c];
            }
        }
    }
    return image;
}

// An image filled with one colour.
inline Image UniformImage(std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerPixel,
                          std::uint8_t value) {
    Image image;
    image.Allocate(width, height, bytesPerPixel);
    for (auto& byte : image.pixels) {
        byte = value;
    }
    return image;
}

// The image's fingerprint as 16 hex digits, the form golden values are kept in.
inline std::string HashImage(const Image& image) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx",
                  static_cast<unsigned long long>(Fingerprint(image)));
    return text;
}

}  // namespace weftloom::testing
