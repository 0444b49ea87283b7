#include "engine/coherent_search.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>

#include "engine/coherent/candidates.h"
#include "engine/coherent/choice.h"
#include "engine/coherent/common.h"
#include "engine/coherent/occurrence_map.h"
#include "engine/coherent/overlay.h"
#include "engine/coherent/pass_plan.h"
#include "engine/coherent/piece_forest.h"
#include "engine/coherent/sample_windows.h"
#include "engine/coherent/similar_sets.h"
#include "engine/coherent/step_runner.h"
#include "engine/neighbourhood.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "search/distance_kernels.h"
#include "search/point_set.h"
#include "search/worker_pool.h"

// The coherent search follows three papers:
//
// - M. Ashikhmin, "Synthesizing Natural Textures", I3D 2001: a pixel's
//   candidates are the sample pixels that continue its already synthesised
//   neighbours, each neighbour's source shifted by the neighbour's offset.
// - X. Tong, J. Zhang, L. Liu, X. Wang, B. Guo, H.-Y. Shum, "Synthesis of
//   Bidirectional Texture Functions on Arbitrary Surfaces", SIGGRAPH 2002
//   (k-coherence): every sample position carries the k positions whose
//   neighbourhoods look most like its own, and those, shifted the same way,
//   are candidates too. We find them with the randomised propagation of
//   Barnes et al., "PatchMatch", SIGGRAPH 2009, kept to a few sweeps.
// - S. Lefebvre, H. Hoppe, "Parallel Controllable Texture Synthesis",
//   SIGGRAPH 2005: each level starts from its parent level's sources,
//   upsampled, and correction passes with whole (not causal) neighbourhoods
//   run over the level once every pixel has a value, which also joins the
//   last rows and columns to the first ones so that the output tiles.
//
// Beyond them, each candidate's distance carries a penalty that grows with
// how often its sample position is already used on the level (an occurrence
// map, as in Kaspar et al., "Self Tuning Texture Optimization", 2015): without
// it a sample that is not perfectly stationary is reduced to the part that
// matches itself best, and its histogram goes with it. A candidate that
// matches exactly pays none, so that a sample that tiles is continued without
// a fault. The penalty alone would favour copying the sample whole, evenly,
// so no piece copied verbatim may grow past a share of the sample (pieces are
// tracked by a union-find over the output). Every sample position is a
// candidate: windows reaching past the sample's edges are reflected back into
// it (wrapping them would make the opposite edge a perfect continuation, and
// the output would repeat the sample). The last rows of the first pass are
// matched with whole windows, as they meet the first rows; a pass that
// changes one pixel at a time cannot mend a seam once it is made.
//
// A pass runs over the output row by row, each row starting a little right of
// the one above, so that several rows go on at once, a few chunks apart, on
// as many threads as there are (see PassPlan). What a pixel sees of the
// output is what it would see if the pass ran one pixel after the other; the
// tallies (uses, pieces, the mean distance) it sees are those the steps
// before its own left, with the changes of the pixels before it in its chunk.
// Every choice is made in integers, with draws from the run's generator made
// in pass order: the output is the same on every machine and for any number
// of threads.

