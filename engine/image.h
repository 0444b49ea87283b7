#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace weftloom {

// Told, during work done a row at a time, how many rows are done of how many
// in all; called on the working thread after each row.
using RowProgress = std::function<void(std::uint32_t done, std::uint32_t total)>;

// A plane of 8-bit pixels: width x height pixels, row after row, each pixel
// bytesPerPixel consecutive channel bytes (channel 0 red, 1 green, 2 blue,
// 3 alpha), no padding between rows. The image owns its bytes; copies are deep.
// An empty image (0 x 0, or any side 0) holds no bytes.
//
// Not synchronised: an image is read or written by one thread at a time.
struct Image {
    std::vector<std::uint8_t> pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bytesPerPixel = 0;

    // Frees the current bytes, stores the three values and, when both sides
    // are non-zero, allocates width * height * bytesPerPixel bytes (zeroed).
    // Returns false, leaving the image empty (0 x 0), when bytesPerPixel is not
    // 1 to 4, the size does not fit in memory or the allocation fails; never throws.
    // With abort or progress, the bytes are cleared a row at a time: a set
    // flag (read once per row, set from any thread) stops it, leaving the
    // image empty, and progress hears of each row.
    bool Allocate(std::uint32_t newWidth, std::uint32_t newHeight, std::uint32_t newBytesPerPixel,
                  const std::atomic<bool>* abort = nullptr, const RowProgress& progress = {});

    bool IsEmpty() const { return pixels.empty(); }

    // Byte offset of channel 0 of pixel (x, y); the caller keeps x and y in range.
    std::size_t Offset(std::uint32_t x, std::uint32_t y) const {
        return (static_cast<std::size_t>(y) * width + x) * bytesPerPixel;
    }
    std::uint8_t* PixelAt(std::uint32_t x, std::uint32_t y) { return pixels.data() + Offset(x, y); }
    const std::uint8_t* PixelAt(std::uint32_t x, std::uint32_t y) const {
        return pixels.data() + Offset(x, y);
    }
};

// 64-bit FNV-1a over the image's width, height, bytes per pixel (each as four
// little-endian bytes) and pixel bytes: a short, stable name for its contents.
std::uint64_t Fingerprint(const Image& image);

// Largest image block the engine and the codecs agree to hold (16 GiB), so that
// a size taken from a file or a command line can never ask for more.
inline constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 34;

}  // namespace weftloom
