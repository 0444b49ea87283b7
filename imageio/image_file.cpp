#include "imageio/image_file.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

#include "imageio/jpeg_reader.h"
#include "imageio/tga_reader.h"
#include "imageio/tga_writer.h"

namespace weftloom {
namespace {

// Extensions are plain ASCII, so a byte-wise comparison that folds only
// A-Z is exact, also for paths in UTF-8.
bool EndsWithNoCase(const std::string& path, const char* ending) {
    const std::size_t size = std::strlen(ending);
    if (path.size() < size) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        char c = path[path.size() - size + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != ending[i]) {
            return false;
        }
    }
    return true;
}

bool IsJpegPath(const std::string& path) {
    return EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".jpeg");
}

}  // namespace

bool ImageFromTga(const TgaReader& reader, Image& image) {
    if (!image.Allocate(reader.width, reader.height, 3)) {
        return false;
    }
    const std::size_t pixelCount = std::size_t{reader.width} * reader.height;
    const std::size_t entries = reader.palette.size() / 4;
    std::uint8_t* out = image.pixels.data();
    for (std::size_t i = 0; i < pixelCount; ++i, out += 3) {
        const std::uint8_t* rgba = nullptr;
        if (reader.HasPalette()) {
            const std::size_t index = reader.plane[i];
            if (index >= entries) {
                out[0] = out[1] = out[2] = 0;
                continue;
            }
            rgba = &reader.palette[index * 4];
        } else {
            rgba = &reader.plane[i * 4];
        }
        out[0] = rgba[0];
        out[1] = rgba[1];
        out[2] = rgba[2];
    }
    return true;
}

bool ImageFromJpeg(const JpegReader& reader, Image& image) {
    if (!image.Allocate(reader.width, reader.height, 3)) {
        return false;
    }
    if (!image.pixels.empty()) {
        std::memcpy(image.pixels.data(), reader.pixels.data(), image.pixels.size());
    }
    return true;
}

bool LoadImageFile(const std::string& path, Image& image, std::string& reason) {
    Image loaded;
    if (EndsWithNoCase(path, ".tga")) {
        TgaReader reader;
        if (!reader.Read(path)) {
            reason = reader.errorText;
            return false;
        }
        if (!ImageFromTga(reader, loaded)) {
            reason = "Out of memory reading TGA image.";
            return false;
        }
    } else if (IsJpegPath(path)) {
        JpegReader reader;
        if (!reader.Read(path)) {
            reason = reader.errorText;
            return false;
        }
        if (!ImageFromJpeg(reader, loaded)) {
            reason = "Out of memory reading JPEG image.";
            return false;
        }
    } else {
        reason = "Unknown image file type (expected .tga, .jpg or .jpeg).";
        return false;
    }
    image = std::move(loaded);
    return true;
}

std::string SavePathFor(const std::string& path) {
    if (EndsWithNoCase(path, ".jpg")) {
        return path.substr(0, path.size() - 4) + ".tga";
    }
    if (EndsWithNoCase(path, ".jpeg")) {
        return path.substr(0, path.size() - 5) + ".tga";
    }
    if (path.find('.') == std::string::npos) {
        return path + ".tga";
    }
    return path;
}

bool SaveImageFile(const Image& image, const std::string& path, std::string& savedPath,
                   std::string& reason) {
    savedPath = SavePathFor(path);
    if (path.empty()) {
        reason = "No file name given.";
        return false;
    }
    if (image.IsEmpty()) {
        reason = "The image is empty.";
        return false;
    }
    if (!CanWriteTga(image)) {
        reason =
            "The image cannot be stored as TGA (at most 65535 x 65535 pixels, 3 or 4 "
            "bytes per pixel).";
        return false;
    }
    if (!WriteTga(image, savedPath)) {
        reason = "Error writing TGA image to " + savedPath + ": " + std::strerror(errno) + ".";
        return false;
    }
    return true;
}

}  // namespace weftloom