namespace weftloom {

using coherent::BandSeed;
using coherent::Draw;
using coherent::kChunkPixels;
using coherent::kNone;
using coherent::kPieceReach;
using coherent::LaterOffsets;
using coherent::NeighbourOffsets;
using coherent::Offset;
using coherent::Overlay;
using coherent::PassPlan;
using coherent::PieceForest;
using coherent::PieceTree;
using coherent::PlanPass;
using coherent::PlanPrefix;
using coherent::RowBlock;
using coherent::RowStrideFor;
using coherent::SaturatingProduct;
using coherent::SimilarSets;
using coherent::Span;
using coherent::WrapNear;

namespace {

// Neighbours whose shifted sources are candidates lie within this distance;
// those within 1 add their similar sets as well.
constexpr std::int32_t kShiftRadius = 2;
constexpr std::int32_t kCorrectionShiftRadius = 1;
// Every this many pixels one tells the scale of a pass's distances beforehand.
constexpr std::uint64_t kScaleEstimateStep = 7;
constexpr std::uint64_t kNoMean = std::numeric_limits<std::uint64_t>::max();
// The window whose likeness the similar sets measure: the own level's only.
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

// One level of the coherent synthesis. A friend of TextureSynthesiser: it
// reports and polls the abort flag.
class CoherentLevel {
  public:
    CoherentLevel(TextureSynthesiser& job, std::uint32_t level, std::int32_t side,
                  std::uint32_t levels, const SourceMap* parent, SourceMap& map,
                  const SimilarSets* parentSets, SimilarSets& sets, std::uint64_t& meanPerKilobyte,
                  RowBlock& rows)
        : job_(job),
          level_(level),
          side_(OddWindowSide(side)),
          levels_(levels),
          parent_(parent),
          map_(map),
          parentSets_(parentSets),
          sets_(sets),
          meanPerKilobyte_(meanPerKilobyte),
          sample_(*job.samplePyramid->Level(level)),
          output_(*job.outputPyramid->Level(level)),
          bpp_(output_.bytesPerPixel),
          grid_(sample_.width, sample_.height),
          windows_(rows),
          similar_(sets, parentSets, level == 0, grid_) {}

    bool Run();

  private:
    SourcePosition PositionOf(std::uint32_t v) const { return grid_.PositionOf(v); }
    // The sample windows of side and levels in windows_, compared whole.
    bool GatherSampleRows(std::int32_t side, std::uint32_t levels);
    bool BuildSimilarSets();
    std::uint32_t Helpers() const { return WorkerPool::EffectiveThreads(job_.threadCount) - 1; }
    void Initialise();
    // What a pass compares and which candidates it asks.
    enum class PassKind {
        Causal,      // the first: causal windows, every kind of candidate
        Correction,  // whole windows, every kind of candidate
        // Whole windows; only the pixel's own source, its neighbours'
        // continuations and its parent's: a correction that mends the seams
        // between pieces without looking for new ones.
        Mending,
    };
    // One pass over the given spans; reports each as step stepBase + i + 1
    // of steps.
    // plan is PlanPass's for the spans, made with PlanFor.
    bool RunPass(PassKind kind, const std::vector<Span>& spans, const PassPlan& plan,
                 std::uint32_t stepBase, std::uint32_t steps);
    PassPlan PlanFor(const std::vector<Span>& spans) const;

    // What one pass shares between the threads that run it (see RunPass).
    struct Pass;
    // One thread's own room for the pixels it looks at.
    struct Scratch {
        ByteRows queryRow;
        coherent::Neighbours around;
        coherent::CandidateList candidates;
        std::vector<std::uint32_t> roots;
        // The changes of the chunk's pixels so far, to uses and pieces.
        Overlay uses;
        Overlay pieceParents;
        Overlay pieceSizes;
    };
    // Whether a mending pass has nothing to offer pixel (x, y) but its own
    // source: every neighbour, and its parent, continue it.
    bool Uncontested(const Pass& pass, std::uint32_t x, std::uint32_t y,
                     std::uint32_t currentOrdinal) const;
    // Chooses the source of output pixel (x, y), the pass's pixel number
    // `pixel`, and places it; what the choice changes beyond the pixel
    // itself is left for Commit.
    void ChoosePixel(Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
                     std::uint32_t rowStart, Scratch& scratch);
    bool RunChunk(Pass& pass, std::uint32_t chunk, Scratch& scratch);
    bool Commit(Pass& pass, std::uint32_t step);
    void UpdatePenalty(Pass& pass) const;
    // Brings the tallies up to date with the choice of the pass's pixel
    // `pixel` at (x, y): in place, or in a chunk's overlays (uses non-null).
    void Tally(const Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
               Overlay* uses, PieceTree& pieces);

