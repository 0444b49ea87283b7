#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imageio/read_limits.h"

namespace weftloom {

// Decodes a PNG file through libspng into 8-bit pixels: every colour type and
// bit depth, interlaced or not. Grey and palette images become R = G = B or
// the palette's colours; 16-bit samples are rounded to the nearest 8-bit
// value. An image with an alpha channel or a transparency chunk keeps its
// alpha as a fourth byte (channels == 4); any other has channels == 3.
//
// After a successful Read the reader owns `pixels`: width x height pixels,
// row-major, row 0 = top, `channels` bytes each. After a failed Read it holds
// nothing (0 x 0, no pixels) and errorText says why in one line: a file that
// ends early (also after its image data, before its end chunk), a chunk whose
// checksum does not match (every chunk's, the last image data chunk's too),
// damaged compressed data, a palette index past the palette's end, a header
// past the pixel limit (refused before any image memory is taken).
//
// One thread uses a reader at a time; separate readers share nothing.
class PngReader {
  public:
    // Decodes the file at path; the file is closed again before returning.
    bool Read(const std::string& path);
    // Decodes from an open file's current position; the file stays open.
    bool Read(std::FILE* file);
    // Reads the header and the chunks before the image data, and sets width,
    // height and channels, leaving pixels empty; the same failures as Read for
    // what it reads (the pixel limit included).
    bool ReadHeader(std::FILE* file);
    // Decodes a whole file held in memory; the bytes are only read during the call.
    bool ReadFromMemory(const std::uint8_t* data, std::size_t size);
    // Drops the decoded image and the error text.
    void Clear();

    // Files whose header claims more pixels than this are refused before the
    // image is allocated. A 16-bit file needs twice the working memory per
    // pixel while it is decoded, so it may have half as many.
    std::uint64_t pixelLimit = kMaxReadPixels;

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;
    std::vector<std::uint8_t> pixels;
    std::string errorText;

  private:
    bool Decode(void* context, bool headerOnly);
    bool ReadFile(std::FILE* file, bool headerOnly);
    bool Fail(const std::string& why);
};

// True when the bytes start with the PNG signature.
bool HasPngSignature(const std::uint8_t* data, std::size_t size);

}  // namespace weftloom
