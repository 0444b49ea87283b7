#pragma once

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
// it. The last rows of the first pass are matched with whole windows, as they
// meet the first rows; a pass that changes one pixel at a time cannot mend a
// seam once it is made.
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

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/coherent/candidates.h"
#include "engine/coherent/choice.h"
#include "engine/coherent/colour_balance.h"
#include "engine/coherent/courses.h"
#include "engine/coherent/occurrence_map.h"
#include "engine/coherent/overlay.h"
#include "engine/coherent/pass_plan.h"
#include "engine/coherent/piece_forest.h"
#include "engine/coherent/sample_windows.h"
#include "engine/coherent/similar_sets.h"
#include "engine/neighbourhood.h"
#include "engine/texture_synthesiser.h"
#include "search/distance_kernels.h"
#include "search/point_set.h"

namespace weftloom {

// The level driver: one level of the coherent synthesis, from its table of
// sample windows and look-alike sets to its passes. Runs on the job's
// thread and borrows the shared pool. TextureSynthesiser names it its
// friend: it reports through job.ReportStep and job.ReportRow and polls the
// abort flag.
class CoherentLevel {
  public:
    // The mean distance chosen is carried from level to level, per 1024
    // feature bytes; none before the first pass.
    static constexpr std::uint64_t kNoMean = std::numeric_limits<std::uint64_t>::max();

    // Level `level` of both the job's pyramids, windows of side over
    // `levels` pyramid levels; parent and parentSets: the next coarser
    // level's source map and look-alike sets (null for the coarsest); map
    // and sets: this level's, written; rows: the run's block for the table
    // of sample windows; courses: the run's plan of the output's lines.
    CoherentLevel(TextureSynthesiser& job, std::uint32_t level, std::int32_t side,
                  std::uint32_t levels, const SourceMap* parent, SourceMap& map,
                  const coherent::SimilarSets* parentSets, coherent::SimilarSets& sets,
                  std::uint64_t& meanPerKilobyte, coherent::RowBlock& rows,
                  const coherent::Courses& courses)
        : job_(job),
          level_(level),
          side_(OddWindowSide(side)),
          levels_(levels),
          parent_(parent),
          map_(map),
          sets_(sets),
          meanPerKilobyte_(meanPerKilobyte),
          sample_(*job.samplePyramid->Level(level)),
          output_(*job.outputPyramid->Level(level)),
          bpp_(output_.bytesPerPixel),
          grid_(sample_.width, sample_.height),
          windows_(rows),
          similar_(sets, parentSets, level == 0, grid_),
          courseRows_(courses.Axis() == coherent::CourseAxis::Rows
                          ? courses.ForLevel(level, output_.height, sample_.height)
                          : std::vector<std::uint32_t>{}),
          courseBreaks_(&courses.Breaks()),
          courseColumns_(courses.Axis() == coherent::CourseAxis::Columns
                             ? courses.ForLevel(level, output_.width, sample_.width)
                             : std::vector<std::uint32_t>{}) {}

    // Synthesises the level; false on abort or when a window cannot be had.
    bool Run();

    // The work of all the passes over a level of width x height with windows
    // of side (odd), in the units of its progress (SpanWork, PassSetUpWork);
    // mending: its corrections only mend.
    static std::uint64_t LevelWork(std::uint32_t width, std::uint32_t height, std::uint32_t side,
                                   bool mending, std::uint32_t passCount);

