#include "engine/neighbourhood.h"

#include <cstring>

namespace weftloom {

std::uint32_t NeighbourhoodPixelCount(std::int32_t side, std::uint32_t levels) {
    if (side < 0) {
        return 0;
    }
    std::int64_t n = OddWindowSide(side);
    std::int64_t count = (n + 1) * (n / 2);
    for (std::uint32_t c = 1; c < levels; ++c) {
        if (n > 2) {
            n -= 2;
        }
        count += n * n;
    }
    return static_cast<std::uint32_t>(count);
}

std::uint32_t FullNeighbourhoodPixelCount(std::int32_t side, std::uint32_t levels) {
    if (side < 0) {
        return 0;
    }
    const std::int64_t n = OddWindowSide(side);
    // The causal part is the half of the square before the centre.
    return NeighbourhoodPixelCount(side, levels) + static_cast<std::uint32_t>(n * n - n * n / 2);
}

namespace {

bool AppendPixel(const ImagePyramid& pyramid, std::uint32_t level, std::int64_t x, std::int64_t y,
                 FeatureVector& vector, bool fourChannels, bool wrap) {
    // Coordinates beyond 32 bits can only come from windows far larger than any
    // level; without wrap they lie outside, with wrap they are reduced first.
    std::int32_t cx;
    std::int32_t cy;
    if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) {
        const Image* image = pyramid.Level(level);
        if (!wrap || image == nullptr || image->IsEmpty()) {
            return false;
        }
        cx = static_cast<std::int32_t>(ImagePyramid::Wrap(x, image->width));
        cy = static_cast<std::int32_t>(ImagePyramid::Wrap(y, image->height));
    } else {
        cx = static_cast<std::int32_t>(x);
        cy = static_cast<std::int32_t>(y);
    }
    std::uint8_t c[4] = {0, 0, 0, 0};
    if (!pyramid.GetPixel(cx, cy, level, c[0], c[1], c[2], c[3], wrap)) {
        return false;
    }
    vector.push_back(c[0]);
    vector.push_back(c[1]);
    vector.push_back(c[2]);
    if (fourChannels) {
        vector.push_back(c[3]);
    }
    return true;
}

}  // namespace

bool BuildNeighbourhood(const ImagePyramid& pyramid, std::uint32_t level, std::int32_t side,
                        std::uint32_t levels, std::int32_t x, std::int32_t y, FeatureVector& vector,
                        bool fourChannels, bool wrap) {
    std::int64_t n = side;
    std::int64_t h = n / 2;
    std::int64_t px = x;
    std::int64_t py = y;

    for (std::int64_t j = -h; j <= -1; ++j) {
        for (std::int64_t i = -h; i <= h; ++i) {
            if (!AppendPixel(pyramid, level, px + i, py + j, vector, fourChannels, wrap)) {
                return false;
            }
        }
    }
    for (std::int64_t i = -h; i <= -1; ++i) {
        if (!AppendPixel(pyramid, level, px + i, py, vector, fourChannels, wrap)) {
            return false;
        }
    }
    for (std::uint32_t c = 1; c < levels; ++c) {
        if (level + c < level) {
            return false;  // no level past the last index
        }
        if (n > 2) {
            n -= 2;
            h = n / 2;
        }
        // 0 and 1 stay as they are, so x = 1 maps to 1 at every coarser level.
        if (px > 1) {
            px /= 2;
        }
        if (py > 1) {
            py /= 2;
        }
        for (std::int64_t j = -h; j <= h; ++j) {
            for (std::int64_t i = -h; i <= h; ++i) {
                if (!AppendPixel(pyramid, level + c, px + i, py + j, vector, fourChannels, wrap)) {
                    return false;
                }
            }
        }
    }
    return true;
}

