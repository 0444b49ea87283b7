#include "engine/neighbourhood.h"

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
