#include "engine/fill/picture_fill.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <limits>
#include <new>

#include "engine/coherent/common.h"
#include "engine/min_cut.h"
#include "search/random_generator.h"

// The fill follows the per-pixel, copy-only branch of example-based
// inpainting. Like Wexler, Shechtman and Irani ("Space-time completion of
// video", 2007) it works coarse to fine and lets every hole pixel be chosen
// again with whole windows, so that the fill as a whole matches the rest of the
// picture; unlike them it never averages overlapping windows: each pixel is
// copied from one known pixel, which keeps the picture's own sharpness.
// Harrison ("A non-hierarchical procedure for re-synthesis of complex
// textures", 2001; his "resynthesizer" fill, 2005) fills from the hole's edge
// inwards, each pixel continuing its filled neighbours; the first pass here
// does the same, in layers by distance from the edge. Candidates come from
// the neighbours' sources (coherence, Ashikhmin 2001), the parent level's
// source, random known pixels, and a random search around the current source
// as in PatchMatch (Barnes et al. 2009).
//
// Choosing again with whole windows over the whole hole draws the fill
// towards the smoother parts of the picture (a smooth window is the nearest
// to a mixed one), so on the finest level only the hole's edge is chosen
// again; inside the hole each pixel keeps the pixel its first filling chose.
// Every choice pays for each other hole pixel that copies the same source, so
// that the fill does not repeat the one part of the picture that matches best
// (the occurrence penalty of the coherent search, after Kaspar et al., "Self
// tuning texture optimization", 2015).
//
// A picture that repeats itself (see RepeatOffsets) is laid out along its
// repeats instead: on the first of the two finest levels that finds them, the
// whole hole is filled anew from the edge inwards with its neighbours'
// sources and the nearest sources a whole number of repeats away, and a source
// along a repeat wins while its window is within twice the best's, so that
// the mortar of a wall runs on across the hole in line with its courses.
//
// A photograph of a wall repeats only roughly (its bricks differ, and in
// perspective its repeat changes across it), so its matches gather at no one
// offset; but if the commonest offsets still hold a fiftieth of them, the
// hole is laid out on the second level as copies of the picture shifted by
// a dozen such offsets, the seams between the copies where they agree: see
// LayOutAlongOffsets. The finest level then keeps that layout, lays out
// again the band along the hole's edge with the same offsets at its scale,
// and chooses the hole's edge again.

namespace weftloom {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// The coarsest level keeps at least this many pixels on its shorter side.
constexpr std::uint32_t kCoarsestSide = 24;
constexpr std::uint32_t kMaxLevels = 5;
// Window radius on the finest level and on the coarser ones.
constexpr int kFineRadius = 3;
constexpr int kCoarseRadius = 2;
// Passes over the hole after its first filling, on each coarser level.
constexpr std::uint32_t kPasses = 4;
constexpr std::uint32_t kRandomTries = 8;
// Passes over the hole's edge (its pixels next to known ones) on the finest
// level, every other one backwards; each pixel there tries this many times as
// many random pixels and this many random searches around its source.
constexpr std::uint32_t kEdgePasses = 4;
constexpr std::uint32_t kEdgeTries = 16;
constexpr std::uint32_t kEdgeSearches = 4;
// On a finer level, a hole pixel farther than this from the picture starts
// from its parent's choice: the coarse level's layout holds inside the hole,
// and only the band along the edge is filled anew from the edge inwards.
constexpr std::int32_t kGuidedBand = 4;
// What a choice pays for each other hole pixel copying the same source, in
// 16ths of the mean distance chosen so far on the level.
constexpr std::uint64_t kUsePenalty = 32;
// How many times a known pixel of a window weighs more than a filled one once
// the hole is filled, and in the edge pass: the fill is matched to the picture
// around it before its own first guesses. Measured on the benchmark's twelve
// disc and stroke holes, the jump across the hole's edge came within 0.25 of
// the untouched picture's on 12 of them (7 with equal weights).
constexpr std::uint32_t kKnownWeight = 4;
constexpr std::uint32_t kEdgeKnownWeight = 8;
// How much the seam weighs in the edge passes, in quarters of a known nearest
// neighbour's weight for each known neighbour: see Distance.
constexpr std::uint32_t kSeamWeight = 16;
// The picture's repeats: see RepeatOffsets.
constexpr std::uint32_t kOffsetBand = 32;
constexpr std::uint32_t kOffsetIterations = 2;
constexpr std::size_t kMaxOffsets = 6;
constexpr std::uint32_t kOffsetShare = 100;  // in 1000ths of the matches
// A source along a repeat offset is chosen while its window's distance is
// within 16 / kRepeatScale of the best's.
constexpr std::uint32_t kRepeatScale = 8;
// Repeats are looked for on this many of the finest levels.
constexpr std::size_t kRepeatLevels = 2;
// The layout by shifted copies (see LayOutAlongOffsets): on which level
// (the second: on the finest, in a picture of 4096 x 4096, its cuts over
// the whole hole would take seconds), with how many offsets
// and cycles over them, when the commonest offset holds kLayoutShare of the
// matches (in 1000ths). Measured at the second level: the bricks photographs
// 23 to 42, smoke 15 to 18, water and bark 10 or less; so the water is not
// laid out, whose copies meet best in its smooth dark parts and lose the
// light's lines. A pixel that cannot take an offset pays kUnreachable.
constexpr std::size_t kLayoutLevel = 1;
constexpr std::size_t kLabelOffsets = 12;
constexpr std::uint32_t kLabelCycles = 2;
constexpr std::uint32_t kLayoutShare = 20;
constexpr std::int64_t kUnreachable = std::int64_t{1} << 40;
// On the finest level the hole pixels within this many pixels of the known
// ones are laid out again (at most as many as the second level has pixels):
// there the second level's seams, two pixels wide, left bricks broken along
// the hole's edge. A wider band (16, 24) lets the seams cross more of the
// flat middles of bricks, where the copies agree, and loses mortar lines.
constexpr std::uint32_t kFineLayoutBand = 8;

// The pixels of the second level of a width x height picture, at most.
std::uint64_t SecondLevelPixels(std::uint32_t width, std::uint32_t height) {
    return (std::uint64_t{width} / 2 + 1) * (height / 2 + 1);
}

struct Position {
    std::int32_t x;
    std::int32_t y;
};

constexpr std::array<Position, 4> kSides{{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}};

// One level of the pyramid: its pixels, which of them are the hole, which may
// be copied, and each pixel's source (a known pixel's is itself).
struct Level {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bpp = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> hole;      // 1: to be filled
    std::vector<std::uint8_t> filled;    // 1: a hole pixel that has a source already
    std::vector<std::uint8_t> source;    // 1: may be copied
    std::vector<std::uint32_t> sources;  // the indices of those, in scan order
    std::vector<std::uint32_t> from;     // per pixel, the index it is copied from
    // Per hole pixel, its parent's source moved to its own place under the
    // parent, when that may be copied; kNone else (and on the coarsest level).
    std::vector<std::uint32_t> guide;

