#include "imageio/png_reader.h"

#include <spng.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace weftloom {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Text chunks and the like are kept by the library until the image is read;
// these bound what a file can make it hold.
constexpr std::size_t kMaxChunkBytes = std::size_t{16} << 20;
constexpr std::size_t kMaxCachedChunkBytes = std::size_t{64} << 20;

struct ContextDeleter {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The library's words, after ours where a user is better told plainly.
std::string LibraryError(int code) {
    std::string text = std::string("Error reading PNG image: ") + spng_strerror(code);
    switch (code) {
        case SPNG_IO_EOF:
        case SPNG_EOF:
        case SPNG_EIDAT_TOO_SHORT:
            return text + " (the file ends early).";
        case SPNG_ECHUNK_CRC:
            return text + " (a checksum does not match: the file is damaged).";
        case SPNG_EIDAT_STREAM:
        case SPNG_EZLIB:
        case SPNG_EFILTER:
            return text + " (the image data is damaged).";
        case SPNG_ESIGNATURE:
            return text + " (not a PNG file).";
        default:
            return text + ".";
    }
}

// The nearest 8-bit value: v / 257 rounded half up (never a tie, as 257 is odd).
std::uint8_t RoundTo8(std::uint16_t value) {
    return static_cast<std::uint8_t>((std::uint32_t{value} + 128u) / 257u);
}

// Palette images are decoded to their indices and looked up here, where an
// index past the palette's end is refused: the library would give black.
// `packed` holds rows of indices packed at the file's bit depth; `out` takes
// R, G, B and, with a transparency chunk, alpha. Returns the first index past
// the end, or -1 when there is none.
long LookUpPalette(const std::uint8_t* packed, const spng_ihdr& header, const spng_plte& palette,
                   const spng_trns* transparency, std::uint8_t* out) {
    const unsigned depth = header.bit_depth;
    const unsigned mask = (1u << depth) - 1;
    const std::size_t rowBytes = (std::size_t{header.width} * depth + 7) / 8;
    for (std::uint32_t y = 0; y < header.height; ++y, packed += rowBytes) {
        for (std::size_t bit = 0; bit < std::size_t{header.width} * depth; bit += depth) {
            const unsigned index = (packed[bit / 8] >> (8 - depth - bit % 8)) & mask;
            if (index >= palette.n_entries) {
                return index;
            }
            const spng_plte_entry& entry = palette.entries[index];
            *out++ = entry.red;
            *out++ = entry.green;
            *out++ = entry.blue;
            if (transparency != nullptr) {
                *out++ = index < transparency->n_type3_entries ? transparency->type3_alpha[index]
                                                               : std::uint8_t{255};
            }
        }
    }
    return -1;
}

}  // namespace

bool HasPngSignature(const std::uint8_t* data, std::size_t size) {
    return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

void PngReader::Clear() {
    width = height = channels = 0;
    pixels = {};
    errorText.clear();
}

bool PngReader::Fail(const std::string& why) {
    Clear();
    errorText = why;
    return false;
}

bool PngReader::Read(const std::string& path) {
    Clear();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return Fail(std::string("Error opening PNG image: ") + std::strerror(errno) + ".");
    }
    return ReadFile(file.get(), false);
}

bool PngReader::Read(std::FILE* file) {
    return ReadFile(file, false);
}

bool PngReader::ReadHeader(std::FILE* file) {
    return ReadFile(file, true);
}

bool PngReader::ReadFile(std::FILE* file, bool headerOnly) {
    Clear();
    Context context(spng_ctx_new(0));
    if (!context) {
        return Fail("Out of memory reading PNG image.");
    }
    const int set = spng_set_png_file(context.get(), file);
    return set == 0 ? Decode(context.get(), headerOnly) : Fail(LibraryError(set));
}

bool PngReader::ReadFromMemory(const std::uint8_t* data, std::size_t size) {
    Clear();
    Context context(spng_ctx_new(0));
    if (!context) {
        return Fail("Out of memory reading PNG image.");
    }
    const int set = spng_set_png_buffer(context.get(), data, size);
    return set == 0 ? Decode(context.get(), false) : Fail(LibraryError(set));
}

