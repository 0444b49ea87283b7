#include "engine/coherent/level.h"

#include <algorithm>
#include <array>
#include <new>

#include "engine/coherent/course_strips.h"
#include "engine/coherent/seam_cut.h"
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
    std::vector<std::uint8_t> bins(count_);
    for (std::uint32_t v = 0; v < count_; ++v) {
        const SourcePosition p = grid_.PositionOf(v);
        const std::uint8_t* pixel = sample_.PixelAt(p.x, p.y);
        bins[v] = bpp_ >= 3 ? coherent::ColourBalance::BinOf(pixel)
                            : static_cast<std::uint8_t>(pixel[0] >> 2);
    }
    balance_.Reset(std::move(bins));
    const std::uint32_t count = count_;
    for (std::uint32_t y = 0; y < output_.height; ++y) {
        for (std::uint32_t x = 0; x < output_.width; ++x) {
            std::uint32_t v = ParentContinuation(x, y);
            if (v == kNone) {
                v = coherent::Draw(job_.random, count);
            }
            Place(x, y, OnCourse(v, x, y));
        }
    }
}

// What a span costs beyond its pixels (the step that commits it, the threads
// that wait for it), in pixels: measured, it makes the edge band's short spans
// cost about four times their pixels.
constexpr std::uint64_t kSpanOverhead = 64;
// The level's pixels per unit of a pass's set-up (see PassSetUpWork).
constexpr std::uint64_t kSetUpShare = 6;
constexpr std::uint64_t kCausalSetUpShare = 12;

std::uint64_t CoherentLevel::SpanWork(bool mending, std::uint32_t columns) {
    return (std::uint64_t{columns} + kSpanOverhead) * (mending ? 2 : 4);
}

std::uint64_t CoherentLevel::SeamWork(std::uint32_t columns) {
    // Measured, the seams cost a tenth to a seventh of the finest level (a
    // 256 x 256 output and a 2048 x 2048 one): about a quarter of a causal
    // pixel a pixel.
    return columns;
}

std::uint64_t CoherentLevel::PassSetUpWork(std::uint64_t levelPixels, bool causal) {
    // A pass first sets up the level's piece forest (a correction pass joins
    // it from the whole map): measured, a few hundredths of a causal pixel's
    // cost a pixel, which makes a short pass (the closing rows, the edge band)
    // cost several times its spans.
    return levelPixels / (causal ? kCausalSetUpShare : kSetUpShare);
}

std::uint32_t CoherentLevel::ClosingRows(std::uint32_t height, std::uint32_t side) {
    return std::min<std::uint32_t>(kClosingRows * side / 2, height / 2);
}

std::uint64_t CoherentLevel::LevelWork(std::uint32_t width, std::uint32_t height,
                                       std::uint32_t side, bool mending, std::uint32_t passCount) {
    std::uint64_t work =
        (std::uint64_t{height} + ClosingRows(height, side)) * SpanWork(false, width) +
        std::uint64_t{passCount - 1} * height * SpanWork(mending, width);
    for (const Span& span : coherent::EdgeBand(width, height, side)) {
        work += kBandPasses * SpanWork(mending, span.columns);
    }
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (mending) {
        work += height * SeamWork(width);
    }
    // The closing rows start from the causal pass's pieces: no set-up.
    return work + PassSetUpWork(pixels, true) +
           (passCount - 1 + kBandPasses) * PassSetUpWork(pixels, false);
}