    std::size_t Index(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
    }
    bool Inside(std::int32_t x, std::int32_t y) const {
        return x >= 0 && y >= 0 && x < static_cast<std::int32_t>(width) &&
               y < static_cast<std::int32_t>(height);
    }
    // Whether a pixel's value may be compared: known, or filled already.
    bool Valid(std::size_t i) const { return hole[i] == 0 || filled[i] != 0; }
};

// The half-size level of `fine`: a pixel is the hole when any of its (up to)
// four pixels is, else the rounded mean of them.
Level Halve(const Level& fine) {
    Level coarse;
    coarse.width = (fine.width + 1) / 2;
    coarse.height = (fine.height + 1) / 2;
    coarse.bpp = fine.bpp;
    const std::size_t count = std::size_t{coarse.width} * coarse.height;
    coarse.pixels.assign(count * coarse.bpp, 0);
    coarse.hole.assign(count, 0);
    for (std::uint32_t y = 0; y < coarse.height; ++y) {
        for (std::uint32_t x = 0; x < coarse.width; ++x) {
            std::array<std::uint32_t, 4> sums{};
            std::uint32_t n = 0;
            bool hole = false;
            for (std::uint32_t dy = 0; dy < 2; ++dy) {
                for (std::uint32_t dx = 0; dx < 2; ++dx) {
                    const std::uint32_t fx = std::min(2 * x + dx, fine.width - 1);
                    const std::uint32_t fy = std::min(2 * y + dy, fine.height - 1);
                    const std::size_t i = std::size_t{fy} * fine.width + fx;
                    hole = hole || fine.hole[i] != 0;
                    for (std::uint32_t c = 0; c < fine.bpp; ++c) {
                        sums[c] += fine.pixels[i * fine.bpp + c];
                    }
                    ++n;
                }
            }
            const std::size_t i = std::size_t{y} * coarse.width + x;
            coarse.hole[i] = hole ? 1 : 0;
            for (std::uint32_t c = 0; c < coarse.bpp; ++c) {
                coarse.pixels[i * coarse.bpp + c] =
                    static_cast<std::uint8_t>((sums[c] + n / 2) / n);
            }
        }
    }
    return coarse;
}

// Chebyshev distance from each pixel to the hole, up to limit (limit + 1
// beyond), by breadth-first layers.
std::vector<std::uint32_t> DistanceToHole(const Level& level, std::uint32_t limit) {
    std::vector<std::uint32_t> distance(level.hole.size(), kNone);
    std::deque<std::size_t> queue;
    for (std::size_t i = 0; i < level.hole.size(); ++i) {
        if (level.hole[i] != 0) {
            distance[i] = 0;
            queue.push_back(i);
        }
    }
    while (!queue.empty()) {
        const std::size_t i = queue.front();
        queue.pop_front();
        if (distance[i] > limit) {
            continue;
        }
        const auto x = static_cast<std::int32_t>(i % level.width);
        const auto y = static_cast<std::int32_t>(i / level.width);
        for (std::int32_t dy = -1; dy <= 1; ++dy) {
            for (std::int32_t dx = -1; dx <= 1; ++dx) {
                if (level.Inside(x + dx, y + dy)) {
                    const std::size_t j = level.Index(x + dx, y + dy);
                    if (distance[j] == kNone) {
                        distance[j] = distance[i] + 1;
                        queue.push_back(j);
                    }
                }
            }
        }
    }
    return distance;
}

// Whether pixel i has a known pixel among its eight neighbours.
bool NextToKnown(const Level& level, std::size_t i) {
    const auto x = static_cast<std::int32_t>(i % level.width);
    const auto y = static_cast<std::int32_t>(i / level.width);
    for (std::int32_t dy = -1; dy <= 1; ++dy) {
        for (std::int32_t dx = -1; dx <= 1; ++dx) {
            if (level.Inside(x + dx, y + dy) && level.hole[level.Index(x + dx, y + dy)] == 0) {
                return true;
            }
        }
    }
    return false;
}

// How deep each hole pixel lies in the hole: 1 next to a known pixel (side or
// corner), one more for each step inwards; kNone past limit (and for the
// known pixels).
std::vector<std::uint32_t> DepthInHole(const Level& level, std::uint32_t limit) {
    std::vector<std::uint32_t> depth(level.hole.size(), kNone);
    std::vector<std::uint32_t> layer;
    std::vector<std::uint32_t> next;
    for (std::size_t i = 0; i < level.hole.size(); ++i) {
        if (level.hole[i] != 0 && NextToKnown(level, i)) {
            depth[i] = 1;
            layer.push_back(static_cast<std::uint32_t>(i));
        }
    }
    for (std::uint32_t d = 2; d <= limit && !layer.empty(); ++d) {
        next.clear();
        for (const std::uint32_t i : layer) {
            const auto x = static_cast<std::int32_t>(i % level.width);
            const auto y = static_cast<std::int32_t>(i / level.width);
            for (std::int32_t dy = -1; dy <= 1; ++dy) {
                for (std::int32_t dx = -1; dx <= 1; ++dx) {
                    if (!level.Inside(x + dx, y + dy)) {
                        continue;
                    }
                    const std::size_t j = level.Index(x + dx, y + dy);
                    if (level.hole[j] != 0 && depth[j] == kNone) {
                        depth[j] = d;
                        next.push_back(static_cast<std::uint32_t>(j));
                    }
                }
            }
        }
        layer.swap(next);
    }
    return depth;
}

// The hole pixels of a level not filled yet, in layers from the edge inwards
// (scan order within a layer): each has a valid or earlier neighbour when its
// turn comes.
std::vector<std::uint32_t> OnionOrder(const Level& level) {
    std::vector<std::uint32_t> order;
    std::vector<std::uint8_t> reached(level.hole.size(), 0);
    std::vector<std::uint32_t> layer;
    for (std::size_t i = 0; i < level.hole.size(); ++i) {
        reached[i] = level.Valid(i) ? 1 : 0;
    }
    for (;;) {
        layer.clear();
        for (std::size_t i = 0; i < level.hole.size(); ++i) {
            if (reached[i] != 0) {
                continue;
            }
            const auto x = static_cast<std::int32_t>(i % level.width);
            const auto y = static_cast<std::int32_t>(i / level.width);
            bool edge = false;
            for (std::int32_t dy = -1; dy <= 1 && !edge; ++dy) {
                for (std::int32_t dx = -1; dx <= 1 && !edge; ++dx) {
                    edge =
                        level.Inside(x + dx, y + dy) && reached[level.Index(x + dx, y + dy)] == 1;
                }
            }
            if (edge) {
                layer.push_back(static_cast<std::uint32_t>(i));
            }
        }
        if (layer.empty()) {
            break;
        }
        for (const std::uint32_t i : layer) {
            reached[i] = 2;  // reached in this layer: not an edge for it
        }
        for (const std::uint32_t i : layer) {
            reached[i] = 1;
            order.push_back(i);
        }
    }
    return order;
}

// The colour channels windows compare: a picture has 3 or 4 bytes a pixel,
// and alpha is not compared.
constexpr std::uint32_t kColours = 3;

// The squared difference between the windows of two known pixels, over the
// pixels known around both, per pixel compared; kNone when fewer than half the
// window is compared, or once the sum passes what bound allows.
std::uint32_t KnownDistance(const Level& level, std::int32_t radius, std::size_t p, std::size_t q,
                            std::uint32_t bound) {
    const auto px = static_cast<std::int32_t>(p % level.width);
    const auto py = static_cast<std::int32_t>(p / level.width);
    const auto qx = static_cast<std::int32_t>(q % level.width);
    const auto qy = static_cast<std::int32_t>(q / level.width);
    const auto side = static_cast<std::uint32_t>(2 * radius + 1);
    const std::uint64_t most = std::uint64_t{bound} * side * side;
    const std::uint32_t bpp = level.bpp;
    const auto width = static_cast<std::int32_t>(level.width);
    const auto height = static_cast<std::int32_t>(level.height);
    const std::uint8_t* hole = level.hole.data();
    const std::uint8_t* pixels = level.pixels.data();
    std::uint64_t sum = 0;
    std::uint32_t compared = 0;
    // The columns of the window inside the picture around both pixels.
    const std::int32_t left = std::max({-radius, -px, -qx});
    const std::int32_t right = std::min({radius, width - 1 - px, width - 1 - qx});
    for (std::int32_t dy = -radius; dy <= radius; ++dy) {
        if (py + dy >= 0 && py + dy < height && qy + dy >= 0 && qy + dy < height) {
            const std::size_t rowA = level.Index(px, py + dy);
            const std::size_t rowB = level.Index(qx, qy + dy);
            for (std::int32_t dx = left; dx <= right; ++dx) {
                const std::size_t a = rowA + static_cast<std::size_t>(std::ptrdiff_t{dx});
                const std::size_t b = rowB + static_cast<std::size_t>(std::ptrdiff_t{dx});
                // Pixels in the hole are weighed 0, without a branch.
                const std::uint32_t counted = (hole[a] | hole[b]) == 0 ? 1u : 0u;
                sum += static_cast<std::uint64_t>(coherent::SquaredColourGap(
                           pixels + a * bpp, pixels + b * bpp, kColours)) *
                       counted;
                compared += counted;
            }
        }
        if (sum >= most) {
            return kNone;
        }
    }
    if (compared * 2 < side * side) {
        return kNone;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(sum / compared, kNone - 1));
}

struct OffsetPeak {
    std::uint32_t count;
    Position offset;
};

// The offsets of the best matches of the known pixels near the hole, each
// with its count (its neighbours' included), most common first, and the
// number of matches; see RepeatOffsets.
std::vector<OffsetPeak> OffsetPeaks(const Level& level, std::int32_t radius, std::uint32_t seed,
                                    std::uint64_t& matched) {
    std::vector<OffsetPeak> peaks;
    matched = 0;
    const std::vector<std::uint32_t> distance = DistanceToHole(level, kOffsetBand);
    std::vector<std::uint32_t> band;
    for (std::size_t i = 0; i < distance.size(); ++i) {
        if (level.hole[i] == 0 && distance[i] <= kOffsetBand) {
            band.push_back(static_cast<std::uint32_t>(i));
        }
    }
    if (band.empty()) {
        return peaks;
    }
    // Shorter offsets are the picture's smoothness more than its repeats (a
    // fifteenth of the picture, as He and Sun).
    const std::int32_t shortest = std::max<std::int32_t>(
        2 * radius + 1, static_cast<std::int32_t>(std::max(level.width, level.height) / 15));
    const auto w = static_cast<std::int32_t>(level.width);
    RandomGenerator random(seed);
    const auto draw = [&random](std::uint32_t count) {
        return ((random.Next() << 15) | random.Next()) % count;
    };
    std::vector<std::uint32_t> match(level.hole.size(), kNone);
    std::vector<std::uint32_t> cost(level.hole.size(), kNone);
    // Tries q as p's match.
    const auto tryMatch = [&](std::uint32_t p, std::int32_t qx, std::int32_t qy) {
        const auto px = static_cast<std::int32_t>(p % level.width);
        const auto py = static_cast<std::int32_t>(p / level.width);
        if (!level.Inside(qx, qy) || std::max(std::abs(qx - px), std::abs(qy - py)) < shortest) {
            return;
        }
        const std::size_t q = level.Index(qx, qy);
        if (level.source[q] == 0) {
            return;
        }
        const std::uint32_t d = KnownDistance(level, radius, p, q, cost[p]);
        if (d < cost[p]) {
            cost[p] = d;
            match[p] = static_cast<std::uint32_t>(q);
        }
    };
    const auto count = static_cast<std::uint32_t>(level.sources.size());
    for (const std::uint32_t p : band) {
        const std::uint32_t q = level.sources[draw(count)];
        tryMatch(p, static_cast<std::int32_t>(q % level.width),
                 static_cast<std::int32_t>(q / level.width));
    }
    for (std::uint32_t iteration = 0; iteration < kOffsetIterations; ++iteration) {
        const std::int32_t step = iteration % 2 == 0 ? 1 : -1;
        for (std::size_t k = 0; k < band.size(); ++k) {
            const std::uint32_t p = band[step == 1 ? k : band.size() - 1 - k];
            const auto px = static_cast<std::int32_t>(p % level.width);
            const auto py = static_cast<std::int32_t>(p / level.width);
            // The match of the neighbour before, moved along.
            for (const Position n : {Position{px - step, py}, Position{px, py - step}}) {
                if (level.Inside(n.x, n.y) && match[level.Index(n.x, n.y)] != kNone) {
                    const std::uint32_t m = match[level.Index(n.x, n.y)];
                    tryMatch(p, static_cast<std::int32_t>(m % level.width) + px - n.x,
                             static_cast<std::int32_t>(m / level.width) + py - n.y);
                }
            }
            if (match[p] == kNone) {
                continue;
            }
            const auto mx = static_cast<std::int32_t>(match[p] % level.width);
            const auto my = static_cast<std::int32_t>(match[p] / level.width);
            for (auto reach = static_cast<std::int32_t>(std::max(level.width, level.height) / 2);
                 reach >= 1; reach /= 2) {
                const auto span = static_cast<std::uint32_t>(2 * reach + 1);
                tryMatch(p, mx + static_cast<std::int32_t>(draw(span)) - reach,
                         my + static_cast<std::int32_t>(draw(span)) - reach);
            }
        }
    }
    // The matches' offsets, an offset and its opposite as one.
    std::vector<std::int64_t> keys;
    const std::int64_t stride = 4 * std::int64_t{w} + 4;
    const auto key = [stride](std::int32_t dx, std::int32_t dy) {
        return std::int64_t{dy} * stride + dx;
    };
    for (const std::uint32_t p : band) {
        if (match[p] == kNone) {
            continue;
        }
        std::int32_t dx = static_cast<std::int32_t>(match[p] % level.width) -
                          static_cast<std::int32_t>(p % level.width);
        std::int32_t dy = static_cast<std::int32_t>(match[p] / level.width) -
                          static_cast<std::int32_t>(p / level.width);
        if (dy < 0 || (dy == 0 && dx < 0)) {
            dx = -dx;
            dy = -dy;
        }
        keys.push_back(key(dx, dy));
    }
    std::sort(keys.begin(), keys.end());
    const auto countOf = [&keys](std::int64_t k) {
        const auto range = std::equal_range(keys.begin(), keys.end(), k);
        return static_cast<std::uint32_t>(range.second - range.first);
    };
    for (std::size_t k = 0; k < keys.size(); k++) {
        if (k > 0 && keys[k] == keys[k - 1]) {
            continue;
        }
        // dy * stride + dx with |dx| < stride / 2.
        auto dy = static_cast<std::int32_t>((keys[k] + stride / 2) / stride);
        auto dx = static_cast<std::int32_t>(keys[k] - std::int64_t{dy} * stride);
        std::uint32_t sum = 0;
        for (std::int32_t ny = -1; ny <= 1; ++ny) {
            for (std::int32_t nx = -1; nx <= 1; ++nx) {
                sum += countOf(key(dx + nx, dy + ny));
            }
        }
        peaks.push_back({sum, {dx, dy}});
    }
    std::stable_sort(peaks.begin(), peaks.end(),
                     [](const OffsetPeak& a, const OffsetPeak& b) { return a.count > b.count; });
    matched = static_cast<std::uint64_t>(keys.size());
    return peaks;
}

// Up to `most` of peaks, in their order, none within 2 pixels of one before
// it, and none holding fewer than share thousandths of matched.
std::vector<Position> DistinctOffsets(const std::vector<OffsetPeak>& peaks, std::uint64_t matched,
                                      std::size_t most, std::uint32_t share) {
    std::vector<Position> offsets;
    for (const OffsetPeak& peak : peaks) {
        if (offsets.size() == most || std::uint64_t{peak.count} * 1000 < matched * share) {
            break;
        }
        const bool near = std::any_of(offsets.begin(), offsets.end(), [&peak](Position o) {
            return std::max(std::abs(o.x - peak.offset.x), std::abs(o.y - peak.offset.y)) <= 2;
        });
        if (!near) {
            offsets.push_back(peak.offset);
        }
    }
    return offsets;
}

// The offsets by which the picture around the hole repeats itself, most
// common first: He and Sun ("Statistics of patch offsets for image
// completion", 2012) match every known pixel to its most alike known pixel
// at least a window away and find that, in a picture with structure, a few
// offsets take most of the matches; copying along them continues the
// structure. Here the matches are those of the known pixels within kOffsetBand
// of the hole (the offsets near the hole: a picture in perspective repeats by
// other offsets elsewhere), found by PatchMatch (Barnes et al. 2009); an
// offset and its opposite count as one, and an offset's count takes its eight
// neighbours' (a repeat a pixel longer or shorter is the same repeat in
// perspective). Only offsets holding at least kOffsetShare (a tenth) of the
// matches are kept: only a picture that repeats nearly exactly (a tiled
// texture, a regular wall) gathers that many. In a picture without a repeat
// (water, smoke) the matches scatter; they scatter too in a photograph of
// bricks, whose bricks differ, and of bricks in perspective, whose repeat
// changes across the picture, so those are filled as before.
std::vector<Position> RepeatOffsets(const std::vector<OffsetPeak>& peaks, std::uint64_t matched) {
    return DistinctOffsets(peaks, matched, kMaxOffsets, kOffsetShare);
}

}  // namespace