bool PngReader::Decode(void* opaque, bool headerOnly) {
    auto* context = static_cast<spng_ctx*>(opaque);
    spng_set_crc_action(context, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    spng_set_chunk_limits(context, kMaxChunkBytes, kMaxCachedChunkBytes);
    spng_ihdr header{};
    if (const int r = spng_get_ihdr(context, &header); r != 0) {
        return Fail(LibraryError(r));
    }
    const bool wide = header.bit_depth == 16;
    const std::uint64_t count = std::uint64_t{header.width} * header.height;
    const std::uint64_t limit = wide ? pixelLimit / 2 : pixelLimit;
    if (count > limit) {
        return Fail("PNG image too large: " + std::to_string(header.width) + " x " +
                    std::to_string(header.height) + " pixels (at most " + std::to_string(limit) +
                    (wide ? " at 16 bits per sample)." : ")."));
    }
    // Reading the transparency chunk reads every chunk before the image data,
    // so a damaged one shows here.
    spng_trns transparency{};
    const int trns = spng_get_trns(context, &transparency);
    if (trns != 0 && trns != SPNG_ECHUNKAVAIL) {
        return Fail(LibraryError(trns));
    }
    const bool alpha = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || trns == 0;
    const std::uint32_t out = alpha ? 4 : 3;
    if (headerOnly) {
        width = header.width;
        height = header.height;
        channels = out;
        return true;
    }
    const bool indexed = header.color_type == SPNG_COLOR_TYPE_INDEXED;
    spng_plte palette{};
    if (indexed) {
        if (const int r = spng_get_plte(context, &palette); r != 0) {
            return Fail(LibraryError(r));
        }
    }
    const int format = indexed ? SPNG_FMT_PNG
                       : wide  ? SPNG_FMT_RGBA16
                       : alpha ? SPNG_FMT_RGBA8
                               : SPNG_FMT_RGB8;
    std::size_t size = 0;
    if (const int r = spng_decoded_image_size(context, format, &size); r != 0) {
        return Fail(LibraryError(r));
    }
    std::vector<std::uint8_t> decoded;
    std::vector<std::uint8_t> indices;
    try {
        (indexed ? indices : decoded).resize(size);
        decoded.resize(indexed ? static_cast<std::size_t>(count) * out : size);
    } catch (const std::bad_alloc&) {
        return Fail("Out of memory reading PNG image.");
    }
    std::uint8_t* target = indexed ? indices.data() : decoded.data();
    if (const int r = spng_decode_image(context, target, size, format, SPNG_DECODE_TRNS); r != 0) {
        return Fail(LibraryError(r));
    }
    // The library stops once the image is inflated; the rest of the file is
    // read here, so that a wrong checksum on the last image data chunk or on
    // a chunk after it, or a file cut before its end chunk, is not taken for
    // a sound file.
    if (const int r = spng_decode_chunks(context); r != 0) {
        return Fail(LibraryError(r));
    }
    if (indexed) {
        const long past = LookUpPalette(indices.data(), header, palette,
                                        trns == 0 ? &transparency : nullptr, decoded.data());
        if (past >= 0) {
            return Fail("Error reading PNG image: palette index " + std::to_string(past) +
                        " past the palette's " + std::to_string(palette.n_entries) +
                        (palette.n_entries == 1 ? " entry." : " entries."));
        }
    }
    if (wide) {
        // Host-order 16-bit RGBA, narrowed in place: the write never passes the read.
        const std::size_t values = static_cast<std::size_t>(count) * 4;
        std::size_t to = 0;
        for (std::size_t from = 0; from < values; ++from) {
            if (out == 3 && from % 4 == 3) {
                continue;
            }
            std::uint16_t value = 0;
            std::memcpy(&value, decoded.data() + 2 * from, 2);
            decoded[to++] = RoundTo8(value);
        }
        decoded.resize(to);
        decoded.shrink_to_fit();
    }
    width = header.width;
    height = header.height;
    channels = out;
    pixels = std::move(decoded);
    return true;
}

}  // namespace weftloom
