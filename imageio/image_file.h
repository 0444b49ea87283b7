#pragma once

#include <string>

#include "engine/image.h"

namespace weftloom {

class JpegReader;
class PngReader;
class TgaReader;

// Loading and saving an Image by file name, as the application and the
// command line both do it. A file is read as what its first bytes say (the
// PNG signature, JPEG's start of image); a file without either is what its
// name says, ignoring case (".tga" is TGA, ".jpg" and ".jpeg" JPEG, ".png"
// PNG, which then fails for want of its signature). Every save writes TGA.
// Images read from TGA and JPEG files have 3 bytes per pixel (R, G, B); a PNG
// file with transparency gives 4 (R, G, B, alpha).
//
// The functions keep no state; any thread may call them, for different
// images and paths.

// Reads the file at path into image. On false, image is unchanged and reason
// says why (also for a path with none of the known endings).
bool LoadImageFile(const std::string& path, Image& image, std::string& reason);

// The path a save really writes to: a path ending in ".jpg" or ".jpeg" (any
// case) has that ending replaced by ".tga", so the photo it was opened from is
// never overwritten; a path with no "." anywhere (folders included) gets ".tga"
// appended; any other path is kept as it is.
std::string SavePathFor(const std::string& path);

// Writes image as TGA to SavePathFor(path), which is returned in savedPath.
// On false nothing on disk has changed and reason says why: an empty image,
// one the TGA format cannot hold, or a failed write.
bool SaveImageFile(const Image& image, const std::string& path, std::string& savedPath,
                   std::string& reason);

// Builds the 3-byte image from a reader after its successful Read. A palette
// index past the colour map's end gives black. False (image emptied) only when
// the image cannot be allocated.
bool ImageFromTga(const TgaReader& reader, Image& image);
bool ImageFromJpeg(const JpegReader& reader, Image& image);
// Keeps the reader's alpha: a 4-byte image when the file has transparency.
bool ImageFromPng(const PngReader& reader, Image& image);

}  // namespace weftloom