void CoherentLevel::ReportRow(std::uint32_t y, std::uint32_t step, std::uint32_t steps,
                              std::uint64_t work) {
    workDone_ = std::min(workDone_ + work, work_);
    // In floating point: the product may not fit 64 bits; the end is exact.
    const double share =
        workDone_ == work_ ? 1.0 : static_cast<double>(workDone_) / static_cast<double>(work_);
    job_.pixelsDone =
        levelStart_ + static_cast<std::int32_t>(static_cast<double>(LevelOverall()) * share);
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
        job_.pixelsDone = levelStart_ + static_cast<std::int32_t>(LevelOverall());
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
    const std::uint32_t lastRows = ClosingRows(output_.height, static_cast<std::uint32_t>(side_));
    const std::vector<Span> closing(whole.end() - lastRows, whole.end());
    // The finest level's seams are laid anew last, its rows reported once
    // more as they come out of it.
    const bool cutSeams = level_ == 0;
    const auto steps =
        static_cast<std::uint32_t>(passCount * whole.size() + closing.size() +
                                   kBandPasses * band.size() + (cutSeams ? output_.height : 0));
    // The passes' work, not their spans, tells how far the level has come.
    const bool mending = level_ == 0;  // the correction passes' kind, see below
    work_ = LevelWork(output_.width, output_.height, static_cast<std::uint32_t>(side_), mending,
                      passCount);
    workDone_ = 0;
    job_.ReportStep(ProgressPhase::Synthesizing, level_, 0, steps);
    Initialise();
    // The band's plan serves both its passes.
    const PassPlan wholePlan = PlanFor(whole);
    auto stepBase = static_cast<std::uint32_t>(whole.size());
    if (!RunPass(PassKind::Causal, whole, wholePlan, 0, steps) ||
        !RunPass(PassKind::Correction, closing, PlanFor(closing), stepBase, steps, true)) {
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
    if (cutSeams) {
        // The pieces and choices were the passes' to keep; the seams count
        // their own.
        pieces_ = coherent::PieceForest{};
        choiceStore_ = {};
        const std::uint64_t limit =
            std::max<std::uint64_t>(1, std::uint64_t{count_} * job_.pieceLimitPercent / 100);
        // A texture laid in courses has each course's columns made whole
        // strips first, whose seams the cut then lays.
        const bool strips = !courseRows_.empty() || !courseColumns_.empty();
        if (strips &&
            !coherent::CourseStrips::Run(
                sample_, map_, output_,
                courseRows_.empty() ? coherent::CourseAxis::Columns : coherent::CourseAxis::Rows,
                courseRows_.empty() ? courseColumns_ : courseRows_, *courseBreaks_, limit,
                [this] { return Aborted(); })) {
            return false;
        }
        if (!coherent::SeamCut::Run(sample_, map_, output_, limit, courseRows_, courseColumns_,
                                    [this] { return Aborted(); })) {
            return false;
        }
        for (std::uint32_t y = 0; y < output_.height; ++y) {
            ReportRow(y, stepBase + y + 1, steps, SeamWork(output_.width));
        }
    }
    return true;
}

bool RunCoherentLevels(TextureSynthesiser& job) {
    if (!job.samplePyramid || !job.outputPyramid) {
        return false;
    }
    try {
        // A sample laid in courses has its output's lines planned first,
        // before any table is taken.
        const Image* finestSample = job.samplePyramid->Level(0);
        const Image* finestOutput = job.outputPyramid->Level(0);
        if (finestSample == nullptr || finestOutput == nullptr) {
            return false;
        }
        const coherent::CourseAxis axis =
            job.courses == CourseLayout::Auto      ? coherent::DetectCourses(*finestSample)
            : job.courses == CourseLayout::Rows    ? coherent::CourseAxis::Rows
            : job.courses == CourseLayout::Columns ? coherent::CourseAxis::Columns
                                                   : coherent::CourseAxis::None;
        const coherent::Courses courses = coherent::Courses::Plan(
            *finestSample, axis,
            axis == coherent::CourseAxis::Columns ? finestOutput->width : finestOutput->height,
            job.random);
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
        // The overall count is shared among the levels by their work, not
        // their pixels (the finest level's corrections only mend, and cost
        // less a pixel), so that the time left told from it holds across them.
        std::array<double, TextureSynthesiser::kLevelCount> work{};
        double allWork = 0;
        for (std::uint32_t level = 0; level < TextureSynthesiser::kLevelCount; ++level) {
            const Image* output = job.outputPyramid->Level(level);
            const std::int32_t side = LevelSide(job, level);
            if (output == nullptr || side < 0 || side > TextureSynthesiser::kMaxNeighbourhoodSide) {
                return false;
            }
            work[level] = static_cast<double>(CoherentLevel::LevelWork(
                output->width, output->height, static_cast<std::uint32_t>(OddWindowSide(side)),
                level == 0, 1 + job.correctionPasses));
            allWork += work[level];
        }
        std::int32_t shared = 0;
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
            // The finest level takes what rounding left.
            job.levelOverall =
                level == 0 ? job.pixelsTotal - shared
                           : static_cast<std::int32_t>(job.pixelsTotal * (work[level] / allWork));
            shared += job.levelOverall;
            SourceMap& map = maps[k % 2];
            CoherentLevel pass(job, level, side, LevelLevels(level), parent, map, parentSets,
                               sets[k % 2], meanPerKilobyte, rows, courses);
            if (!pass.Run()) {
                return false;
            }
            parent = &map;
            parentSets = &sets[k % 2];
        }
        job.levelOverall = 0;
        job.sourceMap = std::move(maps[(TextureSynthesiser::kLevelCount - 1) % 2]);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace weftloom