// One level's filling: candidates for each hole pixel, compared by the window
// of its valid pixels against the same window around the candidate, over the
// candidate's known pixels only.
class FillLevel {
  public:
    FillLevel(PictureFill& job, Level& level, std::int32_t radius, RandomGenerator& random)
        : job_(job), level_(level), radius_(radius), random_(random) {}

    // The first filling, from the edge inwards: every candidate of the
    // neighbours' sources, the repeats' and random ones, or (exhaustive) every
    // source; alongRepeats: the neighbours' and the repeats' only (random
    // ones only where there are none), so that the hole is laid out by the
    // picture's repeats.
    bool FirstFill(bool exhaustive, bool alongRepeats = false) {
        std::uint32_t done = 0;
        for (const std::uint32_t i : OnionOrder(level_)) {
            if (++done % 1024 == 0 && job_.Aborted()) {
                return false;
            }
            std::vector<std::uint32_t>& list = candidates_;
            list.clear();
            if (exhaustive) {
                list = level_.sources;
            } else {
                AddNeighbourSources(i, list);
                AddRepeats(i, list);
                if (!alongRepeats || list.empty()) {
                    AddGuide(i, list);
                    AddRandom(list);
                }
            }
            Choose(i, list);
            level_.filled[i] = 1;
        }
        return true;
    }

