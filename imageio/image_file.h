#pragma once

#include <atomic>
#include <string>

#include "engine/image.h"
#include "imageio/tga_writer.h"

namespace weftloom {

class JpegReader;
class PngReader;
class TgaReader;

// Loading and saving an Image by file name, as the application and the
// command line both do it. A file is read as what its first bytes say (the
// PNG signature, JPEG's start of image); a file without either is what its
// name says, ignoring case (".tga" is TGA, ".jpg" and ".jpeg" JPEG, ".png"
// PNG, which then fails for want of its signature). A save writes PNG or TGA,
// as its name says. Images read from TGA and
// JPEG files have 3 bytes per pixel (R, G, B); a PNG file with an alpha
// channel or transparency gives 4 (R, G, B, alpha).
//
// The functions keep no state; any thread may call them, for different
// images and paths.

// Reads the file at path into image. On false, image is unchanged and reason
// says why: the system's reason when the file cannot be opened or read, that
// it is a folder or no regular file (never waiting on a FIFO), the reader's
// when its content is wrong, or that the file has no known signature and its
// path none of the known endings.
bool LoadImageFile(const std::string& path, Image& image, std::string& reason);

// What a file's header says of its image, read before any pixel: a caller can
// refuse a run that would not fit before paying for the decode.
struct ImageHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bytesPerPixel = 3;  // as LoadImageFile gives it
    // The file stores an alpha channel (a TGA with attribute bits in 16- or
    // 32-bit values), which LoadImageFile leaves out.
    bool alphaDropped = false;
};

// Reads only the header of the file at path; false with the same reasons as
// LoadImageFile for what it reads. A header that passes may still belong to
// a file LoadImageFile refuses.
bool ReadImageHeader(const std::string& path, ImageHeader& header, std::string& reason);

// The path a save really writes to: a path ending in ".jpg" or ".jpeg" (any
// case) has that ending replaced by ".tga", so the photo it was opened from is
// never overwritten; a path whose last component has no "." gets ".tga"
// appended ("./result" gives "./result.tga"); any other path is kept as it is.
std::string SavePathFor(const std::string& path);

// Writes image to SavePathFor(path), which is returned in savedPath: as PNG
// when that path ends in ".png" (any case), as TGA otherwise. On false
// nothing on disk has changed and reason says why: an empty image, one the
// format cannot hold, or a failed write. writeBlock and abort are passed on
// to the writer.
bool SaveImageFile(const Image& image, const std::string& path, std::string& savedPath,
                   std::string& reason, const FileBlockWriter& writeBlock = {},
                   const std::atomic<bool>* abort = nullptr);

// True when a path ends in ".png", in any case: a save there writes PNG.
bool IsPngPath(const std::string& path);

// Builds the 3-byte image from a reader after its successful Read. False
// (image emptied) only when the image cannot be allocated.
bool ImageFromTga(const TgaReader& reader, Image& image);
bool ImageFromJpeg(const JpegReader& reader, Image& image);
// Keeps the reader's alpha: a 4-byte image when the file has one.
bool ImageFromPng(const PngReader& reader, Image& image);

}  // namespace weftloom