    std::uint32_t OrdinalAt(std::int64_t x, std::int64_t y) const { return grid_.OrdinalAt(x, y); }
    void Compare(std::uint32_t bytes) {
        compared_ = bytes;
        kernel_ = ChooseKernel(job_.metric, bytes);
    }
    // The sample position that continues a neighbour at offset o whose
    // source is s (s shifted back by o), or kNone outside the sample.
    std::uint32_t Continuation(const SourcePosition& s, const Offset& o) const {
        return grid_.Continuation(s, o);
    }
    // The sample position that continues output pixel (x, y)'s parent's
    // source on this level; kNone without a parent or outside the sample.
    std::uint32_t ParentContinuation(std::uint32_t x, std::uint32_t y) const {
        if (parent_ == nullptr || parent_->width == 0 || parent_->height == 0) {
            return kNone;
        }
        const SourcePosition& up = parent_->At(x / 2 % parent_->width, y / 2 % parent_->height);
        return OrdinalAt(std::int64_t{up.x} * 2 + (x & 1u), std::int64_t{up.y} * 2 + (y & 1u));
    }
    std::uint64_t LevelPixels() const { return std::uint64_t{output_.width} * output_.height; }
    const std::uint8_t* Row(std::uint32_t ordinal) const { return windows_.Row(ordinal); }
    void Place(std::uint32_t x, std::uint32_t y, std::uint32_t ordinal);
    void ReportRow(std::uint32_t y, std::uint32_t step, std::uint32_t steps);
    bool Aborted() const { return job_.AbortRequested(); }

    TextureSynthesiser& job_;
    std::uint32_t level_;
    std::int32_t side_;
    std::uint32_t levels_;
    const SourceMap* parent_;
    SourceMap& map_;
    const SimilarSets* parentSets_;
    SimilarSets& sets_;
    // The mean distance chosen in the last pass, per 1024 feature bytes;
    // carried from level to level.
    std::uint64_t& meanPerKilobyte_;
    const Image& sample_;
    Image& output_;
    std::uint32_t bpp_;

    coherent::SampleGrid grid_;
    std::uint32_t count_ = 0;  // sample positions: width * height
    coherent::SampleWindows windows_;
    coherent::SimilarSetSearch similar_;
    // The bytes of each row compared: the whole windows', or a causal
    // pass's prefix of them.
    std::uint32_t compared_ = 0;
    DistanceKernel kernel_ = nullptr;
    coherent::OccurrenceMap occurrences_;
    // The pieces (see PieceTree): per output pixel.
    PieceForest pieces_;
    std::int32_t levelStart_ = 0;  // job.pixelsDone when the level began
};

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

void CoherentLevel::Place(std::uint32_t x, std::uint32_t y, std::uint32_t ordinal) {
    const SourcePosition source = PositionOf(ordinal);
    map_.positions[std::size_t{y} * map_.width + x] = source;
    std::copy_n(sample_.PixelAt(source.x, source.y), bpp_, output_.PixelAt(x, y));
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
                v = Draw(job_.random, count);
            }
            Place(x, y, v);
            occurrences_.Add(v);
        }
    }
}

void CoherentLevel::ReportRow(std::uint32_t y, std::uint32_t step, std::uint32_t steps) {
    job_.pixelsDone = levelStart_ + static_cast<std::int32_t>(LevelPixels() * step / steps);
    job_.ReportRow(level_, y, step, steps);
}

// What one pass shares between the threads that run it. A pixel's choice
// reads the output around it and the level's tallies (uses per sample
// position, the pieces, the mean distance chosen); the plan's steps keep the
// former as one thread would see it, the latter are brought up to date
// between steps, in pass order, by one thread: every choice of a step sees
// the tallies as all steps before it left them, whatever ran where.
struct CoherentLevel::Pass {
    bool causal = false;
    bool mending = false;  // PassKind::Mending
    const std::vector<Span>* spans = nullptr;
    const PassPlan* plan = nullptr;
    const NeighbourhoodGatherer* query = nullptr;
    std::vector<Offset> reach;  // the neighbours a pixel continues, and may join
    std::int32_t shiftRadius = 0;
    coherent::PenaltyScale scale;
    coherent::ChoiceRules rules{};  // its penalty per use follows scale
    std::uint32_t randomCount = 0;
    std::vector<std::uint32_t> randoms;  // randomCount per pixel, drawn in pass order
    struct Choice {
        std::uint32_t previous;  // the source the pixel had
        std::uint32_t best;      // the source it takes
        std::uint32_t distance;  // best's distance, kNone when no candidate won
        std::uint32_t joins;     // bits over reach: the neighbours best continues
    };
    std::vector<Choice> choices;            // per pixel of the pass
    std::vector<std::uint32_t> chunksLeft;  // per span
    std::uint32_t reported = 0;             // spans reported, in order
    std::uint32_t stepBase = 0;
    std::uint32_t steps = 0;
    std::vector<Scratch> scratch;  // per thread
    std::atomic<bool> failed{false};
};