    // The hole's pixels (edgeOnly: those next to known ones, with many more
    // tries: where the fill meets the picture, a better match shows most)
    // chosen again with whole windows, in scan order (every other pass
    // backwards), reporting each row.
    bool Pass(bool backwards, bool edgeOnly, std::int32_t levelNumber, std::uint32_t& rowsDone,
              std::uint32_t rowsTotal) {
        const std::uint32_t h = level_.height;
        for (std::uint32_t r = 0; r < h; ++r) {
            const std::uint32_t y = backwards ? h - 1 - r : r;
            for (std::uint32_t c = 0; c < level_.width; ++c) {
                const std::uint32_t x = backwards ? level_.width - 1 - c : c;
                const std::size_t i = std::size_t{y} * level_.width + x;
                if (level_.hole[i] == 0 || (edgeOnly && !NearKnown(i, 1))) {
                    continue;
                }
                std::vector<std::uint32_t>& list = candidates_;
                list.clear();
                list.push_back(level_.from[i]);
                AddNeighbourSources(static_cast<std::uint32_t>(i), list);
                AddRepeats(static_cast<std::uint32_t>(i), list);
                if (edgeOnly) {
                    for (std::uint32_t k = 0; k < kEdgeTries; ++k) {
                        AddRandom(list);
                    }
                    for (std::uint32_t k = 0; k < kEdgeSearches; ++k) {
                        AddSearch(level_.from[i], list);
                    }
                } else {
                    AddGuide(static_cast<std::uint32_t>(i), list);
                    AddRandom(list);
                    AddSearch(level_.from[i], list);
                }
                Choose(static_cast<std::uint32_t>(i), list);
            }
            ++rowsDone;
            job_.ReportRow(levelNumber, &level_.pixels[std::size_t{y} * level_.width * level_.bpp],
                           level_.width, level_.height, level_.bpp, y, rowsDone, rowsTotal);
            if (job_.Aborted()) {
                return false;
            }
        }
        return true;
    }

    // The hole's pixels farther than band from the known ones take their
    // guide, when they have one, before the first filling.
    void StartFromGuide(std::int32_t band) {
        for (std::size_t i = 0; i < level_.hole.size(); ++i) {
            if (level_.hole[i] != 0 && level_.guide[i] != kNone && !NearKnown(i, band)) {
                Copy(i, level_.guide[i]);
                level_.filled[i] = 1;
                ++uses_[level_.guide[i]];
            }
        }
    }

    // Known pixels weigh this many times a filled one from now on, and the
    // seam with the known pixels seamWeight (0: not at all).
    void WeighKnown(std::uint32_t weight, std::uint32_t seamWeight) {
        knownWeight_ = weight;
        seamWeight_ = seamWeight;
    }

    // Hole pixels are offered the nearest source along each of these
    // offsets, and a source along one is preferred while its window is not
    // much farther than the best.
    void OfferRepeats(std::vector<Position> offsets) { offsets_ = std::move(offsets); }

