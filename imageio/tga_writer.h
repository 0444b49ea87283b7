#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/image.h"
#include "imageio/file_replace.h"

namespace weftloom {

// Stores an Image as an uncompressed true-colour TGA file: type 2, 24 bits for
// 3-byte images and 32 bits for 4-byte ones, top-left origin, no image ID,
// colour map or footer. Channels 0, 1, 2 (red, green, blue) are written as
// blue, green, red, followed by channel 3 (alpha) for 4-byte images.
//
// Only images with 3 or 4 bytes per pixel, sides from 1 to kMaxTgaSide and a
// pixel block of the matching size are written; anything else is refused
// before a file is touched.
//
// The functions keep no state; any thread may call them, for different paths.

// The largest width or height a TGA header can hold.
inline constexpr std::uint32_t kMaxTgaSide = 65535;

using TgaBlockWriter = FileBlockWriter;

// True when WriteTga and EncodeTga accept the image.
bool CanWriteTga(const Image& image);

// Writes the image to path through ReplaceFile (the file appears whole or
// not at all; see there for links, permissions, abort and errno).
bool WriteTga(const Image& image, const std::string& path, const TgaBlockWriter& writeBlock = {},
              const std::atomic<bool>* abort = nullptr);

// Replaces bytes by the whole encoded file; false (bytes emptied) when refused.
bool EncodeTga(const Image& image, std::vector<std::uint8_t>& bytes);

}  // namespace weftloom
