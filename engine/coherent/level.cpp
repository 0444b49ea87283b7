#include "engine/coherent/level.h"

#include <algorithm>
#include <new>

#include "engine/coherent_search.h"
#include "search/worker_pool.h"

namespace weftloom {

using coherent::kNone;
using coherent::PassPlan;
using coherent::Span;

namespace {

// The window whose likeness the look-alike sets measure: the own level's
// only.
constexpr std::int32_t kSimilarSide = 5;
// The band along the wrap-around edges (one window side wide on each side of
// an edge) is corrected again at the end, this many times.
constexpr std::uint32_t kBandPasses = 2;
// The first pass matches its last rows, this many half window sides of them,
// with whole windows.
constexpr std::uint32_t kClosingRows = 4;

bool Coarsest(std::uint32_t level) {
    return level == TextureSynthesiser::kLevelCount - 1;
}
std::int32_t LevelSide(const TextureSynthesiser& job, std::uint32_t level) {
    return coherent::LevelSide(job.neighbourhoodSize[level], Coarsest(level));
}
std::uint32_t LevelLevels(std::uint32_t level) {
    return coherent::LevelLevels(Coarsest(level));
}

// Bytes of a level's whole (not causal) window, the largest it gathers; 0 for
// a side no pass accepts.
std::uint32_t WholeWindowBytes(const TextureSynthesiser& job, std::uint32_t level) {
    const std::int32_t side = LevelSide(job, level);
    if (side < 0 || side > TextureSynthesiser::kMaxNeighbourhoodSide) {
        return 0;
    }
    const std::uint32_t channels = job.samplePyramid->Level(level)->bytesPerPixel == 4 ? 4 : 3;
    return FullNeighbourhoodPixelCount(OddWindowSide(side), LevelLevels(level)) * channels;
}

}  // namespace

std::uint32_t CoherentLevel::Helpers() const {
    return WorkerPool::EffectiveThreads(job_.threadCount) - 1;
}

bool CoherentLevel::GatherSampleRows(std::int32_t side, std::uint32_t levels) {
    if (!windows_.Gather(*job_.samplePyramid, level_, grid_, side, levels, bpp_ == 4, Helpers(),
                         [this] { return Aborted(); })) {
        return false;
    }
    Compare(windows_.Bytes());
    return true;
}

bool CoherentLevel::BuildSimilarSets() {
    return similar_.Build(
        job_.coherenceSetSize, windows_, kernel_, compared_, job_.random, Helpers(),
        [this] { return Aborted(); },
        [this](std::uint32_t sweep) {
            job_.ReportStep(ProgressPhase::BuildingDataCloud, level_, sweep, similar_.Sweeps());
        });
}

void CoherentLevel::Initialise() {
    map_.width = output_.width;
    map_.height = output_.height;
    map_.positions.assign(std::size_t{map_.width} * map_.height, SourcePosition{});
    occurrences_.Reset(count_);
    const std::uint32_t count = count_;
    for (std::uint32_t y = 0; y < output_.height; ++y) {
        for (std::uint32_t x = 0; x < output_.width; ++x) {
            std::uint32_t v = ParentContinuation(x, y);
            if (v == kNone) {
                v = coherent::Draw(job_.random, count);
            }
            Place(x, y, v);
        }
    }
}

// What a span costs beyond its pixels (the step that commits it, the threads
// that wait for it), in pixels: measured, it makes the edge band's short spans
// cost about four times their pixels.
constexpr std::uint64_t kSpanOverhead = 64;

std::uint64_t CoherentLevel::SpanWork(bool mending, std::uint32_t columns) const {
    return (std::uint64_t{columns} + kSpanOverhead) * (mending ? 3 : 5);
}

void CoherentLevel::ReportRow(std::uint32_t y, std::uint32_t step, std::uint32_t steps,
                              std::uint64_t work) {
    workDone_ = std::min(workDone_ + work, work_);
    // In floating point: the product may not fit 64 bits; the end is exact.
    const double share =
        workDone_ == work_ ? 1.0 : static_cast<double>(workDone_) / static_cast<double>(work_);
    job_.pixelsDone =
        levelStart_ + static_cast<std::int32_t>(static_cast<double>(LevelPixels()) * share);
    job_.ReportRow(level_, y, step, steps);
}

bool CoherentLevel::Run() {
    levelStart_ = job_.pixelsDone;
    job_.ReportStep(ProgressPhase::BuildingDataCloud, level_, 0, similar_.Sweeps());
    // Ordinals are 32-bit, kNone excluded.
    if (std::uint64_t{sample_.width} * sample_.height >= kNone) {
        return false;
    }
    count_ = sample_.width * sample_.height;
    map_.width = output_.width;
    map_.height = output_.height;
    if (count_ == 0) {
        // An empty sample level, which a complete pyramid never has: the
        // level keeps its pixels and has no sources to pass on.
        map_.width = 0;
        map_.height = 0;
        map_.positions.clear();
        job_.pixelsDone = levelStart_ + static_cast<std::int32_t>(output_.width * output_.height);
        return true;
    }
    if ((!similar_.Upsampled() && !GatherSampleRows(std::min(side_, kSimilarSide), 1)) ||
        !BuildSimilarSets()) {
        return false;
    }
    const std::vector<Span> whole = coherent::WholeLevel(output_.width, output_.height);
    // The rows and columns within a window's reach of the wrap-around edges.
    const std::vector<Span> band =
        coherent::EdgeBand(output_.width, output_.height, static_cast<std::uint32_t>(side_));
    const std::uint32_t passCount = 1 + job_.correctionPasses;
    // The first pass is causal over the whole level; then its last rows,
    // which meet the first rows below them, are matched again with whole
    // windows, so that the join is made as the rest is, not left for a
    // correction to mend (a pass that changes one pixel at a time cannot
    // undo a seam). They are matched once the causal pass has given them
    // texture to see below them: matched at once, over the random sources
    // the coarsest level starts with, they took the sample's rarest, most
    // contrasted windows, which gathered in a band where the output wraps.
    const std::uint32_t lastRows = std::min<std::uint32_t>(
        kClosingRows * static_cast<std::uint32_t>(side_) / 2, output_.height / 2);
    const std::vector<Span> closing(whole.end() - lastRows, whole.end());
    const auto steps = static_cast<std::uint32_t>(passCount * whole.size() + closing.size() +
                                                  kBandPasses * band.size());
    // The passes' work, not their spans, tells how far the level has come.
    const bool mending = level_ == 0;  // the correction passes' kind, see below
    work_ = (whole.size() + closing.size()) * SpanWork(false, output_.width) +
            (passCount - 1) * whole.size() * SpanWork(mending, output_.width);
    for (const Span& span : band) {
        work_ += kBandPasses * SpanWork(mending, span.columns);
    }
    workDone_ = 0;
    job_.ReportStep(ProgressPhase::Synthesizing, level_, 0, steps);
    Initialise();
    // The band's plan serves both its passes.
    const PassPlan wholePlan = PlanFor(whole);
    auto stepBase = static_cast<std::uint32_t>(whole.size());
    if (!RunPass(PassKind::Causal, whole, wholePlan, 0, steps) ||
        !RunPass(PassKind::Correction, closing, PlanFor(closing), stepBase, steps)) {
        return false;
    }
    stepBase += static_cast<std::uint32_t>(closing.size());
    // The finest level's corrections only mend: its pieces were laid out by
    // the coarser levels' corrections, and looking for new ones there again
    // measured no better and cost a tenth of the run.
    const PassKind correction = level_ == 0 ? PassKind::Mending : PassKind::Correction;
    for (std::uint32_t pass = 1; pass < passCount; ++pass) {
        if (!RunPass(correction, whole, wholePlan, stepBase, steps)) {
            return false;
        }
        stepBase += static_cast<std::uint32_t>(whole.size());
    }
    // Last, the edges once more, now that both sides of them are corrected.
    const PassPlan bandPlan = PlanFor(band);
    for (std::uint32_t i = 0; i < kBandPasses; ++i) {
        if (!RunPass(correction, band, bandPlan, stepBase, steps)) {
            return false;
        }
        stepBase += static_cast<std::uint32_t>(band.size());
    }
    return true;
}

bool RunCoherentLevels(TextureSynthesiser& job) {
    if (!job.samplePyramid || !job.outputPyramid) {
        return false;
    }
    try {
        // The table of the finest level is the largest: the block is made at
        // its size at once (see RowBlock).
        coherent::RowBlock rows;
        std::size_t tableBytes = 0;
        for (std::uint32_t level = 0; level < TextureSynthesiser::kLevelCount; ++level) {
            const Image* sample = job.samplePyramid->Level(level);
            if (sample == nullptr) {
                return false;
            }
            tableBytes =
                std::max(tableBytes, std::size_t{sample->width} * sample->height *
                                         coherent::RowStrideFor(WholeWindowBytes(job, level)));
        }
        rows.Reserve(tableBytes);
        SourceMap maps[2];
        coherent::SimilarSets sets[2];
        const SourceMap* parent = nullptr;
        const coherent::SimilarSets* parentSets = nullptr;
        std::uint64_t meanPerKilobyte = CoherentLevel::kNoMean;
        for (std::uint32_t k = 0; k < TextureSynthesiser::kLevelCount; ++k) {
            const std::uint32_t level = TextureSynthesiser::kLevelCount - 1 - k;
            if (job.samplePyramid->Level(level) == nullptr ||
                job.outputPyramid->Level(level) == nullptr) {
                return false;
            }
            const std::int32_t side = LevelSide(job, level);
            if (side < 0 || side > TextureSynthesiser::kMaxNeighbourhoodSide) {
                return false;
            }
            SourceMap& map = maps[k % 2];
            CoherentLevel pass(job, level, side, LevelLevels(level), parent, map, parentSets,
                               sets[k % 2], meanPerKilobyte, rows);
            if (!pass.Run()) {
                return false;
            }
            parent = &map;
            parentSets = &sets[k % 2];
        }
        job.sourceMap = std::move(maps[(TextureSynthesiser::kLevelCount - 1) % 2]);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace weftloom
