#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/image.h"

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

// Hands one block of the encoded file to the open stream; true only when the
// whole block was taken. WriteTga uses fwrite; tests pass one that fails.
using TgaBlockWriter =
    std::function<bool(std::FILE* file, const std::uint8_t* data, std::size_t size)>;

// True when WriteTga and EncodeTga accept the image.
bool CanWriteTga(const Image& image);

// Writes the image to path. The bytes go to a new file in the same folder,
// which replaces path only when every write, the flush and the close
// succeeded; on false nothing at path has changed, no file is left behind and
// errno says why (the first step that failed). A symbolic link at path is
// written through: the file it names is replaced and the link stays. When
// abort (any thread may set it) is set before the file replaces path, the
// write stops there with errno EINTR.
bool WriteTga(const Image& image, const std::string& path, const TgaBlockWriter& writeBlock = {},
              const std::atomic<bool>* abort = nullptr);

// The file a write to path really replaces: a symbolic link is followed
// (relative targets from the link's folder), so that the link stays and the
// file it names gets the new bytes; a dangling link names the file to create.
std::string SaveTargetOf(std::string path);

// Replaces bytes by the whole encoded file; false (bytes emptied) when refused.
bool EncodeTga(const Image& image, std::vector<std::uint8_t>& bytes);

}  // namespace weftloom
