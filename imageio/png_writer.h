#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/image.h"
#include "imageio/file_replace.h"

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

// Writes the image as PNG to path through ReplaceFile (the file appears whole
// or not at all; see there for links, permissions, abort and errno). The file
// is encoded in memory first, then written in blocks, the signature and
// header first.
bool WritePng(const Image& image, const std::string& path, const FileBlockWriter& writeBlock = {},
              const std::atomic<bool>* abort = nullptr);

}  // namespace weftloom