    // The hole laid out anew as copies of the picture shifted by offsets
    // (each both ways), the seams between them where the copies agree: He
    // and Sun's labelling ("Statistics of patch offsets for image
    // completion", 2012), each hole pixel taking one offset and each pair of
    // side neighbours paying for how much their two copies differ (the
    // shift-map of Pritch, Kav-Venaki and Peleg, 2009). It starts from the
    // fill so far (each pixel's own shift) and moves a region to an offset
    // wherever that lowers the seams, by alpha-expansion (Boykov, Veksler and
    // Zabih, "Fast approximate energy minimization via graph cuts", 2001):
    // for each offset in turn a minimum cut decides which pixels take it,
    // and the layout is kept only if its seams cost less. Copies of a wall
    // meet along its mortar, where they agree, so the courses run on.
    //
    // Only the hole pixels within band of the known ones are laid out anew
    // (the rest keep their sources and bound the seams like known pixels),
    // at most `most` of them: the band narrows until they fit.
    bool LayOutAlongOffsets(const std::vector<Position>& offsets, std::uint32_t band,
                            std::size_t most) {
        band = std::min(band, level_.width + level_.height);
        std::vector<std::uint32_t> node = DepthInHole(level_, band);
        std::vector<std::size_t> deeper(band + 2, 0);  // hole pixels by depth
        for (const std::uint32_t d : node) {
            ++deeper[std::min(d, band + 1)];
        }
        std::size_t count = 0;
        std::uint32_t depth = 0;
        while (depth < band && count + deeper[depth + 1] <= most) {
            count += deeper[++depth];
        }
        std::vector<std::uint32_t> nodes;
        nodes.reserve(count);
        for (std::size_t i = 0; i < node.size(); ++i) {
            node[i] = node[i] <= depth ? static_cast<std::uint32_t>(nodes.size()) : kNone;
            if (node[i] != kNone) {
                nodes.push_back(static_cast<std::uint32_t>(i));
            }
        }
        if (nodes.empty()) {
            return true;
        }
        std::vector<Position> labels;
        for (const Position o : offsets) {
            labels.push_back(o);
            labels.push_back({-o.x, -o.y});
        }
        std::vector<std::int64_t> toSink(nodes.size());
        std::vector<std::int64_t> toSource(nodes.size());
        // Each node's source, and the next layout's.
        std::vector<std::uint32_t> from(nodes.size());
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            from[n] = level_.from[nodes[n]];
        }
        std::vector<std::uint32_t> next;
        for (std::uint32_t cycle = 0; cycle < kLabelCycles; ++cycle) {
            bool changed = false;
            for (const Position alpha : labels) {
                if (job_.Aborted()) {
                    return false;
                }
                MinCut cut(nodes.size(), 2 * nodes.size());
                for (std::size_t n = 0; n < nodes.size(); ++n) {
                    const std::uint32_t p = nodes[n];
                    const std::uint32_t moved = Shifted(p, alpha);
                    toSource[n] = 0;
                    toSink[n] = moved == kNone ? kUnreachable : 0;
                    const auto x = static_cast<std::int32_t>(p % level_.width);
                    const auto y = static_cast<std::int32_t>(p / level_.width);
                    for (const Position side : kSides) {
                        if (!level_.Inside(x + side.x, y + side.y)) {
                            continue;
                        }
                        const auto q =
                            static_cast<std::uint32_t>(level_.Index(x + side.x, y + side.y));
                        if (node[q] == kNone) {
                            toSource[n] += SeamCost(p, from[n], q, level_.from[q]);
                            if (moved != kNone) {
                                toSink[n] += SeamCost(p, moved, q, level_.from[q]);
                            }
                        }
                    }
                }
                for (std::size_t n = 0; n < nodes.size(); ++n) {
                    const std::uint32_t p = nodes[n];
                    const std::uint32_t moved = Shifted(p, alpha);
                    const auto x = static_cast<std::int32_t>(p % level_.width);
                    const auto y = static_cast<std::int32_t>(p / level_.width);
                    for (const Position side : {Position{1, 0}, Position{0, 1}}) {
                        if (!level_.Inside(x + side.x, y + side.y)) {
                            continue;
                        }
                        const auto q =
                            static_cast<std::uint32_t>(level_.Index(x + side.x, y + side.y));
                        if (node[q] == kNone) {
                            continue;
                        }
                        const std::uint32_t qFrom = from[node[q]];
                        const std::uint32_t qMoved = Shifted(q, alpha);
                        // (A pixel that cannot move never pays for moving.)
                        std::int64_t both = SeamCost(p, from[n], q, qFrom);
                        const std::int64_t qOnly =
                            qMoved == kNone ? both : SeamCost(p, from[n], q, qMoved);
                        const std::int64_t pOnly =
                            moved == kNone ? both : SeamCost(p, moved, q, qFrom);
                        // An expansion needs a seam no dearer than two: a
                        // dearer one is taken as two.
                        both = std::min(both, qOnly + pOnly);
                        toSink[n] += pOnly - both;
                        toSink[node[q]] -= pOnly;
                        cut.AddEdge(n, node[q], qOnly + pOnly - both);
                    }
                }
                for (std::size_t n = 0; n < nodes.size(); ++n) {
                    cut.AddTerminal(n, toSink[n], toSource[n]);
                }
                cut.Solve();
                next = from;
                bool moves = false;
                for (std::size_t n = 0; n < nodes.size(); ++n) {
                    if (cut.OnSinkSide(n) && next[n] != Shifted(nodes[n], alpha)) {
                        next[n] = Shifted(nodes[n], alpha);
                        moves = true;
                    }
                }
                if (moves && SeamEnergy(nodes, node, next) < SeamEnergy(nodes, node, from)) {
                    from.swap(next);
                    changed = true;
                }
            }
            if (!changed) {
                break;
            }
        }
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            const std::uint32_t p = nodes[n];
            if (from[n] != level_.from[p]) {
                --uses_[level_.from[p]];
                ++uses_[from[n]];
                Copy(p, from[n]);
            }
        }
        return true;
    }

  private:
    // Pixel i's source shifted by offset: kNone unless it may be copied.
    std::uint32_t Shifted(std::uint32_t i, Position offset) const {
        const auto x = static_cast<std::int32_t>(i % level_.width) + offset.x;
        const auto y = static_cast<std::int32_t>(i / level_.width) + offset.y;
        if (!level_.Inside(x, y) || level_.source[level_.Index(x, y)] == 0) {
            return kNone;
        }
        return static_cast<std::uint32_t>(level_.Index(x, y));
    }

    // The seam between side neighbours p and q copying sp and sq (a known
    // pixel copies itself): how much the two copies differ where both are
    // known, at p and at q (He and Sun's smoothness, that of Pritch et al.'s
    // shift-map); one place counts twice when the other is not known in
    // both, and a seam with neither costs as much as a black and white one.
    std::int64_t SeamCost(std::uint32_t p, std::uint32_t sp, std::uint32_t q,
                          std::uint32_t sq) const {
        const std::int32_t pdx = static_cast<std::int32_t>(sp % level_.width) -
                                 static_cast<std::int32_t>(p % level_.width);
        const std::int32_t pdy = static_cast<std::int32_t>(sp / level_.width) -
                                 static_cast<std::int32_t>(p / level_.width);
        const std::int32_t qdx = static_cast<std::int32_t>(sq % level_.width) -
                                 static_cast<std::int32_t>(q % level_.width);
        const std::int32_t qdy = static_cast<std::int32_t>(sq / level_.width) -
                                 static_cast<std::int32_t>(q / level_.width);
        if (pdx == qdx && pdy == qdy) {
            return 0;
        }
        std::int64_t sum = 0;
        std::int32_t places = 0;
        for (const std::uint32_t at : {p, q}) {
            const auto x = static_cast<std::int32_t>(at % level_.width);
            const auto y = static_cast<std::int32_t>(at / level_.width);
            if (!level_.Inside(x + pdx, y + pdy) || !level_.Inside(x + qdx, y + qdy)) {
                continue;
            }
            const std::size_t a = level_.Index(x + pdx, y + pdy);
            const std::size_t b = level_.Index(x + qdx, y + qdy);
            if (level_.hole[a] != 0 || level_.hole[b] != 0) {
                continue;
            }
            sum += coherent::SquaredColourGap(&level_.pixels[a * level_.bpp],
                                              &level_.pixels[b * level_.bpp], kColours);
            ++places;
        }
        return places == 2 ? sum : places == 1 ? 2 * sum : 6 * 255 * 255;
    }

    // The seams of a layout of the nodes (their sources): between each node
    // and its side neighbours.
    std::int64_t SeamEnergy(const std::vector<std::uint32_t>& nodes,
                            const std::vector<std::uint32_t>& node,
                            const std::vector<std::uint32_t>& from) const {
        std::int64_t energy = 0;
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            const std::uint32_t p = nodes[n];
            const auto x = static_cast<std::int32_t>(p % level_.width);
            const auto y = static_cast<std::int32_t>(p / level_.width);
            for (const Position side : kSides) {
                if (!level_.Inside(x + side.x, y + side.y)) {
                    continue;
                }
                const auto q = static_cast<std::uint32_t>(level_.Index(x + side.x, y + side.y));
                // A pair of nodes once, from its left or upper one.
                if (node[q] == kNone) {
                    energy += SeamCost(p, from[n], q, level_.from[q]);
                } else if (side.x > 0 || side.y > 0) {
                    energy += SeamCost(p, from[n], q, from[node[q]]);
                }
            }
        }
        return energy;
    }

    // Whether a pixel lies within reach of a known one.
    bool NearKnown(std::size_t i, std::int32_t reach) const {
        const auto x = static_cast<std::int32_t>(i % level_.width);
        const auto y = static_cast<std::int32_t>(i / level_.width);
        for (std::int32_t dy = -reach; dy <= reach; ++dy) {
            for (std::int32_t dx = -reach; dx <= reach; ++dx) {
                if (level_.Inside(x + dx, y + dy) &&
                    level_.hole[level_.Index(x + dx, y + dy)] == 0) {
                    return true;
                }
            }
        }
        return false;
    }

    // The sources that continue each valid neighbour's: the neighbour's
    // source moved as far as the pixel is from the neighbour.
    void AddNeighbourSources(std::uint32_t i, std::vector<std::uint32_t>& list) const {
        const auto x = static_cast<std::int32_t>(i % level_.width);
        const auto y = static_cast<std::int32_t>(i / level_.width);
        for (std::int32_t dy = -1; dy <= 1; ++dy) {
            for (std::int32_t dx = -1; dx <= 1; ++dx) {
                if ((dx == 0 && dy == 0) || !level_.Inside(x + dx, y + dy)) {
                    continue;
                }
                const std::size_t n = level_.Index(x + dx, y + dy);
                if (!level_.Valid(n)) {
                    continue;
                }
                const std::uint32_t s = level_.from[n];
                const auto sx = static_cast<std::int32_t>(s % level_.width) - dx;
                const auto sy = static_cast<std::int32_t>(s / level_.width) - dy;
                AddIfSource(sx, sy, list);
            }
        }
    }

    // The parent's choice for the pixel, and a search around it.
    void AddGuide(std::uint32_t i, std::vector<std::uint32_t>& list) {
        if (!level_.guide.empty() && level_.guide[i] != kNone) {
            list.push_back(level_.guide[i]);
            AddSearch(level_.guide[i], list);
        }
    }

    // The nearest source along each repeat offset, both ways.
    void AddRepeats(std::uint32_t i, std::vector<std::uint32_t>& list) const {
        const auto x = static_cast<std::int32_t>(i % level_.width);
        const auto y = static_cast<std::int32_t>(i / level_.width);
        for (const Position o : offsets_) {
            for (const std::int32_t way : {1, -1}) {
                for (std::int32_t n = way;; n += way) {
                    const std::int32_t sx = x + n * o.x;
                    const std::int32_t sy = y + n * o.y;
                    if (!level_.Inside(sx, sy)) {
                        break;
                    }
                    if (level_.source[level_.Index(sx, sy)] != 0) {
                        list.push_back(static_cast<std::uint32_t>(level_.Index(sx, sy)));
                        break;
                    }
                }
            }
        }
    }

    // Whether source s lies from pixel i a whole number of a repeat offset.
    bool AlongRepeat(std::uint32_t i, std::uint32_t s) const {
        const std::int32_t dx = static_cast<std::int32_t>(s % level_.width) -
                                static_cast<std::int32_t>(i % level_.width);
        const std::int32_t dy = static_cast<std::int32_t>(s / level_.width) -
                                static_cast<std::int32_t>(i / level_.width);
        return std::any_of(offsets_.begin(), offsets_.end(), [dx, dy](Position o) {
            const std::int32_t n = o.x != 0 ? dx / o.x : dy / o.y;
            return n != 0 && n * o.x == dx && n * o.y == dy;
        });
    }

    void AddRandom(std::vector<std::uint32_t>& list) {
        const auto count = static_cast<std::uint32_t>(level_.sources.size());
        for (std::uint32_t k = 0; k < kRandomTries; ++k) {
            list.push_back(level_.sources[random_.Next() % count]);
        }
    }

    // PatchMatch's random search: one try in each of a shrinking series of
    // squares around the current source.
    void AddSearch(std::uint32_t current, std::vector<std::uint32_t>& list) {
        const auto cx = static_cast<std::int32_t>(current % level_.width);
        const auto cy = static_cast<std::int32_t>(current / level_.width);
        for (auto reach = static_cast<std::int32_t>(std::max(level_.width, level_.height) / 2);
             reach >= 1; reach /= 2) {
            const auto span = static_cast<std::uint32_t>(2 * reach + 1);
            const std::int32_t dx = static_cast<std::int32_t>(random_.Next() % span) - reach;
            const std::int32_t dy = static_cast<std::int32_t>(random_.Next() % span) - reach;
            AddIfSource(cx + dx, cy + dy, list);
        }
    }

    std::uint32_t RingWeight(std::int32_t ring) const {
        const auto near = static_cast<std::uint32_t>(radius_ + 1 - ring);
        return near * near * near;
    }
    // The weight of a window whose pixels are all known.
    std::uint32_t WholeWindowWeight() const {
        std::uint32_t window = 0;
        for (std::int32_t ring = 1; ring <= radius_; ++ring) {
            window += static_cast<std::uint32_t>(8 * ring) * RingWeight(ring);
        }
        return window * knownWeight_;
    }

    void AddIfSource(std::int32_t x, std::int32_t y, std::vector<std::uint32_t>& list) const {
        if (level_.Inside(x, y)) {
            const std::size_t s = level_.Index(x, y);
            if (level_.source[s] != 0) {
                list.push_back(static_cast<std::uint32_t>(s));
            }
        }
    }

    // The weighted mean squared difference over the window's compared
    // pixels, in 256ths; kNone when what can be compared weighs less than a
    // quarter of a wholly known window: with known pixels weighing more, the
    // window's known part must decide (a source whose window reaches into
    // the hole, or a pixel that sees mostly its own fill, needs more of it).
    std::uint32_t Distance(std::uint32_t i, std::uint32_t s, std::uint32_t bound) const {
        const auto x = static_cast<std::int32_t>(i % level_.width);
        const auto y = static_cast<std::int32_t>(i / level_.width);
        const auto sx = static_cast<std::int32_t>(s % level_.width);
        const auto sy = static_cast<std::int32_t>(s / level_.width);
        const std::uint32_t bpp = level_.bpp;
        const auto width = static_cast<std::int32_t>(level_.width);
        const auto height = static_cast<std::int32_t>(level_.height);
        const std::uint8_t* hole = level_.hole.data();
        const std::uint8_t* filled = level_.filled.data();
        const std::uint8_t* pixels = level_.pixels.data();
        std::uint64_t sum = 0;
        std::uint32_t compared = 0;  // the weights of the pixels compared
        // The nearer ring weighs more (the cube of its nearness), so that a
        // pixel continues its immediate neighbours first and the hole's edge
        // does not show.
        const std::uint32_t window = WholeWindowWeight();
        // The columns of the window inside the picture around both pixels.
        const std::int32_t left = std::max({-radius_, -x, -sx});
        const std::int32_t right = std::min({radius_, width - 1 - x, width - 1 - sx});
        for (std::int32_t dy = -radius_; dy <= radius_; ++dy) {
            if (y + dy >= 0 && y + dy < height && sy + dy >= 0 && sy + dy < height) {
                const std::size_t rowA = level_.Index(x, y + dy);
                const std::size_t rowB = level_.Index(sx, sy + dy);
                const std::uint32_t ring = static_cast<std::uint32_t>(std::abs(dy));
                for (std::int32_t dx = left; dx <= right; ++dx) {
                    const std::size_t a = rowA + static_cast<std::size_t>(std::ptrdiff_t{dx});
                    const std::size_t b = rowB + static_cast<std::size_t>(std::ptrdiff_t{dx});
                    // The pixel itself, one not filled yet, and a source's
                    // pixel in the hole are not compared: weighed 0, without
                    // a branch (near the hole's edge they come unpredictably).
                    const std::uint32_t known = hole[a] == 0 ? 1u : 0u;
                    const std::uint32_t counted =
                        (known | filled[a]) & (hole[b] == 0 ? 1u : 0u) & ((dx | dy) != 0 ? 1u : 0u);
                    const std::uint32_t ringWeight = RingWeight(static_cast<std::int32_t>(
                        std::max(ring, static_cast<std::uint32_t>(std::abs(dx)))));
                    const std::uint32_t weight =
                        counted * (known != 0 ? ringWeight * knownWeight_ : ringWeight);
                    const std::uint8_t* pa = pixels + a * bpp;
                    const std::uint8_t* pb = pixels + b * bpp;
                    sum +=
                        static_cast<std::uint64_t>(coherent::SquaredColourGap(pa, pb, kColours)) *
                        weight;
                    compared += weight;
                }
            }
            // Stopped once even a full window of known pixels could not
            // bring the mean below the bound.
            if (compared * 2 >= window && sum * 256 / window >= bound) {
                return kNone;
            }
        }
        if (compared * 4 < window) {
            return kNone;  // too little of the window to judge by
        }
        if (seamWeight_ != 0) {
            sum += SeamSquares(x, y, sx, sy) * RingWeight(1) * knownWeight_ * seamWeight_ / 4;
        }
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(sum * 256 / std::max<std::uint32_t>(compared, 1), kNone - 1));
    }

    // The seam between a hole pixel at (x, y) copying (sx, sy) and its known
    // side neighbours: the squared differences, per channel, between the
    // jump from the candidate to each such neighbour and the jump the
    // candidate makes to its own neighbour on that side. The window alone
    // matches the neighbours to the candidate's neighbours; this matches the
    // step across the edge to the texture's own steps, so that the edge
    // neither jumps more than the picture does (where no source quite fits,
    // as along a painted hole's rim) nor less.
    std::uint64_t SeamSquares(std::int32_t x, std::int32_t y, std::int32_t sx,
                              std::int32_t sy) const {
        const std::uint32_t bpp = level_.bpp;
        const std::uint8_t* candidate = &level_.pixels[level_.Index(sx, sy) * bpp];
        std::uint64_t squares = 0;
        for (const Position side : kSides) {
            if (!level_.Inside(x + side.x, y + side.y) ||
                !level_.Inside(sx + side.x, sy + side.y)) {
                continue;
            }
            const std::size_t a = level_.Index(x + side.x, y + side.y);
            const std::size_t b = level_.Index(sx + side.x, sy + side.y);
            if (level_.hole[a] != 0 || level_.hole[b] != 0) {
                continue;
            }
            for (std::uint32_t c = 0; c < std::min(bpp, 3u); ++c) {
                const int across = std::abs(level_.pixels[a * bpp + c] - candidate[c]);
                const int own = std::abs(level_.pixels[b * bpp + c] - candidate[c]);
                squares += static_cast<std::uint64_t>((across - own) * (across - own));
            }
        }
        return squares;
    }

    // The candidate whose window is nearest once its uses by other hole
    // pixels are paid for (the first listed among equals); the pixel keeps
    // its source when none can be compared.
    void Choose(std::uint32_t i, const std::vector<std::uint32_t>& list) {
        const std::uint32_t previous = level_.filled[i] != 0 ? level_.from[i] : kNone;
        std::uint32_t best = previous;
        std::uint64_t bestCost = kNone;
        std::uint32_t bestDistance = kNone;
        const std::uint64_t perUse =
            chosenCount_ == 0 ? 0 : chosenSum_ / chosenCount_ * kUsePenalty / 16;
        for (const std::uint32_t s : list) {
            const std::uint64_t uses = uses_[s] - (s == previous ? 1u : 0u);
            const std::uint64_t penalty = uses * perUse;
            if (penalty >= bestCost) {
                continue;
            }
            const std::uint32_t scale = AlongRepeat(i, s) ? kRepeatScale : 16;
            const std::uint64_t bound =
                std::min<std::uint64_t>((bestCost - penalty) * 16 / scale, kNone);
            const std::uint32_t d = Distance(i, s, static_cast<std::uint32_t>(bound));
            if (d != kNone && std::uint64_t{d} * scale / 16 + penalty < bestCost) {
                bestCost = std::uint64_t{d} * scale / 16 + penalty;
                bestDistance = d;
                best = s;
            }
        }
        if (best == kNone) {
            best = list.empty() ? level_.sources.front() : list.front();
        }
        if (bestDistance != kNone) {
            chosenSum_ += bestDistance;
            ++chosenCount_;
        }
        if (previous != kNone) {
            --uses_[previous];
        }
        ++uses_[best];
        Copy(i, best);
    }

    // Pixel i becomes a copy of source s.
    void Copy(std::size_t i, std::uint32_t s) {
        level_.from[i] = s;
        std::copy_n(&level_.pixels[std::size_t{s} * level_.bpp], level_.bpp,
                    &level_.pixels[i * level_.bpp]);
    }

    PictureFill& job_;
    Level& level_;
    std::int32_t radius_;
    RandomGenerator& random_;
    std::vector<std::uint32_t> candidates_;
    std::vector<Position> offsets_;
    std::uint32_t knownWeight_ = 1;
    std::uint32_t seamWeight_ = 0;
    // How many hole pixels copy each pixel, and the sum and count of the
    // distances chosen on the level.
    std::vector<std::uint32_t> uses_ = std::vector<std::uint32_t>(level_.hole.size(), 0);
    std::uint64_t chosenSum_ = 0;
    std::uint64_t chosenCount_ = 0;
};

