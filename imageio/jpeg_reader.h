#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imageio/read_limits.h"

namespace weftloom {

// Decodes a baseline, progressive or arithmetic-coded JPEG file through
// libjpeg into 8-bit RGB pixels: greyscale is replicated into R = G = B,
// four-component (CMYK or YCCK) files are converted to RGB.
//
// After a successful Read the reader owns `pixels`: width x height pixels,
// row-major, row 0 = top, 3 bytes R, G, B each. After a failed Read it holds
// nothing (0 x 0, no pixels) and errorText says why (libjpeg's own message
// for a corrupt stream). A fatal decoding error never ends the process. A file
// that ends inside its coded data is a failure (libjpeg would pad the missing
// rows with grey); a progressive file that ends between two scans gives the
// coarser image those scans hold, and one that lacks only its end marker is
// complete. Coded data that libjpeg finds corrupt and repairs (a bad code,
// bytes left over before a marker, a missing restart marker) is a failure
// too, in libjpeg's words ("Corrupt JPEG data: ..."); damage it cannot see
// decodes as it stands, since the format carries no checksum.
//
// One thread uses a reader at a time; separate readers share nothing and may
// run on separate threads at once.
class JpegReader {
  public:
    // Decodes the file at path; the file is closed again before returning.
    bool Read(const std::string& path);
    // Decodes a file opened for reading, from where it stands; the caller
    // keeps and closes it.
    bool Read(std::FILE* file);
    // Reads the headers up to the frame's size and sets width and height,
    // leaving pixels empty; the same failures as Read for what it reads.
    bool ReadHeader(std::FILE* file);
    // Decodes a whole file held in memory; the bytes are only read during the call.
    bool ReadFromMemory(const std::uint8_t* data, std::size_t size);
    // Drops the decoded image and the error text.
    void Clear();

    // Files whose frame header claims more pixels than this are refused
    // before the image is allocated; libjpeg's own working memory is bounded
    // in proportion.
    std::uint64_t pixelLimit = kMaxReadPixels;

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
    std::string errorText;
};

}  // namespace weftloom
