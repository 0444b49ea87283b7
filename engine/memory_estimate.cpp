#include "engine/memory_estimate.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "engine/coherent_search.h"
#include "engine/image_pyramid.h"
#include "engine/neighbourhood.h"
#include "engine/texture_synthesiser.h"
#include "search/point_set.h"

namespace weftloom {

namespace {

struct LevelSizes {
    std::uint64_t width[TextureSynthesiser::kLevelCount];
    std::uint64_t height[TextureSynthesiser::kLevelCount];
};

LevelSizes PyramidSizes(std::uint32_t width, std::uint32_t height) {
    LevelSizes sizes{};
    for (std::uint32_t k = 0; k < TextureSynthesiser::kLevelCount; ++k) {
        sizes.width[k] = width;
        sizes.height[k] = height;
        width = ReducedSize(width);
        height = ReducedSize(height);
    }
    return sizes;
}

std::uint64_t PyramidBytes(const LevelSizes& sizes, std::uint64_t bytesPerPixel) {
    std::uint64_t total = 0;
    for (std::uint32_t k = 0; k < TextureSynthesiser::kLevelCount; ++k) {
        total += sizes.width[k] * sizes.height[k] * bytesPerPixel;
    }
    return total;
}

// The coordinate `halvings` levels up, as the window gatherer takes it.
std::uint64_t Parent(std::uint64_t value, std::uint32_t halvings) {
    for (std::uint32_t c = 0; c < halvings; ++c) {
        value = value > 1 ? value / 2 : value;
    }
    return value;
}

// Positions along one axis of level `level` whose window lies wholly inside
// the sample: the own level's part reaches `before` back and `after` forward,
// each coarser level's square (its side shrinking by 2) around the parent.
std::uint64_t InsideAlongAxis(const std::uint64_t* sizes, std::uint32_t level, std::int32_t side,
                              std::uint32_t levels, std::uint64_t before, std::uint64_t after) {
    std::uint64_t inside = 0;
    for (std::uint64_t v = 0; v < sizes[level]; ++v) {
        bool fits = side < 3 || (v >= before && v + after < sizes[level]);
        std::uint64_t n = static_cast<std::uint64_t>(side);
        for (std::uint32_t c = 1; c < levels && fits; ++c) {
            n = n > 2 ? n - 2 : n;
            const std::uint64_t p = Parent(v, c);
            fits = level + c < TextureSynthesiser::kLevelCount && p >= n / 2 &&
                   p + n / 2 < sizes[level + c];
        }
        inside += fits ? 1 : 0;
    }
    return inside;
}

// Peak of the pass over pyramid level `level` with window side `side` over
// `levels` levels: the cloud while it is built, and the output's wrapped
// window tables.
std::uint64_t LevelPassBytes(const LevelSizes& sample, const LevelSizes& output,
                             std::uint32_t level, std::int32_t side, std::uint32_t levels,
                             std::uint64_t bytesPerPixel, bool kdTree) {
    side = OddWindowSide(side);
    const std::uint64_t featureDim = NeighbourhoodPixelCount(side, levels) * bytesPerPixel;
    const std::uint64_t stride = (featureDim + PointSet::kRowAlignment - 1) /
                                 PointSet::kRowAlignment * PointSet::kRowAlignment;
    const std::uint64_t half = static_cast<std::uint64_t>(side / 2);
    const std::uint64_t points = InsideAlongAxis(sample.width, level, side, levels, half, half) *
                                 InsideAlongAxis(sample.height, level, side, levels, half, 0);
    // Large row blocks are aligned to a large page, for which the allocator
    // maps up to one page more; that page is never touched, so it costs
    // address space, not memory.
    // Per point its row and its pixel, and for a linear scan the sum of its
    // row, its group sums and its place in the sample; for a linear scan
    // too, per sample pixel its point, and per output column the winner
    // above.
    std::uint64_t cloud = points * stride + points * bytesPerPixel;
    if (!kdTree) {
        cloud += points * 2 * sizeof(std::uint32_t) + points * kSumGroups * sizeof(std::uint16_t) +
                 (std::uint64_t{sample.width[level]} * sample.height[level] + output.width[level]) *
                     sizeof(std::uint32_t);
    } else {
        // Build keeps the rows in insertion order while it copies them into
        // node order, beside the index (4), nodes (12), row of each point (4),
        // split values (1) and subtree ends (4).
        cloud += points * stride + points * (4 + 12 + 4 + 1 + 4);
    }
    // Each window part of the output's gatherer keeps a byte offset per
    // wrapped row and column.
    const std::uint64_t parts = (side > 1 ? 2 : 0) + (levels - 1);
    const std::uint64_t tables =
        parts * sizeof(std::size_t) *
        (output.width[level] + output.height[level] + 2 * std::uint64_t(side));
    return cloud + tables + 2 * stride;
}

}  // namespace

std::uint64_t EstimatePeakMemory(std::uint32_t sampleWidth, std::uint32_t sampleHeight,
                                 std::uint32_t bytesPerPixel, std::uint32_t width,
                                 std::uint32_t height, const SynthesisSettings& settings) {
    width = width != 0 ? width : sampleWidth;
    height = height != 0 ? height : sampleHeight;
    const std::uint64_t bpp = bytesPerPixel;
    const LevelSizes sample = PyramidSizes(sampleWidth, sampleHeight);
    const LevelSizes output = PyramidSizes(width, height);
    // Held through the whole run: the caller's sample, the result, both pyramids.
    const std::uint64_t held = std::uint64_t{sampleWidth} * sampleHeight * bpp +
                               std::uint64_t{width} * height * bpp + PyramidBytes(sample, bpp) +
                               PyramidBytes(output, bpp);
    if (settings.searchMethod == SearchMethod::Coherent) {
        return held + CoherentSearchPeakBytes(sampleWidth, sampleHeight, width, height,
                                              bytesPerPixel, settings);
    }
    const bool kdTree = settings.subsamplingMode == SubsamplingMode::Disabled;
    std::uint64_t pass = LevelPassBytes(sample, output, 3, 3, 1, bpp, kdTree);
    for (std::uint32_t level = 0; level < 3; ++level) {
        pass = std::max(pass, LevelPassBytes(sample, output, level,
                                             settings.WindowSide(static_cast<std::int32_t>(level)),
                                             2, bpp, kdTree));
    }
    return held + pass;
}

std::uint64_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    std::uint64_t memory =
        pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
    // A container's limit is the machine a run really has.
    for (const char* limitFile :
         {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
        std::ifstream in(limitFile);
        std::uint64_t limit = 0;
        if (in >> limit && limit > 0 && (memory == 0 || limit < memory)) {
            memory = limit;
        }
    }
    return memory;
}

std::string FormatBytes(std::uint64_t bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10.0 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

}  // namespace weftloom