HoleMask HoleFromMask(const Image& mask) {
    HoleMask hole(std::size_t{mask.width} * mask.height, 0);
    if (mask.IsEmpty()) {
        return hole;
    }
    const std::uint32_t bpp = mask.bytesPerPixel;
    for (std::size_t i = 0; i < hole.size(); ++i) {
        const std::uint8_t* p = &mask.pixels[i * bpp];
        const std::uint32_t grey = bpp >= 3 ? (p[0] + p[1] + p[2]) / 3u : p[0];
        const bool transparent = (bpp == 4 && p[3] < 128) || (bpp == 2 && p[1] < 128);
        hole[i] = grey > 127 && !transparent ? 1 : 0;
    }
    return hole;
}

HoleMask HoleFromTransparency(const Image& picture) {
    HoleMask hole(std::size_t{picture.width} * picture.height, 0);
    if (picture.bytesPerPixel != 4 || picture.IsEmpty()) {
        return hole;
    }
    for (std::size_t i = 0; i < hole.size(); ++i) {
        hole[i] = picture.pixels[i * 4 + 3] < 128 ? 1 : 0;
    }
    return hole;
}

std::uint64_t HolePixels(const HoleMask& hole) {
    return static_cast<std::uint64_t>(
        std::count_if(hole.begin(), hole.end(), [](std::uint8_t v) { return v != 0; }));
}

