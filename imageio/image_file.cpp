#include "imageio/image_file.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

#include "imageio/jpeg_reader.h"
#include "imageio/png_reader.h"
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

enum class FileFormat { Unknown, Tga, Jpeg, Png };

FileFormat FormatByName(const std::string& path) {
    if (EndsWithNoCase(path, ".tga")) {
        return FileFormat::Tga;
    }
    if (IsJpegPath(path)) {
        return FileFormat::Jpeg;
    }
    return EndsWithNoCase(path, ".png") ? FileFormat::Png : FileFormat::Unknown;
}

// PNG and JPEG files say what they are in their first bytes; TGA has no
// signature, so a file without one is what its name says. A file that cannot
// be opened here goes by its name too, and its reader says why it fails.
FileFormat FormatOf(const std::string& path) {
    std::uint8_t head[8] = {};
    std::size_t got = 0;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, sizeof head, file);
        std::fclose(file);
    }
    if (HasPngSignature(head, got)) {
        return FileFormat::Png;
    }
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        return FileFormat::Jpeg;
    }
    return FormatByName(path);
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

bool ImageFromPng(const PngReader& reader, Image& image) {
    if (!image.Allocate(reader.width, reader.height, reader.channels)) {
        return false;
    }
    if (!image.pixels.empty()) {
        std::memcpy(image.pixels.data(), reader.pixels.data(), image.pixels.size());
    }
    return true;
}

bool LoadImageFile(const std::string& path, Image& image, std::string& reason) {
    Image loaded;
    const FileFormat format = FormatOf(path);
    if (format == FileFormat::Tga) {
        TgaReader reader;
        if (!reader.Read(path)) {
            reason = reader.errorText;
            return false;
        }
        if (!ImageFromTga(reader, loaded)) {
            reason = "Out of memory reading TGA image.";
            return false;
        }
    } else if (format == FileFormat::Jpeg) {
        JpegReader reader;
        if (!reader.Read(path)) {
            reason = reader.errorText;
            return false;
        }
        if (!ImageFromJpeg(reader, loaded)) {
            reason = "Out of memory reading JPEG image.";
            return false;
        }
    } else if (format == FileFormat::Png) {
        PngReader reader;
        if (!reader.Read(path)) {
            reason = reader.errorText;
            return false;
        }
        if (!ImageFromPng(reader, loaded)) {
            reason = "Out of memory reading PNG image.";
            return false;
        }
    } else {
        reason = "Unknown image file type (expected .tga, .jpg, .jpeg or .png).";
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