  private:
    // What a pass compares and which candidates it asks.
    enum class PassKind {
        Causal,      // the first: causal windows, every kind of candidate
        Correction,  // whole windows, every kind of candidate
        // Whole windows; only the pixel's own source, its neighbours'
        // continuations and its parent's: a correction that mends the seams
        // between pieces without looking for new ones.
        Mending,
    };
    // One thread's own room for the pixels it looks at.
    struct Scratch {
        ByteRows queryRow;
        coherent::Neighbours around;
        coherent::CandidateList candidates;
        std::vector<std::uint32_t> roots;
        // The changes of the chunk's pixels so far, to uses and pieces.
        coherent::Overlay uses;
        coherent::Overlay pieceParents;
        coherent::Overlay pieceSizes;
    };
    // What one pass shares between the threads that run it. A pixel's choice
    // reads the output around it and the level's tallies (uses per sample
    // position, the pieces, the mean distance chosen); the plan's steps keep
    // the former as one thread would see it, the latter are brought up to
    // date between steps, in pass order, by one thread: every choice of a
    // step sees the tallies as all steps before it left them, whatever ran
    // where.
    struct Pass {
        bool causal = false;
        bool mending = false;  // PassKind::Mending
        const std::vector<coherent::Span>* spans = nullptr;
        const coherent::PassPlan* plan = nullptr;
        const NeighbourhoodGatherer* query = nullptr;
        std::vector<coherent::Offset> reach;  // the neighbours a pixel continues, and may join
        // Causal pass: per reach offset, the earlier ones already joined to
        // it (JoinedBefore), apart from and along rows; and the column each
        // row started at (kNone: a row the pass has not once).
        std::vector<std::uint32_t> joinedBefore;
        std::vector<std::uint32_t> joinedBeforeAlongRows;
        std::vector<std::uint32_t> rowStart;
        std::int32_t shiftRadius = 0;
        coherent::PenaltyScale scale;
        coherent::ChoiceRules rules{};  // its penalty per use follows scale
        std::array<std::uint64_t, coherent::ColourBalance::kBins> binPenalty{};
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

    // level.cpp: the level's course.
    // The sample windows of side and levels in windows_, compared whole.
    bool GatherSampleRows(std::int32_t side, std::uint32_t levels);
    bool BuildSimilarSets();
    // Every pixel from its parent's continuation, or at random.
    void Initialise();
    // Reports row y, a span just finished that was `work` of the level's
    // work_ (SpanWork), as step `step` of steps; the run's pixel count moves
    // by the share of the level's work done, so that the overall count (and
    // the time left told from it) follows the work rather than the spans.
    void ReportRow(std::uint32_t y, std::uint32_t step, std::uint32_t steps, std::uint64_t work);
    // What a span of `columns` pixels costs in a pass, as measured: a pixel
    // of a mending pass three fifths of one of the other passes, and every
    // span as much again as a few dozen pixels, which the edge band's short
    // spans feel.
    static std::uint64_t SpanWork(bool mending, std::uint32_t columns);
    // What the seams of a row of `columns` pixels cost (see SeamCut), in
    // the same units: the finest level's corrections are mending ones, and
    // it alone has its seams laid anew.
    static std::uint64_t SeamWork(std::uint32_t columns);
    // What a pass's set-up costs, in the same units: counted done with the
    // pass's first span.
    static std::uint64_t PassSetUpWork(std::uint64_t levelPixels, bool causal);
    // The rows matched again after the causal pass (see Run).
    static std::uint32_t ClosingRows(std::uint32_t height, std::uint32_t side);

    // pass.cpp: one pass.
    // One pass over the given spans, whose plan (from PlanFor) is plan;
    // reports each span as step stepBase + i + 1 of steps. keepPieces: the
    // piece forest already holds the pieces of the level as it lies, as the
    // causal pass leaves it (it joins every pixel to the neighbours it
    // continues, and no pixel leaves a piece there), and is not made anew.
    bool RunPass(PassKind kind, const std::vector<coherent::Span>& spans,
                 const coherent::PassPlan& plan, std::uint32_t stepBase, std::uint32_t steps,
                 bool keepPieces = false);
    coherent::PassPlan PlanFor(const std::vector<coherent::Span>& spans) const;
    // The mean distance that primes the penalty of a pass comparing query.
    std::uint64_t PrimedMean(const NeighbourhoodGatherer& query);
    bool RunChunk(Pass& pass, std::uint32_t chunk, Scratch& scratch);
    bool Commit(Pass& pass, std::uint32_t step);
    void UpdatePenalty(Pass& pass) const;

