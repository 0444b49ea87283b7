#include "imageio/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "imageio/jpeg_reader.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"
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

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading. The open does not wait for a writer on a
// FIFO; what is no regular file is refused before a byte is read.
File OpenForReading(const std::string& path, std::string& reason) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        reason = std::strerror(errno);
        close(fd);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = S_ISDIR(status.st_mode) ? "It is a folder." : "It is not a regular file.";
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* file =
        flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        reason = std::strerror(errno);
        close(fd);
    }
    return File(file);
}

// The reason for a failed read: the system's when the stream saw an error,
// else the reader's.
std::string ReadFailure(std::FILE* file, const std::string& readerReason) {
    if (std::ferror(file) != 0 && errno != 0) {
        return std::string("Error reading the file: ") + std::strerror(errno) + ".";
    }
    return readerReason;
}

enum class FileFormat { Tga, Jpeg, Png };

// PNG and JPEG files say what they are in their first bytes; TGA has no
// signature, so a file without one is what its name says, ignoring case
// (".tga" TGA, ".jpg" and ".jpeg" JPEG, ".png" PNG, which then fails for want
// of its signature). Opens the file and chooses its codec; null, with the
// reason, for a file that cannot be opened or is of no known type.
File OpenImageFile(const std::string& path, FileFormat& format, std::string& reason) {
    File file = OpenForReading(path, reason);
    if (!file) {
        return nullptr;
    }
    std::uint8_t head[8] = {};
    errno = 0;
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    if (std::ferror(file.get()) != 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        reason = std::string("Error reading the file: ") + std::strerror(errno) + ".";
        return nullptr;
    }
    if (HasPngSignature(head, got)) {
        format = FileFormat::Png;
    } else if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        format = FileFormat::Jpeg;
    } else if (EndsWithNoCase(path, ".tga")) {
        format = FileFormat::Tga;
    } else if (IsJpegPath(path)) {
        format = FileFormat::Jpeg;
    } else if (IsPngPath(path)) {
        format = FileFormat::Png;
    } else {
        reason = "Unknown image file type (expected TGA, JPEG or PNG).";
        return nullptr;
    }
    return file;
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
            // A successful Read has refused such an index; this only keeps
            // the lookup within the palette whatever the fields hold.
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
    FileFormat format = FileFormat::Tga;
    const File file = OpenImageFile(path, format, reason);
    if (!file) {
        return false;
    }
    Image loaded;
    errno = 0;
    if (format == FileFormat::Tga) {
        TgaReader reader;
        if (!reader.Read(file.get())) {
            reason = ReadFailure(file.get(), reader.errorText);
            return false;
        }
        if (!ImageFromTga(reader, loaded)) {
            reason = "Out of memory reading TGA image.";
            return false;
        }
    } else if (format == FileFormat::Jpeg) {
        JpegReader reader;
        if (!reader.Read(file.get())) {
            reason = ReadFailure(file.get(), reader.errorText);
            return false;
        }
        if (!ImageFromJpeg(reader, loaded)) {
            reason = "Out of memory reading JPEG image.";
            return false;
        }
    } else {
        PngReader reader;
        if (!reader.Read(file.get())) {
            reason = ReadFailure(file.get(), reader.errorText);
            return false;
        }
        if (!ImageFromPng(reader, loaded)) {
            reason = "Out of memory reading PNG image.";
            return false;
        }
    }
    image = std::move(loaded);
    return true;
}

bool ReadImageHeader(const std::string& path, ImageHeader& header, std::string& reason) {
    FileFormat format = FileFormat::Tga;
    const File file = OpenImageFile(path, format, reason);
    if (!file) {
        return false;
    }
    errno = 0;
    header.bytesPerPixel = 3;
    if (format == FileFormat::Tga) {
        // Width and height are little-endian 16-bit values at bytes 12 to 15.
        std::uint8_t bytes[18];
        if (std::fread(bytes, 1, sizeof bytes, file.get()) != sizeof bytes) {
            reason = ReadFailure(file.get(), "Error reading header from TGA image.");
            return false;
        }
        header.width = bytes[12] | (std::uint32_t{bytes[13]} << 8);
        header.height = bytes[14] | (std::uint32_t{bytes[15]} << 8);
        // Bits 0-3 of the descriptor count the attribute (alpha) bits of a
        // value: of the pixels, or of the colour map's entries.
        const bool mapped = bytes[1] != 0;
        const unsigned valueBits = mapped ? bytes[7] : bytes[16];
        header.alphaDropped = (bytes[17] & 0x0F) != 0 && (valueBits == 16 || valueBits == 32);
    } else if (format == FileFormat::Jpeg) {
        JpegReader reader;
        if (!reader.ReadHeader(file.get())) {
            reason = ReadFailure(file.get(), reader.errorText);
            return false;
        }
        header.width = reader.width;
        header.height = reader.height;
    } else {
        PngReader reader;
        if (!reader.ReadHeader(file.get())) {
            reason = ReadFailure(file.get(), reader.errorText);
            return false;
        }
        header.width = reader.width;
        header.height = reader.height;
        header.bytesPerPixel = reader.channels;
    }
    return true;
}

std::string SavePathFor(const std::string& path) {
    if (EndsWithNoCase(path, ".jpg")) {
        return path.substr(0, path.size() - 4) + ".tga";
    }
    if (EndsWithNoCase(path, ".jpeg")) {
        return path.substr(0, path.size() - 5) + ".tga";
    }
    // Only the last component can carry an extension: "./result" has none.
    const std::size_t slash = path.find_last_of('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    if (path.find('.', name) == std::string::npos) {
        return path + ".tga";
    }
    return path;
}

bool SaveImageFile(const Image& image, const std::string& path, std::string& savedPath,
                   std::string& reason, const FileBlockWriter& writeBlock,
                   const std::atomic<bool>* abort) {
    savedPath = SavePathFor(path);
    if (path.empty()) {
        reason = "No file name given.";
        return false;
    }
    if (image.IsEmpty()) {
        reason = "The image is empty.";
        return false;
    }
    if (IsPngPath(savedPath)) {
        if (!CanWritePng(image)) {
            reason = "The image cannot be stored as PNG (3 or 4 bytes per pixel).";
            return false;
        }
        if (!WritePng(image, savedPath, writeBlock, abort)) {
            reason = "Error writing PNG image to " + savedPath + ": " + std::strerror(errno) + ".";
            return false;
        }
        return true;
    }
    if (!CanWriteTga(image)) {
        reason =
            "The image cannot be stored as TGA (at most 65535 x 65535 pixels, 3 or 4 "
            "bytes per pixel).";
        return false;
    }
    if (!WriteTga(image, savedPath, writeBlock, abort)) {
        reason = "Error writing TGA image to " + savedPath + ": " + std::strerror(errno) + ".";
        return false;
    }
    return true;
}

bool IsPngPath(const std::string& path) {
    return EndsWithNoCase(path, ".png");
}

}  // namespace weftloom
