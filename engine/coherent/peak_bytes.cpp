#include <algorithm>
#include <limits>

#include "engine/coherent/course_strips.h"
#include "engine/coherent/courses.h"
#include "engine/coherent/pass_plan.h"
#include "engine/coherent/sample_windows.h"
#include "engine/coherent/seam_cut.h"
#include "engine/coherent_search.h"
#include "engine/image_pyramid.h"
#include "engine/neighbourhood.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "search/worker_pool.h"

// The memory bound of the coherent search: what RunCoherentLevels holds at
// its peak, from the sizes and settings alone (see engine/coherent_search.h).

namespace weftloom {

using coherent::kChunkPixels;
using coherent::RowStrideFor;

std::uint64_t CoherentSearchPeakBytes(std::uint32_t sampleWidth, std::uint32_t sampleHeight,
                                      std::uint32_t outputWidth, std::uint32_t outputHeight,
                                      std::uint32_t bytesPerPixel,
                                      const SynthesisSettings& settings) {
    // Worked out in 128 bits, so that no size can wrap round.
    __extension__ using Wide = unsigned __int128;
    constexpr std::uint32_t kLevels = TextureSynthesiser::kLevelCount;
    const std::uint32_t channels = bytesPerPixel == 4 ? 4 : 3;
    Wide samples[kLevels];  // sample positions per level
    Wide pixels[kLevels];   // output pixels per level
    Wide passes[kLevels];   // a pass's plan and choices per level (see RunPass)
    Wide sets[kLevels];     // similar-set entries per level
    Wide rowsBytes = 0;     // the block of sample windows (RowBlock)
    Wide sizeTables = 0;    // the gatherers' wrap tables and the spans, per level
    std::uint32_t sw = sampleWidth;
    std::uint32_t sh = sampleHeight;
    std::uint32_t ow = outputWidth;
    std::uint32_t oh = outputHeight;
    for (std::uint32_t level = 0; level < kLevels; ++level) {
        samples[level] = Wide{sw} * sh;
        pixels[level] = Wide{ow} * oh;
        const Wide k =
            std::min<Wide>(settings.coherenceSetSize, samples[level] > 1 ? samples[level] - 1 : 0);
        sets[level] = samples[level] * k;
        // The plan keeps 24 bytes per chunk (a whole-level pass has the
        // most); while it is made, 8 per pixel and 8 per chunk more, and a
        // row of columns; then each pixel's choice (16 bytes) and random
        // candidates, and a count per span.
        const Wide chunks = Wide{oh} * ((Wide{ow} + kChunkPixels - 1) / kChunkPixels);
        passes[level] =
            24 * chunks + 8 +
            std::max(8 * pixels[level] + 8 * chunks + 4 * Wide{ow} + 4,
                     (16 + 4 * Wide{settings.randomCandidates}) * pixels[level] + 4 * Wide{oh});
        const bool coarsest = level == kLevels - 1;
        const std::int32_t side = OddWindowSide(
            coherent::LevelSide(settings.WindowSide(static_cast<std::int32_t>(level)), coarsest));
        const std::uint32_t windowBytes =
            FullNeighbourhoodPixelCount(side, coherent::LevelLevels(coarsest)) * channels;
        rowsBytes = std::max(rowsBytes, samples[level] * RowStrideFor(windowBytes));
        // Each gatherer keeps a row and a column table per window part (at
        // most three parts, two gatherers); the spans of a level, with
        // their copies, are a few rows' worth.
        sizeTables =
            std::max(sizeTables, Wide{2 * 3 * 8} * (Wide{std::max(sw, ow)} + std::max(sh, oh) +
                                                    2 * static_cast<Wide>(side)) +
                                     Wide{6 * 12} * oh);
        sw = ReducedSize(sw);
        sh = ReducedSize(sh);
        ow = ReducedSize(ow);
        oh = ReducedSize(oh);
    }
    // The peak comes at some level: its own tables, with the parent's sets
    // and source map still held. Per sample position a use count and a
    // brightness bin (and the bins' list as it is built), per set entry an
    // ordinal and a distance, per output pixel a source position (8 bytes)
    // and four piece entries (its node and its spare).
    Wide peak = 0;
    for (std::uint32_t level = 0; level < kLevels; ++level) {
        Wide bytes = 6 * samples[level] + 8 * sets[level] + 24 * pixels[level] + passes[level];
        if (level + 1 < kLevels) {
            bytes += 4 * sets[level + 1] + 8 * pixels[level + 1];
        }
        // The finest level's seams are laid anew once its passes are done.
        if (level == 0) {
            const Wide limit = std::max<Wide>(1, samples[0] * settings.pieceLimitPercent / 100);
            const Wide seams = coherent::SeamCut::PeakBytes(
                static_cast<std::uint64_t>(std::min<Wide>(pixels[0], ~std::uint64_t{0} / 64)),
                static_cast<std::uint64_t>(std::min<Wide>(samples[0], ~std::uint64_t{0} / 64)),
                static_cast<std::uint64_t>(std::min<Wide>(limit, ~std::uint64_t{0} / 64)));
            // A texture laid in courses has its courses' strips laid before,
            // which lets go of what it takes before the seams are laid.
            const Wide strips = coherent::CourseStrips::PeakBytes(
                outputWidth, outputHeight,
                static_cast<std::uint64_t>(std::min<Wide>(limit, ~std::uint64_t{0} / 64)));
            // The pass and the piece forest are gone by then.
            peak = std::max(peak,
                            bytes - passes[level] - 16 * pixels[level] + std::max(seams, strips));
        }
        // The level's sets reuse the vector of those two levels up, which
        // are still held while the larger storage is taken.
        if (level + 2 < kLevels) {
            bytes += 4 * sets[level + 2];
        }
        peak = std::max(peak, bytes);
    }
    // The candidates of one pixel and their bookkeeping, and the chunk's
    // overlays, for each thread: kilobytes.
    const Wide perPixel =
        Wide{WorkerPool::EffectiveThreads(settings.threadCount)} *
            (4 * 6 * (2 + 24 + 9 * Wide{settings.coherenceSetSize} + settings.randomCandidates) +
             16 * 1024) +
        64 * 1024;
    // A sample laid in courses: its output's lines are planned before any
    // table is taken, and kept, with each level's, through the run.
    const std::uint32_t outputLines = std::max(outputWidth, outputHeight);
    const Wide plan =
        coherent::Courses::PlanBytes(std::max(sampleWidth, sampleHeight), outputLines);
    const Wide total = std::max(
        plan, rowsBytes + peak + sizeTables + perPixel + coherent::Courses::KeptBytes(outputLines));
    return total > std::numeric_limits<std::uint64_t>::max()
               ? std::numeric_limits<std::uint64_t>::max()
               : static_cast<std::uint64_t>(total);
}

}  // namespace weftloom