namespace {

// memcpy for the short runs of a window row (a few to a few tens of bytes):
// two fixed-size copies that may overlap, where a call to memcpy would cost
// more than the copy. Touches exactly n bytes of each side.
inline void CopyRun(std::uint8_t* out, const std::uint8_t* from, std::size_t n) {
    if (n >= 16 && n <= 32) {
        std::memcpy(out, from, 16);
        std::memcpy(out + n - 16, from + n - 16, 16);
    } else if (n >= 8 && n < 16) {
        std::memcpy(out, from, 8);
        std::memcpy(out + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(out, from, 4);
        std::memcpy(out + n - 4, from + n - 4, 4);
    } else {
        std::memcpy(out, from, n);
    }
}

// A coordinate reflected into 0..size-1 (size at least 1): the level and its
// mirror image repeat with period 2 size.
std::uint32_t Reflect(std::int64_t value, std::uint32_t size) {
    const std::int64_t period = 2 * std::int64_t{size};
    const std::int64_t folded = (value % period + period) % period;
    return static_cast<std::uint32_t>(folded < size ? folded : period - 1 - folded);
}

// The parent coordinate `halvings` levels up: halved, except that 0 and 1 stay
// unless plain.
std::int64_t Parent(std::int64_t value, std::uint32_t halvings, bool plain) {
    for (std::uint32_t c = 0; c < halvings; ++c) {
        if (value > 1 || plain) {
            value /= 2;
        }
    }
    return value;
}

}  // namespace

NeighbourhoodGatherer::NeighbourhoodGatherer(const ImagePyramid& pyramid, std::uint32_t level,
                                             std::int32_t side, std::uint32_t levels,
                                             bool fourChannels, bool wrap, WindowShape shape)
    : channels_(fourChannels ? 4u : 3u), wrap_(wrap), plainParents_(shape.plainParents) {
    const bool causal = shape.causal;
    byteCount_ = (causal ? NeighbourhoodPixelCount(side, levels)
                         : FullNeighbourhoodPixelCount(side, levels)) *
                 channels_;
    const Image* own = pyramid.Level(level);
    if (own == nullptr || own->IsEmpty() || side < 0) {
        missing_ = true;
        return;
    }
    std::int64_t n = side;
    std::int64_t h = n / 2;
    const std::int64_t ownSide = n;
    const std::int64_t ownHalf = h;
    const bool split = causal || shape.causalFirst;
    if (!split) {
        parts_.push_back(Part{own, 0, -h, h, -h, n, {}, {}, 0, 0});
    } else if (h > 0) {
        parts_.push_back(Part{own, 0, -h, -1, -h, n, {}, {}, 0, 0});
        parts_.push_back(Part{own, 0, 0, 0, -h, h, {}, {}, 0, 0});
    }
    for (std::uint32_t c = 1; c < levels; ++c) {
        const Image* image = level + c < level ? nullptr : pyramid.Level(level + c);
        if (image == nullptr || image->IsEmpty()) {
            missing_ = true;
            return;
        }
        if (n > 2) {
            n -= 2;
            h = n / 2;
        }
        parts_.push_back(Part{image, c, -h, h, -h, n, {}, {}, 0, 0});
    }
    if (split && !causal) {
        // The rest of the own level: the centre row from the pixel on, and
        // the rows below.
        parts_.push_back(Part{own, 0, 0, 0, 0, ownHalf + 1, {}, {}, 0, 0});
        if (ownHalf > 0) {
            parts_.push_back(Part{own, 0, 1, ownHalf, -ownHalf, ownSide, {}, {}, 0, 0});
        }
    }
    if (!wrap_) {
        return;
    }
    for (Part& part : parts_) {
        // Coordinates reach from the smallest parent plus the lowest offset to
        // the largest parent (the halving is monotonic) plus the highest.
        const std::int64_t rowTop =
            Parent(std::int64_t{own->height} - 1, part.halvings, plainParents_);
        const std::int64_t colTop =
            Parent(std::int64_t{own->width} - 1, part.halvings, plainParents_);
        const std::size_t bpp = part.image->bytesPerPixel;
        part.rowBase = part.rowFrom;
        part.colBase = part.colFrom;
        for (std::int64_t r = part.rowFrom; r <= rowTop + part.rowTo; ++r) {
            part.rowOffsets.push_back((shape.mirror ? Reflect(r, part.image->height)
                                                    : ImagePyramid::Wrap(r, part.image->height)) *
                                      std::size_t{part.image->width} * bpp);
        }
        for (std::int64_t c = part.colFrom; c < colTop + part.colFrom + part.count; ++c) {
            part.colOffsets.push_back((shape.mirror ? Reflect(c, part.image->width)
                                                    : ImagePyramid::Wrap(c, part.image->width)) *
                                      bpp);
        }
    }
}

bool NeighbourhoodGatherer::PartInside(const Part& part, std::int64_t px, std::int64_t py) const {
    return py + part.rowFrom >= 0 && py + part.rowTo < std::int64_t{part.image->height} &&
           px + part.colFrom >= 0 &&
           px + part.colFrom + part.count <= std::int64_t{part.image->width};
}

bool NeighbourhoodGatherer::Inside(std::uint32_t x, std::uint32_t y) const {
    if (missing_) {
        return false;
    }
    if (wrap_) {
        return true;
    }
    for (const Part& part : parts_) {
        if (!PartInside(part, Parent(x, part.halvings, plainParents_),
                        Parent(y, part.halvings, plainParents_))) {
            return false;
        }
    }
    return true;
}

bool NeighbourhoodGatherer::Gather(std::uint32_t x, std::uint32_t y, std::uint8_t* out) const {
    if (!Inside(x, y)) {
        return false;
    }
    for (const Part& part : parts_) {
        const std::int64_t px = Parent(x, part.halvings, plainParents_);
        const std::int64_t py = Parent(y, part.halvings, plainParents_);
        const Image& image = *part.image;
        const std::size_t bpp = image.bytesPerPixel;
        const bool straight = px + part.colFrom >= 0 &&
                              px + part.colFrom + part.count <= std::int64_t{image.width} &&
                              bpp == channels_;
        const auto runBytes = static_cast<std::size_t>(part.count) * channels_;
        for (std::int64_t dy = part.rowFrom; dy <= part.rowTo; ++dy) {
            const std::uint8_t* row =
                image.pixels.data() +
                (wrap_ ? part.rowOffsets[static_cast<std::size_t>(py + dy - part.rowBase)]
                       : static_cast<std::size_t>(py + dy) * image.width * bpp);
            if (straight) {
                CopyRun(out, row + static_cast<std::size_t>(px + part.colFrom) * bpp, runBytes);
                out += runBytes;
                continue;
            }
            for (std::int64_t dx = part.colFrom; dx < part.colFrom + part.count; ++dx) {
                const std::uint8_t* pixel =
                    row + (wrap_ ? part.colOffsets[static_cast<std::size_t>(px + dx - part.colBase)]
                                 : static_cast<std::size_t>(px + dx) * bpp);
                std::memcpy(out, pixel, channels_);
                out += channels_;
            }
        }
    }
    return true;
}

bool HasCompleteNeighbourhood(const ImagePyramid& pyramid, std::uint32_t level, std::int32_t side,
                              std::uint32_t levels) {
    const Image* image = pyramid.Level(level);
    if (image == nullptr || side < 0) {
        return false;
    }
    side = OddWindowSide(side);
    const bool four = image->bytesPerPixel == 4;
    FeatureVector vector;
    for (std::uint32_t y = 0; y < image->height; ++y) {
        for (std::uint32_t x = 0; x < image->width; ++x) {
            vector.clear();
            if (BuildNeighbourhood(pyramid, level, side, levels, static_cast<std::int32_t>(x),
                                   static_cast<std::int32_t>(y), vector, four, false)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace weftloom