void CoherentLevel::ChoosePixel(Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
                                std::uint32_t rowStart, Scratch& scratch) {
    const auto here = static_cast<std::uint32_t>(std::size_t{y} * output_.width + x);
    const SourcePosition current = map_.positions[here];
    const std::uint32_t currentOrdinal = OrdinalAt(current.x, current.y);
    // A pixel a mending pass has nothing else to offer keeps its source
    // without a comparison, and adds nothing to the mean distance chosen.
    if (pass.mending && Uncontested(pass, x, y, currentOrdinal)) {
        pass.choices[pixel] = {currentOrdinal, currentOrdinal, kNone, 0};
        return;
    }
    pass.query->Gather(x, y, scratch.queryRow.data());
    // In the causal pass only the neighbours synthesised already count.
    scratch.around.Collect(pass.reach, x, y, map_, grid_, pass.causal, rowStart);
    const coherent::CandidateList& candidates = coherent::GenerateCandidates(
        {currentOrdinal, ParentContinuation(x, y), pass.shiftRadius, pass.causal,
         pass.mending ? nullptr : &sets_,
         pass.randoms.data() + std::size_t{pixel} * pass.randomCount, pass.randomCount},
        scratch.around, grid_, scratch.candidates);
    const PieceTree pieces(pieces_, &scratch.pieceParents, &scratch.pieceSizes);
    const coherent::PieceMeasure measure(scratch.around, pieces, here, scratch.roots);
    const coherent::Chosen chosen =
        coherent::ChooseCandidate(candidates, scratch.queryRow.data(), currentOrdinal, pass.rules,
                                  measure, occurrences_, scratch.uses, windows_);

    Pass::Choice& choice = pass.choices[pixel];
    choice.previous = currentOrdinal;
    choice.best = chosen.source == kNone ? currentOrdinal : chosen.source;
    choice.distance = chosen.source == kNone ? kNone : chosen.distance;
    choice.joins =
        choice.best != currentOrdinal || pass.causal ? scratch.around.ContinuedBy(choice.best) : 0;
    Place(x, y, choice.best);
    // What Commit will do, for the pixels after this one in the chunk to see.
    PieceTree chunkPieces = pieces;
    Tally(pass, pixel, x, y, &scratch.uses, chunkPieces);
}

bool CoherentLevel::Uncontested(const Pass& pass, std::uint32_t x, std::uint32_t y,
                                std::uint32_t currentOrdinal) const {
    const std::uint32_t width = output_.width;
    const std::uint32_t height = output_.height;
    for (const Offset& o : pass.reach) {
        if (std::max(std::abs(o.dx), std::abs(o.dy)) > pass.shiftRadius) {
            break;
        }
        const std::uint32_t nx = WrapNear(std::int64_t{x} + o.dx, width);
        const std::uint32_t ny = WrapNear(std::int64_t{y} + o.dy, height);
        const std::uint32_t v = Continuation(map_.positions[std::size_t{ny} * width + nx], o);
        if (v != kNone && v != currentOrdinal) {
            return false;
        }
    }
    const std::uint32_t up = ParentContinuation(x, y);
    return up == kNone || up == currentOrdinal;
}