    // choose_pixel.cpp: one pixel.
    // Chooses the source of output pixel (x, y), the pass's pixel number
    // `pixel`, and places it; what the choice changes beyond the pixel
    // itself is left for Commit.
    void ChoosePixel(Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
                     std::uint32_t rowStart, Scratch& scratch);
    // Whether a mending pass has nothing to offer pixel (x, y) but its own
    // source: every neighbour, and its parent, continue it.
    bool Uncontested(const Pass& pass, std::uint32_t x, std::uint32_t y,
                     std::uint32_t currentOrdinal) const;
    // Causal pass: whether the rows above (x, y) within reach were each
    // chosen left to right across the columns within reach of x.
    bool AlongRows(const Pass& pass, std::uint32_t x, std::uint32_t y) const;
    // Brings the tallies up to date with the choice of the pass's pixel
    // `pixel` at (x, y): in place, or in a chunk's overlays (uses non-null).
    void Tally(const Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
               coherent::Overlay* uses, coherent::PieceTree& pieces);
    void Place(std::uint32_t x, std::uint32_t y, std::uint32_t ordinal);

    void Compare(std::uint32_t bytes) {
        compared_ = bytes;
        kernel_ = ChooseKernel(job_.metric, bytes);
    }
    // The sample position that continues output pixel (x, y)'s parent's
    // source on this level; kNone without a parent or outside the sample.
    std::uint32_t ParentContinuation(std::uint32_t x, std::uint32_t y) const {
        if (parent_ == nullptr || parent_->width == 0 || parent_->height == 0) {
            return coherent::kNone;
        }
        const SourcePosition& up = parent_->At(x / 2 % parent_->width, y / 2 % parent_->height);
        return grid_.OrdinalAt(std::int64_t{up.x} * 2 + (x & 1u),
                               std::int64_t{up.y} * 2 + (y & 1u));
    }
    // The sample row (column) every source of output row y (column x) lies
    // on, for a sample laid in courses; kNone: any.
    std::uint32_t CourseRow(std::uint32_t y) const {
        return courseRows_.empty() ? coherent::kNone : courseRows_[y];
    }
    std::uint32_t CourseColumn(std::uint32_t x) const {
        return courseColumns_.empty() ? coherent::kNone : courseColumns_[x];
    }
    // Position v moved onto output pixel (x, y)'s course line.
    std::uint32_t OnCourse(std::uint32_t v, std::uint32_t x, std::uint32_t y) const {
        if (v == coherent::kNone) {
            return v;
        }
        if (!courseRows_.empty()) {
            return grid_.OnRow(v, courseRows_[y]);
        }
        return courseColumns_.empty() ? v : grid_.OnColumn(v, courseColumns_[x]);
    }
    std::uint64_t LevelPixels() const { return std::uint64_t{output_.width} * output_.height; }
    // The level's part of the run's overall count.
    std::uint64_t LevelOverall() const {
        return job_.levelOverall > 0 ? static_cast<std::uint64_t>(job_.levelOverall)
                                     : LevelPixels();
    }
    std::uint32_t Helpers() const;
    bool Aborted() const { return job_.AbortRequested(); }

    TextureSynthesiser& job_;
    std::uint32_t level_;
    std::int32_t side_;
    std::uint32_t levels_;
    const SourceMap* parent_;
    SourceMap& map_;
    coherent::SimilarSets& sets_;
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
    coherent::ColourBalance balance_;
    coherent::PieceForest pieces_;
    // The choices of the level's passes, lent to each pass in turn: a pass
    // writes each of its pixels' choices before it reads them, and the
    // memory taken for the first pass serves the rest (allocated and cleared
    // anew, the whole level's cost the finest level of a 2048 x 2048 run a
    // twentieth of its time).
    std::vector<Pass::Choice> choiceStore_;
    // Per output row (column), the sample row (column) its sources lie on:
    // empty unless the sample is laid in courses that way.
    std::vector<std::uint32_t> courseRows_;
    // The finest sample level's lines after which it changes abruptly.
    const std::vector<bool>* courseBreaks_;
    std::vector<std::uint32_t> courseColumns_;
    std::int32_t levelStart_ = 0;  // job.pixelsDone when the level began
    std::uint64_t work_ = 0;       // SpanWork of all the level's passes together
    std::uint64_t workDone_ = 0;   // of it, that of the spans reported
};

}  // namespace weftloom
