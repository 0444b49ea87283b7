#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imageio/read_limits.h"

namespace weftloom {

// Decodes one TGA file into a plane of pixels: image types 1, 2, 3
// (uncompressed) and 9, 10, 11 (run-length encoded), 8-, 15/16-, 24- and 32-bit
// values, with or without a colour map, stored top-down or bottom-up. Bytes
// after the pixel data (a TGA 2.0 footer) are ignored.
//
// After a successful Read the reader owns:
//   palette  empty without a colour map; otherwise 4 bytes R, G, B, A per entry;
//   plane    width x height pixels, row-major, row 0 = top row; with a palette
//            1 byte per pixel (the index as stored, always within the
//            palette), without one 4 bytes R, G, B, A per pixel.
// After a failed Read it holds nothing (0 x 0, both blocks empty) and
// errorText says why in one line; errorText is empty after a success. An
// index past the palette's end is a failure that names the index and the
// palette's size.
//
// A header is checked against the pixel limit and the size of the file before
// anything is allocated, so a hostile header cannot ask for more memory than
// its file could fill.
//
// One thread uses a reader at a time. Each reader owns its read buffer, so
// separate readers may run on separate threads at once.
class TgaReader {
  public:
    TgaReader();
    ~TgaReader();
    TgaReader(const TgaReader&) = delete;
    TgaReader& operator=(const TgaReader&) = delete;

    // Decodes the file at path; the file is closed again before returning.
    bool Read(const std::string& path);
    // Decodes a regular file opened for reading, from where it stands; the
    // caller keeps and closes it.
    bool Read(std::FILE* file);
    // Decodes a whole file held in memory; the bytes are only read during the call.
    bool ReadFromMemory(const std::uint8_t* data, std::size_t size);
    // Drops the decoded image and the error text.
    void Clear();

    bool HasPalette() const { return !palette.empty(); }

    // Headers claiming more pixels than this are refused before any allocation.
    std::uint64_t pixelLimit = kMaxReadPixels;

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> palette;
    std::vector<std::uint8_t> plane;
    std::string errorText;

  private:
    class Source;
    bool Decode(Source& source);
    bool Fail(const std::string& text);

    // The file is read through this buffer in chunks; allocated on the first Read.
    std::unique_ptr<std::uint8_t[]> readBuffer_;
};

}  // namespace weftloom