void CoherentLevel::Tally(const Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
                          Overlay* uses, PieceTree& pieces) {
    const Pass::Choice& choice = pass.choices[pixel];
    if (uses != nullptr) {
        occurrences_.Move(*uses, choice.previous, choice.best);
    } else {
        occurrences_.Move(choice.previous, choice.best);
    }
    if (choice.best == choice.previous && !pass.causal) {
        return;
    }
    // The pixel leaves its piece and joins its new neighbours.
    const std::uint32_t width = output_.width;
    const std::uint32_t here = y * width + x;
    if (!pass.causal) {
        pieces.Leave(here);
    }
    for (std::uint32_t joins = choice.joins; joins != 0; joins &= joins - 1) {
        const Offset& o = pass.reach[static_cast<std::uint32_t>(__builtin_ctz(joins))];
        pieces.Join(here, WrapNear(std::int64_t{y} + o.dy, output_.height) * width +
                              WrapNear(std::int64_t{x} + o.dx, width));
    }
}

bool CoherentLevel::RunChunk(Pass& pass, std::uint32_t chunk, Scratch& scratch) {
    const PassPlan::Chunk& c = pass.plan->chunks[chunk];
    const Span& span = (*pass.spans)[c.span];
    scratch.uses.Clear();
    scratch.pieceParents.Clear();
    scratch.pieceSizes.Clear();
    for (std::uint32_t i = 0; i < c.count; ++i) {
        if (Aborted()) {
            pass.failed.store(true, std::memory_order_relaxed);
            return false;
        }
        ChoosePixel(pass, c.firstPixel + i, (span.firstColumn + c.first + i) % output_.width,
                    span.y, span.firstColumn, scratch);
    }
    return true;
}

bool CoherentLevel::Commit(Pass& pass, std::uint32_t step) {
    if (pass.failed.load(std::memory_order_relaxed) || Aborted()) {
        return false;
    }
    const std::uint32_t width = output_.width;
    const PassPlan& plan = *pass.plan;
    PieceTree pieces(pieces_);
    for (std::uint32_t e = plan.stepStart[step]; e < plan.stepStart[step + 1]; ++e) {
        const PassPlan::Chunk& c = plan.chunks[plan.byStep[e]];
        const Span& span = (*pass.spans)[c.span];
        for (std::uint32_t i = 0; i < c.count; ++i) {
            const Pass::Choice& choice = pass.choices[c.firstPixel + i];
            if (choice.distance != kNone) {
                pass.scale.Add(choice.distance);
            }
            Tally(pass, c.firstPixel + i, (span.firstColumn + c.first + i) % width, span.y, nullptr,
                  pieces);
        }
        --pass.chunksLeft[c.span];
    }
    // Rows are reported in pass order, as they are finished.
    while (pass.reported < pass.spans->size() && pass.chunksLeft[pass.reported] == 0) {
        ++pass.reported;
        ReportRow((*pass.spans)[pass.reported - 1].y, pass.stepBase + pass.reported, pass.steps);
        if (Aborted()) {
            return false;
        }
    }
    UpdatePenalty(pass);
    return true;
}

void CoherentLevel::UpdatePenalty(Pass& pass) const {
    // The penalty for a position used u times is weight/16 of the mean
    // distance chosen so far, times u over the use every position would have
    // if all were used alike.
    pass.rules.perUse = pass.scale.PerUse(job_.occurrenceWeight, count_, LevelPixels());
}

PassPlan CoherentLevel::PlanFor(const std::vector<Span>& spans) const {
    return PlanPass(
        spans, output_.width, output_.height,
        std::max(static_cast<std::uint32_t>(side_ / 2), static_cast<std::uint32_t>(kPieceReach)));
}

