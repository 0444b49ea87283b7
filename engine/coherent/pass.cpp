#include <algorithm>

#include "engine/coherent/level.h"
#include "engine/coherent/step_runner.h"
#include "search/worker_pool.h"

namespace weftloom {

using coherent::kNone;
using coherent::PassPlan;
using coherent::SaturatingProduct;
using coherent::Span;

namespace {

// Neighbours whose shifted sources are candidates lie within this distance;
// those within 1 add their look-alike sets as well.
constexpr std::int32_t kShiftRadius = 2;
constexpr std::int32_t kCorrectionShiftRadius = 1;
// The coherence factor, in sixteenths: a candidate that continues none of the
// pixel's neighbours has its score (distance and penalty) raised by this
// share, so that it must be clearly better than the neighbours' continuations
// to part a piece. After Ashikhmin's preference for coherent candidates and
// the coherence factor kappa of A. Hertzmann, C. Jacobs, N. Oliver, B.
// Curless, D. Salesin, "Image Analogies", SIGGRAPH 2001. Measured on twenty
// patterns at 192 x 192, the mean of coherence and completeness went from
// 10.0 to 8.4 with kappa 1, to 5.7 with 2 and pieces of up to 30 %.
constexpr std::uint32_t kLoneWeight = 32;
// The penalty's even share counts at least this part of the level's pixels.
constexpr std::uint64_t kLeastCounted = 8;
// How much more than the finest a level spreads its uses, by level (0 the
// finest). The coarse levels lay the texture out: spread there, every part
// of the sample gets its place, rare features included. The finer levels
// continue the pieces their parents began, and a strong spread there cuts
// bricks, stones and spots into fragments. Measured on twenty patterns at
// 192 x 192, seeds 1 to 3, with 20 on the finest level: {1, 3, 3, 5} and 40
// there left stones in shards (coherence up to 19) and 13 results over the
// marks of coherence, largest piece or tiling; these weights, 4 over, and the
// water's caustics kept off the wrap-around rows on four seeds of four.
constexpr std::uint32_t kSpreadByLevel[] = {1, 3, 6, 10};
// Every this many pixels one tells the scale of a pass's distances beforehand.
constexpr std::uint64_t kScaleEstimateStep = 7;

}  // namespace

PassPlan CoherentLevel::PlanFor(const std::vector<Span>& spans) const {
    return coherent::PlanPass(spans, output_.width, output_.height,
                              std::max(static_cast<std::uint32_t>(side_ / 2),
                                       static_cast<std::uint32_t>(coherent::kPieceReach)));
}

std::uint64_t CoherentLevel::PrimedMean(const NeighbourhoodGatherer& query) {
    // The first pixels need a scale too, or they would take the best the
    // sample has with no regard to its use, and the top rows would differ
    // from the rest. It is carried from the last pass (per feature byte, as
    // windows differ), else estimated from the sources the level starts with.
    if (meanPerKilobyte_ != kNoMean) {
        return SaturatingProduct(meanPerKilobyte_, query.ByteCount()) / 1024;
    }
    ByteRows queryRow(windows_.Stride(), 0);
    std::uint64_t sum = 0;
    std::uint64_t samples = 0;
    for (std::uint64_t i = 0; i < LevelPixels(); i += kScaleEstimateStep) {
        const auto px = static_cast<std::uint32_t>(i % output_.width);
        const auto py = static_cast<std::uint32_t>(i / output_.width);
        const SourcePosition& source = map_.At(px, py);
        query.Gather(px, py, queryRow.data());
        sum += kernel_(queryRow.data(), windows_.Row(grid_.OrdinalAt(source.x, source.y)),
                       compared_, kNone);
        ++samples;
    }
    return sum / std::max<std::uint64_t>(samples, 1);
}

bool CoherentLevel::RunPass(PassKind kind, const std::vector<Span>& spans, const PassPlan& plan,
                            std::uint32_t stepBase, std::uint32_t steps, bool keepPieces) {
    const bool causal = kind == PassKind::Causal;
    if (!GatherSampleRows(side_, levels_)) {
        return false;
    }
    const NeighbourhoodGatherer query(
        *job_.outputPyramid, level_, side_, levels_, bpp_ == 4, true,
        {.causal = causal, .plainParents = true, .causalFirst = true});
    Compare(query.ByteCount());
    Pass pass;
    struct Lent {
        std::vector<Pass::Choice>& store;
        std::vector<Pass::Choice>& choices;
        ~Lent() { store.swap(choices); }
    } lent{choiceStore_, pass.choices};
    pass.choices.swap(choiceStore_);
    pass.causal = causal;
    pass.mending = kind == PassKind::Mending;
    pass.spans = &spans;
    pass.plan = &plan;
    pass.query = &query;
    pass.stepBase = stepBase;
    pass.steps = steps;
    // The primed mean counts as one row's worth of choices.
    pass.scale.Prime(PrimedMean(query), output_.width);
    pass.rules.kernel = kernel_;
    pass.rules.compared = compared_;
    UpdatePenalty(pass);
    // The causal pass builds its pieces as it goes; a correction pass starts
    // from the whole level's.
    if (!keepPieces) {
        pieces_.Reset(LevelPixels());
        if (!causal) {
            pieces_.JoinFromMap(map_, Helpers());
        }
        workDone_ = std::min(workDone_ + PassSetUpWork(LevelPixels(), causal), work_);
    }
    pass.rules.pieceLimit =
        std::max<std::uint64_t>(1, std::uint64_t{count_} * job_.pieceLimitPercent / 100);
    pass.rules.loneWeight = kLoneWeight;
    pass.shiftRadius = causal ? kShiftRadius : kCorrectionShiftRadius;
    pass.reach = coherent::NeighbourOffsets(coherent::kPieceReach, causal);
    if (causal) {
        pass.joinedBefore = coherent::JoinedBefore(pass.reach, coherent::kPieceReach, false);
        pass.joinedBeforeAlongRows =
            coherent::JoinedBefore(pass.reach, coherent::kPieceReach, true);
        pass.rowStart.assign(output_.height, kNone);
        std::vector<bool> seen(output_.height, false);
        for (const Span& span : spans) {
            pass.rowStart[span.y] = seen[span.y] ? kNone : span.firstColumn;
            seen[span.y] = true;
        }
    }
    if (plan.chunks.empty()) {
        return true;
    }
    // The random candidates, drawn from the run's generator in pass order.
    pass.randomCount = pass.mending ? 0 : job_.randomCandidates;
    pass.randoms.resize(std::size_t{plan.pixels} * pass.randomCount);
    for (std::uint32_t& v : pass.randoms) {
        v = coherent::Draw(job_.random, count_);
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
                       std::max(query.ByteCount(), 1u);
    return true;
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
    coherent::PieceTree pieces(pieces_);
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
        const Span& span = (*pass.spans)[pass.reported - 1];
        ReportRow(span.y, pass.stepBase + pass.reported, pass.steps,
                  SpanWork(pass.mending, span.columns));
        if (Aborted()) {
            return false;
        }
    }
    UpdatePenalty(pass);
    return true;
}

void CoherentLevel::UpdatePenalty(Pass& pass) const {
    // The even share is that of the pixels counted so far (the causal pass
    // counts its choices afresh), but never of fewer than an eighth of the
    // level's: the first rows would otherwise each take a new position.
    const std::uint64_t least = std::max<std::uint64_t>(LevelPixels() / kLeastCounted, 1);
    pass.rules.perUse = pass.scale.PerUse(job_.occurrenceWeight * kSpreadByLevel[level_], count_,
                                          std::max(occurrences_.Total(), least));
    if (job_.balanceWeight != 0) {
        balance_.Penalties(pass.scale.Mean(), job_.balanceWeight, least, pass.binPenalty);
        pass.rules.binPenalty = pass.binPenalty.data();
        pass.rules.bins = balance_.Bins();
    }
}

}  // namespace weftloom
