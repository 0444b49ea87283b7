#include "imageio/tga_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

namespace weftloom {
namespace {

constexpr const char* kOpenError = "Error opening TGA image.";
constexpr const char* kHeaderError = "Error reading header from TGA image.";
constexpr const char* kImageTypeError = "Unsupported image type in TGA image.";
constexpr const char* kImageIdError = "Error reading image ID from TGA image.";
constexpr const char* kPaletteDepthError = "Unsupported palette bit depth in TGA image.";
constexpr const char* kEntrySizeError = "Unsupported color map entry size in TGA image.";
constexpr const char* kPixelDepthError = "Unsupported pixel bit depth in TGA image.";
constexpr const char* kTooLargeError = "Image too large in TGA image.";
constexpr const char* kMemoryError = "Out of memory reading TGA image.";
constexpr const char* kColorMapError = "Error reading color map from TGA image.";
constexpr const char* kDataError = "Error reading data from TGA image.";

constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kReadBufferSize = 65536;

// Bytes per stored value for a bit count; 0 for sizes we do not decode.
// 15-bit values are stored in two bytes with the 16-bit layout.
unsigned BytesPerValue(unsigned bits) {
    switch (bits) {
        case 8:
            return 1;
        case 15:
        case 16:
            return 2;
        case 24:
            return 3;
        case 32:
            return 4;
        default:
            return 0;
    }
}

void ConvertValue(const std::uint8_t* value, unsigned size, std::uint8_t* rgba) {
    switch (size) {
        case 1:
            rgba[0] = rgba[1] = rgba[2] = value[0];
            rgba[3] = 255;
            break;
        case 2: {
            const unsigned word = value[0] | (unsigned{value[1]} << 8);
            rgba[0] = static_cast<std::uint8_t>(((word >> 10) & 31) << 3);
            rgba[1] = static_cast<std::uint8_t>(((word >> 5) & 31) << 3);
            rgba[2] = static_cast<std::uint8_t>((word & 31) << 3);
            rgba[3] = (word & 0x8000) != 0 ? 255 : 0;
            break;
        }
        case 3:
            rgba[0] = value[2];
            rgba[1] = value[1];
            rgba[2] = value[0];
            rgba[3] = 255;
            break;
        default:
            rgba[0] = value[2];
            rgba[1] = value[1];
            rgba[2] = value[0];
            rgba[3] = value[3];
            break;
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

// Hands out the bytes of a file or of a memory block one at a time. A file is
// read in chunks of kReadBufferSize; a memory block is one single chunk.
class TgaReader::Source {
  public:
    Source(const std::uint8_t* data, std::size_t size) : chunk_(data), count_(size), total_(size) {}
    Source(std::FILE* file, std::uint8_t* buffer, std::uint64_t fileSize)
        : file_(file), buffer_(buffer), total_(fileSize) {}

    bool Next(std::uint8_t& byte) {
        if (pos_ >= count_ && !Refill()) {
            return false;
        }
        byte = chunk_[pos_++];
        return true;
    }

    bool Take(std::uint8_t* out, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            if (!Next(out[i])) {
                return false;
            }
        }
        return true;
    }

    bool Skip(std::size_t size) {
        std::uint8_t ignored = 0;
        for (std::size_t i = 0; i < size; ++i) {
            if (!Next(ignored)) {
                return false;
            }
        }
        return true;
    }

    // Bytes not yet handed out, as far as the size known at the start tells.
    std::uint64_t Remaining() const {
        const std::uint64_t consumed = consumedBefore_ + pos_;
        return total_ > consumed ? total_ - consumed : 0;
    }

  private:
    bool Refill() {
        if (file_ == nullptr) {
            return false;
        }
        consumedBefore_ += count_;
        count_ = std::fread(buffer_, 1, kReadBufferSize, file_);
        chunk_ = buffer_;
        pos_ = 0;
        return count_ > 0;
    }

    const std::uint8_t* chunk_ = nullptr;
    std::size_t count_ = 0;
    std::size_t pos_ = 0;
    std::uint64_t consumedBefore_ = 0;
    std::FILE* file_ = nullptr;
    std::uint8_t* buffer_ = nullptr;
    std::uint64_t total_ = 0;
};

TgaReader::TgaReader() = default;
TgaReader::~TgaReader() = default;

void TgaReader::Clear() {
    std::vector<std::uint8_t>().swap(palette);
    std::vector<std::uint8_t>().swap(plane);
    width = 0;
    height = 0;
    errorText.clear();
}

bool TgaReader::Fail(const std::string& text) {
    Clear();
    errorText = text;
    return false;
}

bool TgaReader::Read(const std::string& path) {
    Clear();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return Fail(kOpenError);
    }
    return Read(file.get());
}

bool TgaReader::Read(std::FILE* file) {
    Clear();
    // The file's size bounds what its header may claim; only a regular file
    // has a size worth trusting.
    struct stat status {};
    if (file == nullptr || fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
        return Fail(kOpenError);
    }
    if (!readBuffer_) {
        readBuffer_.reset(new (std::nothrow) std::uint8_t[kReadBufferSize]);
        if (!readBuffer_) {
            return Fail(kMemoryError);
        }
    }
    Source source(file, readBuffer_.get(), static_cast<std::uint64_t>(status.st_size));
    return Decode(source);
}

bool TgaReader::ReadFromMemory(const std::uint8_t* data, std::size_t size) {
    Clear();
    Source source(data, data != nullptr ? size : 0);
    return Decode(source);
}

bool TgaReader::Decode(Source& source) {
    std::uint8_t header[kHeaderSize];
    if (!source.Take(header, kHeaderSize)) {
        return Fail(kHeaderError);
    }
    const unsigned idLength = header[0];
    const unsigned imageType = header[2];
    const unsigned mapLength = header[5] | (unsigned{header[6]} << 8);
    const unsigned mapEntryBits = header[7];
    const std::uint32_t newWidth = header[12] | (std::uint32_t{header[13]} << 8);
    const std::uint32_t newHeight = header[14] | (std::uint32_t{header[15]} << 8);
    const unsigned pixelBits = header[16];
    const bool topDown = (header[17] & 0x20) != 0;

    bool runLength = false;
    switch (imageType) {
        case 1:
        case 2:
        case 3:
            break;
        case 9:
        case 10:
        case 11:
            runLength = true;
            break;
        default:
            return Fail(kImageTypeError);
    }
    if (!source.Skip(idLength)) {
        return Fail(kImageIdError);
    }

    const bool hasPalette = mapLength != 0;
    unsigned entryBytes = 0;
    if (hasPalette) {
        if (pixelBits != 8) {
            return Fail(kPaletteDepthError);
        }
        entryBytes = BytesPerValue(mapEntryBits);
        if (entryBytes == 0) {
            return Fail(kEntrySizeError);
        }
    }
    const unsigned valueBytes = BytesPerValue(pixelBits);
    if (valueBytes == 0) {
        return Fail(kPixelDepthError);
    }

    // Everything the header claims is checked against the file before a byte
    // is allocated: the colour map and the pixel data must both fit in what
    // is left of it. Run-length data needs at least one packet header and one
    // value per 128 pixels.
    const std::uint64_t pixelCount = std::uint64_t{newWidth} * newHeight;
    if (pixelCount > pixelLimit) {
        return Fail(kTooLargeError);
    }
    const std::uint64_t mapBytes = std::uint64_t{mapLength} * entryBytes;
    if (source.Remaining() < mapBytes) {
        return Fail(kColorMapError);
    }
    const std::uint64_t leastDataBytes =
        runLength ? (pixelCount + 127) / 128 * (1 + valueBytes) : pixelCount * valueBytes;
    if (source.Remaining() - mapBytes < leastDataBytes) {
        return Fail(kDataError);
    }

    const std::size_t pixelBytes = hasPalette ? 1 : 4;
    try {
        palette.assign(std::size_t{mapLength} * 4, 0);
        plane.assign(static_cast<std::size_t>(pixelCount) * pixelBytes, 0);
    } catch (const std::bad_alloc&) {
        return Fail(kMemoryError);
    }

    std::uint8_t value[4] = {};
    for (std::size_t entry = 0; entry < mapLength; ++entry) {
        if (!source.Take(value, entryBytes)) {
            return Fail(kColorMapError);
        }
        ConvertValue(value, entryBytes, &palette[entry * 4]);
    }

    // Values arrive in storage order; storedRow counts finished rows in that
    // order and maps to a plane row through the row order bit.
    const std::size_t rowBytes = std::size_t{newWidth} * pixelBytes;
    std::uint32_t storedRow = 0;
    std::uint32_t column = 0;
    std::uint8_t* row = nullptr;
    auto startRow = [&] {
        if (storedRow < newHeight) {
            const std::uint32_t planeRow = topDown ? storedRow : newHeight - 1 - storedRow;
            row = plane.data() + std::size_t{planeRow} * rowBytes;
        }
    };
    auto store = [&](const std::uint8_t* stored) {
        std::uint8_t* pixel = row + std::size_t{column} * pixelBytes;
        if (hasPalette) {
            *pixel = stored[0];
        } else {
            ConvertValue(stored, valueBytes, pixel);
        }
        if (++column == newWidth) {
            column = 0;
            ++storedRow;
            startRow();
        }
    };
    startRow();

    std::uint64_t pixelsLeft = pixelCount;
    if (!runLength) {
        for (; pixelsLeft > 0; --pixelsLeft) {
            if (!source.Take(value, valueBytes)) {
                return Fail(kDataError);
            }
            store(value);
        }
    } else {
        while (pixelsLeft > 0) {
            std::uint8_t packet = 0;
            if (!source.Next(packet)) {
                return Fail(kDataError);
            }
            // A packet reaching past the last pixel is cut there; its surplus
            // values are not needed and not read.
            const std::uint64_t count = std::min<std::uint64_t>((packet & 0x7Fu) + 1u, pixelsLeft);
            if ((packet & 0x80) != 0) {
                if (!source.Take(value, valueBytes)) {
                    return Fail(kDataError);
                }
                for (std::uint64_t i = 0; i < count; ++i) {
                    store(value);
                }
            } else {
                for (std::uint64_t i = 0; i < count; ++i) {
                    if (!source.Take(value, valueBytes)) {
                        return Fail(kDataError);
                    }
                    store(value);
                }
            }
            pixelsLeft -= count;
        }
    }

    // An index past the colour map's end names no colour: the file is damaged.
    if (hasPalette) {
        const auto past = std::find_if(plane.begin(), plane.end(),
                                       [&](std::uint8_t index) { return index >= mapLength; });
        if (past != plane.end()) {
            return Fail("Palette index " + std::to_string(*past) + " past the palette's " +
                        std::to_string(mapLength) + (mapLength == 1 ? " entry" : " entries") +
                        " in TGA image.");
        }
    }

    width = newWidth;
    height = newHeight;
    return true;
}

}  // namespace weftloom