const char* FillRefusalText(FillRefusal refusal) {
    switch (refusal) {
        case FillRefusal::kNone:
            return "";
        case FillRefusal::kBadPicture:
            return "the picture has no pixels, or not 3 or 4 bytes a pixel";
        case FillRefusal::kMaskSize:
            return "the mask is not the size of the picture";
        case FillRefusal::kEmptyHole:
            return "there is nothing to fill: the hole is empty";
        case FillRefusal::kNothingToCopy:
            return "there is nothing to copy from: the hole covers every pixel that may be "
                   "copied";
        case FillRefusal::kNotEnoughMemory:
            return "not enough memory";
        case FillRefusal::kAborted:
            return "stopped";
    }
    return "";
}

std::uint64_t EstimateFillMemory(std::uint32_t width, std::uint32_t height,
                                 std::uint32_t bytesPerPixel) {
    // The picture and its result; per pixel of every level (a third more than
    // the finest) its bytes, three flags, its source, its parent's guide and
    // its place in the list of sources, the distance to the hole and its queue
    // (a source limit), the order of the first filling, and the count of its
    // uses on the level being filled; the search for the picture's repeats
    // on that level: per pixel its distance to the hole, its match and the
    // match's distance, its place in the band and its offset as a key; the
    // layout by shifted copies (on the second level, then in a band on the
    // finest): per pixel of the finest its depth in the hole, which becomes
    // its node, and two layers of depths; per node (at most as many as the
    // second level's pixels) its place, its source and the next layout's,
    // its two terminal costs and in the cut its node of 24 bytes, its net
    // terminal cost, its place among the orphans and four arcs of 16 bytes.
    const std::uint64_t pixels = std::uint64_t{width} * height;
    const std::uint64_t second = SecondLevelPixels(width, height);
    return 2 * pixels * bytesPerPixel + pixels * 4 / 3 * (bytesPerPixel + 3 + 4 + 4 + 4 + 4 + 8) +
           pixels * (5 + 4) + pixels * (4 + 4 + 4 + 4 + 8) + pixels * (4 + 8) +
           second * (4 + 8 + 16 + 24 + 8 + 4 + 4 * 16) + (std::uint64_t{1} << 20);
}

void PictureFill::Report(const ProgressInfo& info) const {
    if (progressCallback != nullptr) {
        ProgressInfo copy = info;
        copy.context = callbackContext;
        copy.status = StatusText(copy.phase);
        progressCallback(&copy);
    }
}

void PictureFill::ReportRow(std::int32_t levelNumber, const std::uint8_t* row, std::uint32_t width,
                            std::uint32_t height, std::uint32_t bpp, std::uint32_t y,
                            std::uint32_t rowsDone, std::uint32_t rowsTotal) const {
    ProgressInfo info;
    info.phase = ProgressPhase::Synthesizing;
    info.level = levelNumber;
    info.levelCount = static_cast<std::int32_t>(levelCount_);
    info.rowPixels = row;
    info.levelWidth = width;
    info.levelHeight = height;
    info.bytesPerPixel = bpp;
    info.row = static_cast<std::int32_t>(y);
    info.stepDone = static_cast<std::int32_t>(rowsDone);
    info.stepTotal = static_cast<std::int32_t>(rowsTotal);
    // The overall count in rows weighted by their pixels, scaled to fit.
    info.overallDone = static_cast<std::int32_t>(std::min<std::uint64_t>(
        (overallDone_ + std::uint64_t{rowsDone} * width) / overallScale_, INT32_MAX));
    info.overallTotal = static_cast<std::int32_t>(
        std::min<std::uint64_t>(overallTotal_ / overallScale_, INT32_MAX));
    Report(info);
}

bool PictureFill::Fill(const Image& picture, const HoleMask& hole) {
    refusal = FillRefusal::kNone;
    const auto refuse = [this](FillRefusal why) {
        refusal = why;
        return false;
    };
    if (picture.IsEmpty() || (picture.bytesPerPixel != 3 && picture.bytesPerPixel != 4)) {
        return refuse(FillRefusal::kBadPicture);
    }
    if (hole.size() != std::size_t{picture.width} * picture.height) {
        return refuse(FillRefusal::kMaskSize);
    }
    if (HolePixels(hole) == 0) {
        return refuse(FillRefusal::kEmptyHole);
    }
    try {
        return Run(picture, hole) || refuse(Aborted() ? FillRefusal::kAborted : refusal);
    } catch (const std::bad_alloc&) {
        return refuse(FillRefusal::kNotEnoughMemory);
    }
}

