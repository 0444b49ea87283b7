#pragma once

// Small things every part of the coherent search uses: the empty mark, a
// neighbour's offset, sample positions by ordinal, wrap-around, draws and
// exact integer helpers. All inline: they sit on the search's hot path.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "engine/coherent_search.h"
#include "engine/image_pyramid.h"
#include "search/random_generator.h"

namespace weftloom::coherent {

// No sample position, no pixel, no distance.
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Where a neighbour lies from a pixel.
struct Offset {
    std::int32_t dx;
    std::int32_t dy;
};

// ImagePyramid::Wrap, without its division for the values a pass meets
// most: those within one size of the range.
inline std::uint32_t WrapNear(std::int64_t value, std::uint32_t size) {
    if (value >= 0 && value < size) {
        return static_cast<std::uint32_t>(value);
    }
    if (value < 0 && value + size >= 0) {
        return static_cast<std::uint32_t>(value + size);
    }
    if (value >= size && value - size < size) {
        return static_cast<std::uint32_t>(value - size);
    }
    return ImagePyramid::Wrap(value, size);
}

// A draw in [0, count) from the run's generator, of as many 15-bit draws as
// the count needs (one up to 32768).
inline std::uint32_t Draw(RandomGenerator& random, std::uint32_t count) {
    std::uint64_t value = random.Next();
    for (std::uint64_t range = RandomGenerator::kMaxValue + 1u; range < count; range <<= 15) {
        value = (value << 15) | random.Next();
    }
    return static_cast<std::uint32_t>(value % count);
}

// The starting state of one band's generator at one stage of a banded
// search: the run's draw, mixed with both (a MurmurHash3 finaliser), so that
// neighbouring bands draw unrelated sequences.
inline std::uint32_t BandSeed(std::uint32_t seed, std::uint32_t stage, std::uint32_t band) {
    std::uint32_t h = seed ^ (stage * 0x9E3779B9u) ^ (band * 0x85EBCA6Bu);
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// a * b, or the largest value when that does not fit.
inline std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max()
                                                  : product;
}

// The sum over the first `channels` channels of two pixels of their squared
// differences: how far apart two copies lie at a seam.
inline std::int64_t SquaredColourGap(const std::uint8_t* a, const std::uint8_t* b,
                                     std::uint32_t channels) {
    std::int64_t sum = 0;
    for (std::uint32_t c = 0; c < channels; ++c) {
        const std::int64_t d = std::int64_t{a[c]} - b[c];
        sum += d * d;
    }
    return sum;
}

// Division of 32-bit values by a fixed divisor through one multiplication
// (D. Lemire, O. Kaser, N. Kurz, "Faster Remainder by Direct Computation",
// 2019): exact for every 32-bit dividend. A pixel's candidates turn some
// fifty ordinals into positions.
class Divider {
  public:
    // divisor > 0; 1 has no 64-bit inverse and divides nothing.
    explicit Divider(std::uint32_t divisor)
        : inverse_(divisor > 1 ? std::numeric_limits<std::uint64_t>::max() / divisor + 1 : 0) {}
    std::uint32_t Divide(std::uint32_t value) const {
        __extension__ using Wide = unsigned __int128;
        return inverse_ == 0 ? value : static_cast<std::uint32_t>((Wide{inverse_} * value) >> 64);
    }

  private:
    std::uint64_t inverse_;
};

// The positions of a sample level by ordinal, y * width + x: what the
// search's tables are indexed by. The caller keeps width * height below
// kNone.
class SampleGrid {
  public:
    SampleGrid(std::uint32_t width, std::uint32_t height)
        : width_(width), height_(height), columns_(std::max(width, 1u)) {}

    std::uint32_t Width() const { return width_; }
    std::uint32_t Height() const { return height_; }
    std::uint32_t Count() const { return width_ * height_; }
    SourcePosition PositionOf(std::uint32_t v) const {
        const std::uint32_t y = columns_.Divide(v);
        return {v - y * width_, y};
    }
    // The position at (x, y), or kNone outside the sample.
    std::uint32_t OrdinalAt(std::int64_t x, std::int64_t y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) {
            return kNone;
        }
        return static_cast<std::uint32_t>(y * width_ + x);
    }
    // The position that continues a neighbour at offset o whose source is s
    // (s shifted back by o), or kNone outside the sample.
    std::uint32_t Continuation(const SourcePosition& s, const Offset& o) const {
        return OrdinalAt(std::int64_t{s.x} - o.dx, std::int64_t{s.y} - o.dy);
    }

    // Position v moved onto row `row`, its column kept; onto column
    // `column`, its row kept.
    std::uint32_t OnRow(std::uint32_t v, std::uint32_t row) const {
        return row * width_ + (v - columns_.Divide(v) * width_);
    }
    std::uint32_t OnColumn(std::uint32_t v, std::uint32_t column) const {
        return columns_.Divide(v) * width_ + column;
    }

  private:
    std::uint32_t width_;
    std::uint32_t height_;
    Divider columns_;  // by the width
};

// The offsets of the neighbours within radius, nearest first (by the larger
// of |dx| and |dy|), in scan order within a ring, the pixel itself left out;
// causal keeps only those synthesised before the pixel.
inline std::vector<Offset> NeighbourOffsets(std::int32_t radius, bool causal) {
    std::vector<Offset> offsets;
    for (std::int32_t dy = -radius; dy <= radius; ++dy) {
        for (std::int32_t dx = -radius; dx <= radius; ++dx) {
            if ((dx == 0 && dy == 0) || (causal && (dy > 0 || (dy == 0 && dx > 0)))) {
                continue;
            }
            offsets.push_back({dx, dy});
        }
    }
    std::stable_sort(offsets.begin(), offsets.end(), [](const Offset& a, const Offset& b) {
        return std::max(std::abs(a.dx), std::abs(a.dy)) < std::max(std::abs(b.dx), std::abs(b.dy));
    });
    return offsets;
}

// For a causal pass over reach (NeighbourOffsets(radius, true)): per
// offset, the earlier offsets (as bits over reach) whose neighbour is joined
// already to this offset's neighbour whenever the two copy with one shift.
// Two such neighbours within radius of each other were joined when the later
// of them was chosen, if the earlier lay in its reach and it continued it: a
// pixel that joins both need join only the first. The earlier lies in the
// later's reach when it is on a row above, or (sameRows) to its left on one
// row, which holds where the row was chosen left to right across both.
inline std::vector<std::uint32_t> JoinedBefore(const std::vector<Offset>& reach,
                                               std::int32_t radius, bool sameRows) {
    std::vector<std::uint32_t> before(reach.size(), 0);
    for (std::size_t i = 0; i < reach.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if ((sameRows || reach[i].dy != reach[j].dy) &&
                std::abs(reach[i].dx - reach[j].dx) <= radius &&
                std::abs(reach[i].dy - reach[j].dy) <= radius) {
                before[i] |= 1u << j;
            }
        }
    }
    return before;
}

// The offsets of the neighbours within radius that come after the pixel in
// scan order, nearest first (as NeighbourOffsets orders them).
inline std::vector<Offset> LaterOffsets(std::int32_t radius) {
    std::vector<Offset> later;
    for (const Offset& o : NeighbourOffsets(radius, false)) {
        if (o.dy > 0 || (o.dy == 0 && o.dx > 0)) {
            later.push_back(o);
        }
    }
    return later;
}

}  // namespace weftloom::coherent
