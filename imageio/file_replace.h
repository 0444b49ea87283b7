#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/image.h"

namespace weftloom {

// Replacing a file as a whole, for every image writer: the bytes go to a new
// file in the same folder, which replaces the target only when every write,
// the flush and the close succeeded.

// Hands one block of the encoded file to the open stream; true only when the
// whole block was taken. The writers use fwrite; tests pass one that fails.
using FileBlockWriter =
    std::function<bool(std::FILE* file, const std::uint8_t* data, std::size_t size)>;

// Feeds the blocks of a file, in order, to the function it is given, stopping
// at the first block that is not taken; true when all were.
using BlockSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;
using FileEmitter = std::function<bool(const BlockSink& sink)>;

// Writes what emit gives to path. On false nothing at path has changed, no
// file is left behind and errno says why (the first step that failed). A
// symbolic link at path is written through: the file it names is replaced and
// the link stays; a file that exists keeps its permissions. When abort (any
// thread may set it) is set before the file replaces path, the write stops
// there with errno EINTR.
bool ReplaceFile(const std::string& path, const FileEmitter& emit,
                 const FileBlockWriter& writeBlock = {}, const std::atomic<bool>* abort = nullptr);

// True when an image writer can take the image: 3 or 4 bytes per pixel,
// sides from 1 to maxSide and a pixel block of the matching size.
bool IsWritableImage(const Image& image, std::uint32_t maxSide);

// The file a write to path really replaces: a symbolic link is followed
// (relative targets from the link's folder), so that the link stays and the
// file it names gets the new bytes; a dangling link names the file to create.
std::string SaveTargetOf(std::string path);

}  // namespace weftloom
