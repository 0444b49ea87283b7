#pragma once

#include <cstdint>
#include <vector>

#include "engine/image.h"

namespace weftloom {

// Encodes an Image as an 8-bit PNG: RGB for 3-byte images, RGBA for 4-byte
// ones, not interlaced. Only images with 3 or 4 bytes per pixel, sides from 1
// to kMaxPngSide and a pixel block of the matching size are encoded.

// The largest width or height a PNG header can hold.
inline constexpr std::uint32_t kMaxPngSide = 0x7FFFFFFF;

// True when EncodePng accepts the image.
bool CanWritePng(const Image& image);

// Replaces bytes by the whole encoded file; false (bytes emptied) when refused
// or out of memory.
bool EncodePng(const Image& image, std::vector<std::uint8_t>& bytes);

}  // namespace weftloom
