#include "engine/image_pyramid.h"

#include <algorithm>
#include <new>

namespace weftloom {

namespace {

// The reduction kernel by block row and column, offsets -1, 0, +1, +2; it sums
// to the divisor 20, so a uniform image stays exactly uniform.
constexpr std::uint32_t kKernel[4][4] = {
    {0, 1, 1, 0},
    {1, 3, 3, 1},
    {1, 3, 3, 1},
    {0, 1, 1, 0},
};

}  // namespace

std::uint32_t ImagePyramid::Wrap(std::int64_t value, std::uint32_t size) {
    if (value < 0) {
        return static_cast<std::uint32_t>(size - ((-1 - value) % size) - 1);
    }
    if (value >= size) {
        return static_cast<std::uint32_t>(value % size);
    }
    return static_cast<std::uint32_t>(value);
}

bool ReduceLevel(const Image& finer, Image& target, const std::atomic<bool>* abort,
                 const RowProgress& progress) {
    const std::uint32_t bpp = finer.bytesPerPixel;
    const std::uint32_t height = ReducedSize(finer.height);
    RowProgress cleared;
    if (progress) {
        cleared = [&progress, height](std::uint32_t done, std::uint32_t) {
            progress(done, 2 * height);
        };
    }
    if (!target.Allocate(ReducedSize(finer.width), height, bpp, abort, cleared)) {
        return false;
    }
    for (std::uint32_t y = 0; y < target.height; ++y) {
        if (AbortSet(abort)) {
            return false;
        }
        for (std::uint32_t x = 0; x < target.width; ++x) {
            std::uint32_t sums[4] = {0, 0, 0, 0};
            for (int by = 0; by < 4; ++by) {
                const std::uint32_t fy =
                    ImagePyramid::Wrap(std::int64_t{2} * y + by - 1, finer.height);
                for (int bx = 0; bx < 4; ++bx) {
                    const std::uint32_t weight = kKernel[by][bx];
                    if (weight == 0) {
                        continue;
                    }
                    const std::uint32_t fx =
                        ImagePyramid::Wrap(std::int64_t{2} * x + bx - 1, finer.width);
                    const std::uint8_t* source = finer.PixelAt(fx, fy);
                    for (std::uint32_t c = 0; c < bpp; ++c) {
                        sums[c] += weight * source[c];
                    }
                }
            }
            std::uint8_t* out = target.PixelAt(x, y);
            for (std::uint32_t c = 0; c < bpp; ++c) {
                out[c] = static_cast<std::uint8_t>(sums[c] / ImagePyramid::kReductionDivisor);
            }
        }
        if (progress) {
            progress(height + y + 1, 2 * height);
        }
    }
    return true;
}

std::uint32_t PyramidBuildRows(std::uint32_t height, std::uint32_t levelCount) {
    std::uint32_t rows = 0;
    for (std::uint32_t k = 0; k < levelCount; ++k, height = ReducedSize(height)) {
        rows += 2 * height;
    }
    return rows;
}

ImagePyramid::ImagePyramid(const Image& source, std::uint32_t levelCount,
                           const std::atomic<bool>* abort, const RowProgress& progress) {
    const bool usable = source.width > 0 && source.height > 0 &&
                        (source.bytesPerPixel == 3 || source.bytesPerPixel == 4) &&
                        source.pixels.size() == source.Offset(0, source.height);
    if (!usable) {
        return;
    }
    try {
        levels_.resize(levelCount);
    } catch (const std::bad_alloc&) {
        levels_.clear();
        return;
    }
    if (levelCount == 0) {
        complete_ = true;
        return;
    }
    // Each level's rows are counted after those of the levels before.
    const std::uint32_t total = PyramidBuildRows(source.height, levelCount);
    std::uint32_t before = 0;
    RowProgress levelProgress;
    if (progress) {
        levelProgress = [&progress, &before, total](std::uint32_t done, std::uint32_t) {
            progress(before + done, total);
        };
    }
    if (!levels_[0].Allocate(source.width, source.height, source.bytesPerPixel, abort,
                             levelProgress)) {
        return;
    }
    // Copied a row at a time, so that an abort is seen during a large copy too.
    const std::size_t rowBytes = source.Offset(0, 1);
    for (std::uint32_t y = 0; y < source.height; ++y) {
        if (AbortSet(abort)) {
            return;
        }
        std::copy_n(source.PixelAt(0, y), rowBytes, levels_[0].PixelAt(0, y));
        if (levelProgress) {
            levelProgress(source.height + y + 1, total);
        }
    }
    before = 2 * source.height;
    for (std::uint32_t k = 1; k < levelCount; ++k) {
        if (!ReduceLevel(levels_[k - 1], levels_[k], abort, levelProgress)) {
            return;
        }
        before += 2 * levels_[k].height;
    }
    complete_ = true;
}

Image* ImagePyramid::Level(std::uint32_t index) {
    return index < levels_.size() ? &levels_[index] : nullptr;
}

const Image* ImagePyramid::Level(std::uint32_t index) const {
    return index < levels_.size() ? &levels_[index] : nullptr;
}

bool ImagePyramid::GetPixel(std::int32_t x, std::int32_t y, std::uint32_t level, std::uint8_t& c0,
                            std::uint8_t& c1, std::uint8_t& c2, std::uint8_t& c3, bool wrap) const {
    if (level >= levels_.size()) {
        return false;
    }
    const Image& image = levels_[level];
    if (image.IsEmpty()) {
        return false;
    }
    std::uint32_t px;
    std::uint32_t py;
    if (wrap) {
        px = Wrap(x, image.width);
        py = Wrap(y, image.height);
    } else {
        if (x < 0 || y < 0 || static_cast<std::uint32_t>(x) >= image.width ||
            static_cast<std::uint32_t>(y) >= image.height) {
            return false;
        }
        px = static_cast<std::uint32_t>(x);
        py = static_cast<std::uint32_t>(y);
    }
    const std::uint8_t* pixel = image.PixelAt(px, py);
    c0 = pixel[0];
    c1 = pixel[1];
    c2 = pixel[2];
    if (image.bytesPerPixel == 4) {
        c3 = pixel[3];
    }
    return true;
}

}  // namespace weftloom