bool PictureFill::Run(const Image& picture, const HoleMask& hole) {
    // The pyramid, finest first.
    std::vector<Level> levels(1);
    Level& finest = levels.front();
    finest.width = picture.width;
    finest.height = picture.height;
    finest.bpp = picture.bytesPerPixel;
    finest.pixels = picture.pixels;
    finest.hole.resize(hole.size());
    std::transform(hole.begin(), hole.end(), finest.hole.begin(),
                   [](std::uint8_t v) { return static_cast<std::uint8_t>(v != 0 ? 1 : 0); });
    while (levels.size() < kMaxLevels && levels.back().width / 2 >= kCoarsestSide &&
           levels.back().height / 2 >= kCoarsestSide) {
        Level coarse = Halve(levels.back());
        // A level whose hole takes nearly all of it has too little to copy.
        if (HolePixels(coarse.hole) * 10 > std::uint64_t{coarse.width} * coarse.height * 9) {
            break;
        }
        levels.push_back(std::move(coarse));
        if (Aborted()) {
            return false;
        }
    }
    levelCount_ = static_cast<std::uint32_t>(levels.size());
    // Which pixels may be copied on each level: known, and within the limit.
    for (std::size_t k = 0; k < levels.size(); ++k) {
        Level& level = levels[k];
        const std::uint32_t limit =
            sourceLimit == 0 ? kNone : std::max<std::uint32_t>(1, sourceLimit >> k);
        const std::vector<std::uint32_t> distance =
            limit == kNone ? std::vector<std::uint32_t>() : DistanceToHole(level, limit);
        const std::size_t count = level.hole.size();
        level.source.assign(count, 0);
        level.filled.assign(count, 0);
        level.from.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            level.from[i] = static_cast<std::uint32_t>(i);
            level.source[i] =
                level.hole[i] == 0 && (distance.empty() || distance[i] <= limit) ? 1 : 0;
            if (level.source[i] != 0) {
                level.sources.push_back(static_cast<std::uint32_t>(i));
            }
        }
        if (level.sources.empty()) {
            refusal = FillRefusal::kNothingToCopy;
            return false;
        }
    }
    // The finest level's passes are its edge passes.
    const auto passesOf = [](std::size_t k) { return k == 0 ? kEdgePasses : kPasses; };
    overallTotal_ = 0;
    for (std::size_t k = 0; k < levels.size(); ++k) {
        overallTotal_ += std::uint64_t{passesOf(k)} * levels[k].width * levels[k].height;
    }
    overallScale_ = overallTotal_ / INT32_MAX + 1;
    overallDone_ = 0;

    RandomGenerator random(randomSeed);
    bool repeated = false;
    std::vector<Position> laidOffsets;  // those of the layout by shifted copies
    for (std::size_t k = levels.size(); k-- > 0;) {
        Level& level = levels[k];
        const bool coarsest = k + 1 == levels.size();
        const std::int32_t radius = k == 0 ? kFineRadius : kCoarseRadius;
        FillLevel fill(*this, level, radius, random);
        // The first level that finds the picture repeating lays the hole out
        // anew along its repeats, from the edge inwards; the finer ones keep
        // that layout as they keep any parent's.
        bool fresh = false;
        std::vector<Position> layout;
        if (k < kRepeatLevels) {
            std::uint64_t matched = 0;
            const std::vector<OffsetPeak> peaks =
                OffsetPeaks(level, radius, randomSeed + static_cast<std::uint32_t>(k), matched);
            std::vector<Position> repeats = RepeatOffsets(peaks, matched);
            if (k == kLayoutLevel) {
                if (!peaks.empty() &&
                    std::uint64_t{peaks.front().count} * 1000 >= matched * kLayoutShare) {
                    layout = DistinctOffsets(peaks, matched, kLabelOffsets, 0);
                }
            }
            fresh = !repeats.empty() && !repeated;
            repeated = repeated || !repeats.empty();
            fill.OfferRepeats(std::move(repeats));
        }
        if (coarsest) {
            // Few pixels: every source is tried for every hole pixel.
            if (!fill.FirstFill(level.sources.size() * HolePixels(level.hole) <=
                                (std::uint64_t{1} << 22))) {
                return false;
            }
        } else {
            // The hole's inside starts from its parent's choice, moved to
            // its own place under the parent; the band along the edge is
            // filled from the edge inwards as on the coarsest level, with the
            // parent's choice among its candidates: the parent lays out the
            // fill, the edge decides how it meets the picture.
            const Level& parent = levels[k + 1];
            level.guide.assign(level.hole.size(), kNone);
            for (std::size_t i = 0; i < level.hole.size(); ++i) {
                if (level.hole[i] == 0) {
                    continue;
                }
                const auto x = static_cast<std::int32_t>(i % level.width);
                const auto y = static_cast<std::int32_t>(i / level.width);
                const std::uint32_t s = parent.from[parent.Index(x / 2, y / 2)];
                const std::int32_t sx = static_cast<std::int32_t>(s % parent.width) * 2 + x % 2;
                const std::int32_t sy = static_cast<std::int32_t>(s / parent.width) * 2 + y % 2;
                if (level.Inside(sx, sy) && level.source[level.Index(sx, sy)] != 0) {
                    level.guide[i] = static_cast<std::uint32_t>(level.Index(sx, sy));
                }
            }
            if (!fresh) {
                fill.StartFromGuide(laidOffsets.empty() ? kGuidedBand : 0);
            }
            if (!fill.FirstFill(false, fresh)) {
                return false;
            }
        }
        for (std::size_t i = 0; i < level.hole.size(); ++i) {
            level.filled[i] = 1;
        }
        if (!layout.empty()) {
            if (!fill.LayOutAlongOffsets(layout, kNone, kNone)) {
                return false;
            }
            laidOffsets = std::move(layout);
        } else if (k == 0 && !laidOffsets.empty()) {
            // The coarse layout meets the picture two pixels at a time: the
            // band along the hole's edge is laid out again at full scale.
            constexpr std::int32_t kScale = std::int32_t{1} << kLayoutLevel;
            for (Position& o : laidOffsets) {
                o = {o.x * kScale, o.y * kScale};
            }
            if (!fill.LayOutAlongOffsets(laidOffsets, kFineLayoutBand,
                                         SecondLevelPixels(level.width, level.height))) {
                return false;
            }
        }
        std::uint32_t rowsDone = 0;
        const std::uint32_t passes = passesOf(k);
        const std::uint32_t rowsTotal = passes * level.height;
        if (k == 0) {
            fill.WeighKnown(kEdgeKnownWeight, kSeamWeight);
        } else {
            fill.WeighKnown(kKnownWeight, 0);
        }
        for (std::uint32_t pass = 0; pass < passes; ++pass) {
            if (!fill.Pass(pass % 2 == 1, k == 0, static_cast<std::int32_t>(k), rowsDone,
                           rowsTotal)) {
                return false;
            }
        }
        overallDone_ += std::uint64_t{passes} * level.width * level.height;
        if (k + 1 < levels.size()) {
            levels.pop_back();  // the parent has served
        }
    }

    // The finest level's pixels are the picture's own outside the hole.
    const Level& done = levels.front();
    result.width = picture.width;
    result.height = picture.height;
    result.bytesPerPixel = picture.bytesPerPixel;
    result.pixels = done.pixels;
    sourceMap.width = picture.width;
    sourceMap.height = picture.height;
    sourceMap.positions.resize(done.from.size());
    for (std::size_t i = 0; i < done.from.size(); ++i) {
        sourceMap.positions[i] = {done.from[i] % picture.width, done.from[i] / picture.width};
        if (opaque && picture.bytesPerPixel == 4 && done.hole[i] != 0) {
            result.pixels[i * 4 + 3] = 255;
        }
    }
    return true;
}

}  // namespace weftloom