bool CoherentLevel::RunPass(PassKind kind, const std::vector<Span>& spans, const PassPlan& plan,
                            std::uint32_t stepBase, std::uint32_t steps) {
    const bool causal = kind == PassKind::Causal;
    if (!GatherSampleRows(side_, levels_)) {
        return false;
    }
    const std::uint32_t width = output_.width;
    const NeighbourhoodGatherer query(
        *job_.outputPyramid, level_, side_, levels_, bpp_ == 4, true,
        {.causal = causal, .plainParents = true, .causalFirst = true});
    Compare(query.ByteCount());
    Pass pass;
    pass.causal = causal;
    pass.mending = kind == PassKind::Mending;
    pass.spans = &spans;
    pass.query = &query;
    pass.stepBase = stepBase;
    pass.steps = steps;
    // The first pixels need a scale too, or they would take the best the
    // sample has with no regard to its use, and the top rows would differ
    // from the rest. It is carried from the last pass (per feature byte, as
    // windows differ), else estimated from the sources the level starts
    // with; either counts as one row's worth of choices.
    const std::uint32_t bytes = query.ByteCount();
    std::uint64_t primed = 0;
    if (meanPerKilobyte_ != kNoMean) {
        primed = SaturatingProduct(meanPerKilobyte_, bytes) / 1024;
    } else {
        ByteRows queryRow(windows_.Stride(), 0);
        std::uint64_t sum = 0;
        std::uint64_t samples = 0;
        for (std::uint64_t i = 0; i < LevelPixels(); i += kScaleEstimateStep) {
            const auto px = static_cast<std::uint32_t>(i % width);
            const auto py = static_cast<std::uint32_t>(i / width);
            const SourcePosition& source = map_.At(px, py);
            query.Gather(px, py, queryRow.data());
            sum += kernel_(queryRow.data(), Row(OrdinalAt(source.x, source.y)), compared_, kNone);
            ++samples;
        }
        primed = sum / std::max<std::uint64_t>(samples, 1);
    }
    pass.scale.Prime(primed, width);
    pass.rules.kernel = kernel_;
    pass.rules.compared = compared_;
    UpdatePenalty(pass);
    // The causal pass builds its pieces as it goes; a correction pass starts
    // from the whole level's.
    pieces_.Reset(LevelPixels());
    if (!causal) {
        pieces_.JoinFromMap(map_, WorkerPool::EffectiveThreads(job_.threadCount) - 1);
    }
    pass.rules.pieceLimit =
        std::max<std::uint64_t>(1, std::uint64_t{count_} * job_.pieceLimitPercent / 100);
    pass.shiftRadius = causal ? kShiftRadius : kCorrectionShiftRadius;
    pass.reach = NeighbourOffsets(kPieceReach, causal);
    pass.plan = &plan;
    if (plan.chunks.empty()) {
        return true;
    }
    // The random candidates, drawn from the run's generator in pass order.
    pass.randomCount = pass.mending ? 0 : job_.randomCandidates;
    pass.randoms.resize(std::size_t{plan.pixels} * pass.randomCount);
    for (std::uint32_t& v : pass.randoms) {
        v = Draw(job_.random, count_);
    }
    pass.choices.resize(plan.pixels);
    pass.chunksLeft.assign(spans.size(), 0);
    for (const PassPlan::Chunk& c : plan.chunks) {
        ++pass.chunksLeft[c.span];
    }
    const std::uint32_t threads =
        std::min(WorkerPool::EffectiveThreads(job_.threadCount), plan.widestStep);
    // current, shifts, parent, own set, the sets of 8 neighbours, random ones
    const std::size_t candidates = 2 + pass.reach.size() + sets_.k * 9 + job_.randomCandidates;
    pass.scratch.resize(threads);
    for (Scratch& s : pass.scratch) {
        s.queryRow.assign(windows_.Stride(), 0);
        s.candidates.Reserve(candidates);
        s.roots.resize(pass.reach.size());
        s.around.Resize(pass.reach.size());
    }
    const bool committed = coherent::RunSteps(
        plan, threads,
        [this, &pass](std::uint32_t chunk, std::uint32_t participant) {
            RunChunk(pass, chunk, pass.scratch[participant]);
        },
        [this, &pass](std::uint32_t step) { return Commit(pass, step); });
    if (!committed || pass.failed.load() || pass.reported < spans.size()) {
        return false;
    }
    meanPerKilobyte_ = SaturatingProduct(pass.scale.chosenSum / pass.scale.chosenCount, 1024) /
                       std::max(bytes, 1u);
    return true;
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
    const auto steps =
        static_cast<std::uint32_t>(passCount * whole.size() + kBandPasses * band.size());
    job_.ReportStep(ProgressPhase::Synthesizing, level_, 0, steps);
    Initialise();
    // The first pass is causal but for its last rows: those meet the first
    // rows below them, already synthesised, and are matched with whole windows
    // so that the join is made as the rest is, not left for a correction to
    // mend (a pass that changes one pixel at a time cannot undo a seam).
    const std::uint32_t lastRows = std::min<std::uint32_t>(
        kClosingRows * static_cast<std::uint32_t>(side_) / 2, output_.height / 2);
    const std::vector<Span> opening(whole.begin(), whole.end() - lastRows);
    const std::vector<Span> closing(whole.end() - lastRows, whole.end());
    // The opening's plan is the start of the whole level's; the band's
    // serves both its passes.
    const PassPlan wholePlan = PlanFor(whole);
    if (!RunPass(PassKind::Causal, opening,
                 PlanPrefix(wholePlan, static_cast<std::uint32_t>(opening.size())), 0, steps) ||
        !RunPass(PassKind::Correction, closing, PlanFor(closing),
                 static_cast<std::uint32_t>(opening.size()), steps)) {
        return false;
    }
    // The finest level's corrections only mend: its pieces were laid out by
    // the coarser levels' corrections, and looking for new ones there again
    // measured no better and cost a tenth of the run.
    const PassKind correction = level_ == 0 ? PassKind::Mending : PassKind::Correction;
    for (std::uint32_t pass = 1; pass < passCount; ++pass) {
        if (!RunPass(correction, whole, wholePlan, static_cast<std::uint32_t>(pass * whole.size()),
                     steps)) {
            return false;
        }
    }
    // Last, the edges once more, now that both sides of them are corrected.
    const PassPlan bandPlan = PlanFor(band);
    for (std::uint32_t i = 0; i < kBandPasses; ++i) {
        if (!RunPass(correction, band, bandPlan,
                     static_cast<std::uint32_t>(passCount * whole.size() + i * band.size()),
                     steps)) {
            return false;
        }
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
        RowBlock rows;
        std::size_t tableBytes = 0;
        for (std::uint32_t level = 0; level < TextureSynthesiser::kLevelCount; ++level) {
            const Image* sample = job.samplePyramid->Level(level);
            if (sample == nullptr) {
                return false;
            }
            tableBytes = std::max(tableBytes, std::size_t{sample->width} * sample->height *
                                                  RowStrideFor(WholeWindowBytes(job, level)));
        }
        rows.Reserve(tableBytes);
        SourceMap maps[2];
        SimilarSets sets[2];
        const SourceMap* parent = nullptr;
        const SimilarSets* parentSets = nullptr;
        std::uint64_t meanPerKilobyte = kNoMean;
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
        const std::int32_t side = OddWindowSide(
            level == kLevels - 1 ? 3 : settings.WindowSide(static_cast<std::int32_t>(level)));
        const std::uint32_t windowBytes =
            FullNeighbourhoodPixelCount(side, LevelLevels(level)) * channels;
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
    // and source map still held. Per sample position a use count, per set
    // entry an ordinal and a distance, per output pixel a source position
    // (8 bytes) and two piece entries.
    Wide peak = 0;
    for (std::uint32_t level = 0; level < kLevels; ++level) {
        Wide bytes = 4 * samples[level] + 8 * sets[level] + 16 * pixels[level] + passes[level];
        if (level + 1 < kLevels) {
            bytes += 4 * sets[level + 1] + 8 * pixels[level + 1];
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
    const Wide total = rowsBytes + peak + sizeTables + perPixel;
    return total > std::numeric_limits<std::uint64_t>::max()
               ? std::numeric_limits<std::uint64_t>::max()
               : static_cast<std::uint64_t>(total);
}

}  // namespace weftloom
