#include "engine/coherent_search.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

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
// Every choice is made in integers, in a fixed order, on one thread, with
// draws from the run's generator: the output is the same on every machine.

namespace weftloom {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Sweeps of the similar-set search over the coarsest sample level, and over a
// finer one that starts from its parent's sets; how far (in pixels) the
// latter looks around at random.
constexpr std::uint32_t kSimilarSweeps = 2;
constexpr std::uint32_t kInheritedSimilarSweeps = 1;
constexpr std::uint32_t kInheritedSimilarReach = 4;
// Sample rows per band of the similar-set search, the unit it is spread over
// threads in.
constexpr std::uint32_t kSimilarBand = 16;
// Positions this close (in both directions) to a sample position are not
// kept in its similar set: they are its own neighbours, which the shifted
// candidates reach anyway.
constexpr std::int64_t kSimilarExclusion = 2;
// Neighbours whose shifted sources are candidates lie within this distance;
// those within 1 add their similar sets as well.
constexpr std::int32_t kShiftRadius = 2;
constexpr std::int32_t kCorrectionShiftRadius = 1;
// Every this many pixels one tells the scale of a pass's distances beforehand.
constexpr std::uint64_t kScaleEstimateStep = 7;
constexpr std::uint64_t kNoMean = std::numeric_limits<std::uint64_t>::max();
// Pixels this close that copy with the same shift belong to one piece: a
// pixel that differs here and there does not part a piece to the eye.
constexpr std::int32_t kPieceReach = 2;
// The window whose likeness the similar sets measure: the own level's only.
constexpr std::int32_t kSimilarSide = 5;
// The band along the wrap-around edges (one window side wide on each side of
// an edge) is corrected again at the end, this many times.
constexpr std::uint32_t kBandPasses = 2;
// The first pass matches its last rows, this many half window sides of them,
// with whole windows.
constexpr std::uint32_t kClosingRows = 4;

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
std::uint32_t Draw(RandomGenerator& random, std::uint32_t count) {
    std::uint64_t value = random.Next();
    for (std::uint64_t range = RandomGenerator::kMaxValue + 1u; range < count; range <<= 15) {
        value = (value << 15) | random.Next();
    }
    return static_cast<std::uint32_t>(value % count);
}

// The starting state of one band's generator at one stage of the
// similar-set search: the run's draw, mixed with both (a MurmurHash3
// finaliser), so that neighbouring bands draw unrelated sequences.
std::uint32_t BandSeed(std::uint32_t seed, std::uint32_t stage, std::uint32_t band) {
    std::uint32_t h = seed ^ (stage * 0x9E3779B9u) ^ (band * 0x85EBCA6Bu);
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// a * b, or the largest value when that does not fit.
std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max()
                                                  : product;
}

// Bytes a row of `bytes` feature bytes takes: whole 64-byte blocks, at least one.
std::uint32_t RowStrideFor(std::uint32_t bytes) {
    return std::max(PointSet::kRowAlignment, (bytes + PointSet::kRowAlignment - 1) /
                                                 PointSet::kRowAlignment * PointSet::kRowAlignment);
}

// Sample positions whose neighbourhoods one chunk of the table gathers.
constexpr std::uint32_t kGatherChunk = 2048;

// The block that holds a level's table of sample neighbourhoods, one for the
// whole run: it is made at the size the largest level needs before the
// coarsest starts, and every level reuses it, so that fresh memory (which the
// system clears page by page on first touch) is touched once, not per level.
// Left uninitialised: the gathers write every byte before it is read.
class RowBlock {
  public:
    RowBlock() = default;
    RowBlock(const RowBlock&) = delete;
    RowBlock& operator=(const RowBlock&) = delete;
    ~RowBlock() { Release(); }

    // Room for at least bytes; throws std::bad_alloc when there is none.
    void Reserve(std::size_t bytes) {
        if (bytes <= bytes_) {
            return;
        }
        Release();
        data_ = static_cast<std::uint8_t*>(AllocateRows(bytes));
        bytes_ = bytes;
    }
    std::uint8_t* Data() const { return data_; }

  private:
    void Release() {
        if (data_ != nullptr) {
            ReleaseRows(data_, bytes_);
            data_ = nullptr;
            bytes_ = 0;
        }
    }
    std::uint8_t* data_ = nullptr;
    std::size_t bytes_ = 0;
};

// The window side and the levels a level's passes compare over.
std::int32_t LevelSide(const TextureSynthesiser& job, std::uint32_t level) {
    return level == TextureSynthesiser::kLevelCount - 1 ? 3 : job.neighbourhoodSize[level];
}
std::uint32_t LevelLevels(std::uint32_t level) {
    return level == TextureSynthesiser::kLevelCount - 1 ? 1 : 2;
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

struct Offset {
    std::int32_t dx;
    std::int32_t dy;
};

// The offsets of the neighbours within radius, in scan order, the pixel
// itself left out; causal keeps only those synthesised before the pixel.
std::vector<Offset> NeighbourOffsets(std::int32_t radius, bool causal) {
    std::vector<Offset> offsets;
    for (std::int32_t dy = -radius; dy <= radius; ++dy) {
        for (std::int32_t dx = -radius; dx <= radius; ++dx) {
            if ((dx == 0 && dy == 0) || (causal && (dy > 0 || (dy == 0 && dx > 0)))) {
                continue;
            }
            offsets.push_back({dx, dy});
        }
    }
    // Nearest first, so that the closest continuations are met first.
    std::stable_sort(offsets.begin(), offsets.end(), [](const Offset& a, const Offset& b) {
        return std::max(std::abs(a.dx), std::abs(a.dy)) < std::max(std::abs(b.dx), std::abs(b.dy));
    });
    return offsets;
}

}  // namespace

// Each sample position's k most alike positions on one level (k-coherence),
// nearest first; kNone where fewer were found. Handed to the next finer level,
// whose sets start from these.
struct SimilarSets {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t k = 0;
    std::vector<std::uint32_t> members;
};

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
          rows_(rows),
          sample_(*job.samplePyramid->Level(level)),
          output_(*job.outputPyramid->Level(level)),
          bpp_(output_.bytesPerPixel) {}

    bool Run();

  private:
    // Sample position v (its ordinal: y * width + x).
    SourcePosition PositionOf(std::uint32_t v) const {
        return {v % sample_.width, v / sample_.width};
    }
    // Gathers the neighbourhoods of every sample position into rows_, spread
    // over the run's threads (each row is written by one of them, whatever the
    // split); nothing to do when rows_ holds these windows already.
    bool GatherSampleRows(std::int32_t side, std::uint32_t levels, bool causal);
    bool BuildSimilarSets();
    bool Inherited() const;
    void StartSimilarBand(std::uint32_t band, RandomGenerator& random);
    void SweepSimilarBand(std::uint32_t band, std::uint32_t sweep, RandomGenerator& random);
    void Initialise();
    // One pass over the given rows, each from a column on for a number of
    // columns (wrapping round); reports each row as step stepBase + i + 1 of
    // steps.
    struct Span {
        std::uint32_t y;
        std::uint32_t firstColumn;
        std::uint32_t columns;
    };
    bool RunPass(bool causal, const std::vector<Span>& spans, std::uint32_t stepBase,
                 std::uint32_t steps);
    std::vector<Span> WholeLevel() const;
    std::vector<Span> EdgeBand() const;

    // The sample position at (x, y), or kNone outside the sample.
    std::uint32_t OrdinalAt(std::int64_t x, std::int64_t y) const {
        if (x < 0 || y < 0 || x >= sample_.width || y >= sample_.height) {
            return kNone;
        }
        return static_cast<std::uint32_t>(y * sample_.width + x);
    }
    const std::uint8_t* Row(std::uint32_t ordinal) const {
        return rows_.Data() + std::size_t{ordinal} * stride_;
    }
    void Place(std::uint32_t x, std::uint32_t y, std::uint32_t ordinal);
    bool InsertSimilar(std::uint32_t v, std::uint32_t w);
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
    RowBlock& rows_;  // per ordinal, stride_ bytes
    const Image& sample_;
    Image& output_;
    std::uint32_t bpp_;

    std::uint32_t count_ = 0;  // sample positions: width * height
    std::uint32_t stride_ = 0;
    // The windows rows_ holds: side, levels and shape; side 0: none yet.
    std::int32_t rowsSide_ = 0;
    std::uint32_t rowsLevels_ = 0;
    bool rowsCausal_ = false;
    DistanceKernel kernel_ = nullptr;
    std::uint32_t k_ = 0;
    std::vector<std::uint32_t>& similar_ = sets_.members;  // k_ per ordinal
    std::vector<std::uint32_t> similarDistance_;
    std::vector<std::uint32_t> usage_;  // output pixels copying each sample position
    std::vector<std::uint32_t> candidates_;
    // Pieces copied verbatim: output pixels joined when their sources are
    // neighbours the same way round (union-find over the level's pixels).
    std::vector<std::uint32_t> pieceParent_;
    std::vector<std::uint32_t> pieceSize_;
    std::uint32_t PieceRoot(std::uint32_t i) {
        while (pieceParent_[i] != i) {
            pieceParent_[i] = pieceParent_[pieceParent_[i]];
            i = pieceParent_[i];
        }
        return i;
    }
    void JoinPieces(std::uint32_t a, std::uint32_t b) {
        a = PieceRoot(a);
        b = PieceRoot(b);
        if (a == b) {
            return;
        }
        if (pieceSize_[a] < pieceSize_[b] || (pieceSize_[a] == pieceSize_[b] && b < a)) {
            std::swap(a, b);
        }
        pieceParent_[b] = a;
        pieceSize_[a] += pieceSize_[b];
    }
    void StartPieces(bool fromMap);
    std::vector<Offset> pieceReach_ = NeighbourOffsets(kPieceReach, false);
    std::int32_t levelStart_ = 0;  // job.pixelsDone when the level began
};

bool CoherentLevel::GatherSampleRows(std::int32_t side, std::uint32_t levels, bool causal) {
    // The whole windows of the positions next to the sample's lower and right
    // edges reach past it; they wrap, and the mismatch that makes simply
    // lowers those positions' chances.
    if (side == rowsSide_ && levels == rowsLevels_ && causal == rowsCausal_) {
        return true;
    }
    rowsSide_ = 0;
    const NeighbourhoodGatherer windows(*job_.samplePyramid, level_, side, levels, bpp_ == 4, true,
                                        {.causal = causal, .plainParents = true, .mirror = true});
    stride_ = RowStrideFor(windows.ByteCount());
    kernel_ = ChooseKernel(job_.metric, stride_);
    rows_.Reserve(std::size_t{count_} * stride_);
    struct Work {
        CoherentLevel* level;
        const NeighbourhoodGatherer* windows;
        std::atomic<bool> failed{false};
    } work{this, &windows};
    const std::uint32_t chunks = (count_ + kGatherChunk - 1) / kGatherChunk;
    WorkerPool::Shared().Run(
        chunks, WorkerPool::EffectiveThreads(job_.threadCount) - 1,
        [](void* context, std::uint32_t chunk) {
            Work& w = *static_cast<Work*>(context);
            const CoherentLevel& l = *w.level;
            if (w.failed.load(std::memory_order_relaxed) || l.Aborted()) {
                w.failed.store(true, std::memory_order_relaxed);
                return;
            }
            const std::uint32_t bytes = w.windows->ByteCount();
            const std::uint32_t end = std::min(l.count_, (chunk + 1) * kGatherChunk);
            for (std::uint32_t v = chunk * kGatherChunk; v < end; ++v) {
                std::uint8_t* row = l.rows_.Data() + std::size_t{v} * l.stride_;
                std::fill(row + bytes, row + l.stride_, std::uint8_t{0});
                if (!w.windows->Gather(v % l.sample_.width, v / l.sample_.width, row)) {
                    w.failed.store(true, std::memory_order_relaxed);
                    return;
                }
            }
        },
        &work);
    if (work.failed.load()) {
        return false;
    }
    rowsSide_ = side;
    rowsLevels_ = levels;
    rowsCausal_ = causal;
    return true;
}

bool CoherentLevel::InsertSimilar(std::uint32_t v, std::uint32_t w) {
    if (w == kNone || w == v) {
        return false;
    }
    const SourcePosition a = PositionOf(v);
    const SourcePosition b = PositionOf(w);
    if (std::abs(std::int64_t{a.x} - b.x) <= kSimilarExclusion &&
        std::abs(std::int64_t{a.y} - b.y) <= kSimilarExclusion) {
        return false;
    }
    std::uint32_t* set = similar_.data() + std::size_t{v} * k_;
    std::uint32_t* distance = similarDistance_.data() + std::size_t{v} * k_;
    for (std::uint32_t i = 0; i < k_; ++i) {
        if (set[i] == w) {
            return false;
        }
    }
    const std::uint32_t worst = distance[k_ - 1];
    const std::uint32_t d = kernel_(Row(v), Row(w), stride_, worst);
    if (d >= worst) {
        return false;
    }
    std::uint32_t i = k_ - 1;
    for (; i > 0 && distance[i - 1] > d; --i) {
        set[i] = set[i - 1];
        distance[i] = distance[i - 1];
    }
    set[i] = w;
    distance[i] = d;
    return true;
}

bool CoherentLevel::BuildSimilarSets() {
    const std::uint32_t count = count_;
    k_ = std::min(job_.coherenceSetSize, count > 1 ? count - 1 : 0u);
    sets_.width = sample_.width;
    sets_.height = sample_.height;
    sets_.k = k_;
    similar_.assign(std::size_t{count} * k_, kNone);
    similarDistance_.assign(std::size_t{count} * k_, kNone);
    if (k_ == 0) {
        return true;
    }
    // The sets are built band by band (kSimilarBand sample rows each), the
    // bands spread over the run's threads. A band's propagation reads the row
    // next to it in the neighbouring band, so the even bands go first, then
    // the odd ones: what every band reads is the same whatever the split.
    // Each band draws from a generator of its own, seeded from one draw of
    // the run's; nothing depends on the thread count.
    const std::uint32_t seed = job_.random.Next() << 15 | job_.random.Next();
    const std::uint32_t bands = (sample_.height + kSimilarBand - 1) / kSimilarBand;
    const std::uint32_t sweeps = Inherited() ? kInheritedSimilarSweeps : kSimilarSweeps;
    struct Work {
        CoherentLevel* level;
        std::uint32_t seed;
        std::uint32_t stage;  // 0: the starting sets, then the sweeps
        std::uint32_t parity;
        std::atomic<bool> failed{false};
    } work{this, seed, 0, 0};
    const std::uint32_t helpers = WorkerPool::EffectiveThreads(job_.threadCount) - 1;
    for (std::uint32_t stage = 0; stage <= sweeps; ++stage) {
        if (stage > 0) {
            ProgressInfo info;
            info.status = status::kBuildingDataCloud;
            info.context = job_.callbackContext;
            info.stepDone = static_cast<std::int32_t>(stage - 1);
            info.stepTotal = static_cast<std::int32_t>(sweeps);
            job_.Report(info);
        }
        // The starting sets depend on nothing around them: all bands at once.
        for (std::uint32_t parity = 0; parity < (stage == 0 ? 1u : 2u); ++parity) {
            work.stage = stage;
            work.parity = parity;
            const std::uint32_t chunks = stage == 0 ? bands : (bands + 1 - parity) / 2;
            WorkerPool::Shared().Run(
                chunks, helpers,
                [](void* context, std::uint32_t chunk) {
                    Work& w = *static_cast<Work*>(context);
                    const std::uint32_t band = w.stage == 0 ? chunk : 2 * chunk + w.parity;
                    if (w.failed.load(std::memory_order_relaxed) || w.level->Aborted()) {
                        w.failed.store(true, std::memory_order_relaxed);
                        return;
                    }
                    RandomGenerator random(BandSeed(w.seed, w.stage, band));
                    if (w.stage == 0) {
                        w.level->StartSimilarBand(band, random);
                    } else {
                        w.level->SweepSimilarBand(band, w.stage - 1, random);
                    }
                },
                &work);
            if (work.failed.load()) {
                return false;
            }
        }
    }
    return true;
}

bool CoherentLevel::Inherited() const {
    return parentSets_ != nullptr && parentSets_->k > 0 && parentSets_->width > 0 &&
           parentSets_->height > 0;
}

void CoherentLevel::StartSimilarBand(std::uint32_t band, RandomGenerator& random) {
    // A finer level starts from its parent's sets, upsampled, and needs only
    // a short look around; the coarsest starts from random positions.
    const bool inherited = Inherited();
    const std::uint32_t first = band * kSimilarBand * sample_.width;
    const std::uint32_t last = std::min(count_, first + kSimilarBand * sample_.width);
    for (std::uint32_t v = first; v < last; ++v) {
        const SourcePosition p = PositionOf(v);
        if (inherited) {
            const std::size_t up = std::size_t{p.y / 2 % parentSets_->height} * parentSets_->width +
                                   p.x / 2 % parentSets_->width;
            for (std::uint32_t i = 0; i < parentSets_->k; ++i) {
                const std::uint32_t w = parentSets_->members[up * parentSets_->k + i];
                if (w != kNone) {
                    InsertSimilar(v,
                                  OrdinalAt(std::int64_t{w % parentSets_->width} * 2 + (p.x & 1u),
                                            std::int64_t{w / parentSets_->width} * 2 + (p.y & 1u)));
                }
            }
        }
        for (std::uint32_t i = inherited ? k_ - 1 : 0; i < k_; ++i) {
            InsertSimilar(v, Draw(random, count_));
        }
    }
}

void CoherentLevel::SweepSimilarBand(std::uint32_t band, std::uint32_t sweep,
                                     RandomGenerator& random) {
    const std::uint32_t reach =
        Inherited() ? kInheritedSimilarReach : std::max(sample_.width, sample_.height) / 2;
    const bool forward = sweep % 2 == 0;
    const std::int32_t step = forward ? 1 : -1;
    const std::uint32_t first = band * kSimilarBand * sample_.width;
    const std::uint32_t count = std::min(count_, first + kSimilarBand * sample_.width) - first;
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::uint32_t v = first + (forward ? n : count - 1 - n);
        const SourcePosition p = PositionOf(v);
        // The sets of the neighbours already visited, shifted onto v.
        const Offset from[2] = {{-step, 0}, {0, -step}};
        for (const Offset& o : from) {
            const std::uint32_t u = OrdinalAt(std::int64_t{p.x} + o.dx, std::int64_t{p.y} + o.dy);
            if (u == kNone) {
                continue;
            }
            for (std::uint32_t i = 0; i < k_; ++i) {
                const std::uint32_t w = similar_[std::size_t{u} * k_ + i];
                if (w != kNone) {
                    const SourcePosition q = PositionOf(w);
                    InsertSimilar(v, OrdinalAt(std::int64_t{q.x} - o.dx, std::int64_t{q.y} - o.dy));
                }
            }
        }
        // A random look around the best one, at shrinking distances.
        const std::uint32_t best = similar_[std::size_t{v} * k_];
        const SourcePosition centre = PositionOf(best == kNone ? v : best);
        for (std::uint32_t r = reach; r >= 1; r /= 2) {
            const std::int64_t dx = std::int64_t{Draw(random, 2 * r + 1)} - r;
            const std::int64_t dy = std::int64_t{Draw(random, 2 * r + 1)} - r;
            if (best != kNone) {
                InsertSimilar(v, OrdinalAt(centre.x + dx, centre.y + dy));
            }
        }
    }
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
    usage_.assign(count_, 0);
    const std::uint32_t count = count_;
    for (std::uint32_t y = 0; y < output_.height; ++y) {
        for (std::uint32_t x = 0; x < output_.width; ++x) {
            std::uint32_t v = kNone;
            if (parent_ != nullptr && parent_->width > 0 && parent_->height > 0) {
                const SourcePosition& up =
                    parent_->At(x / 2 % parent_->width, y / 2 % parent_->height);
                v = OrdinalAt(std::int64_t{up.x} * 2 + (x & 1u), std::int64_t{up.y} * 2 + (y & 1u));
            }
            if (v == kNone) {
                v = Draw(job_.random, count);
            }
            Place(x, y, v);
            ++usage_[v];
        }
    }
}

void CoherentLevel::StartPieces(bool fromMap) {
    const std::uint32_t width = output_.width;
    const std::uint32_t height = output_.height;
    const std::size_t pixels = std::size_t{width} * height;
    pieceParent_.resize(pixels);
    pieceSize_.assign(pixels, 1);
    for (std::size_t i = 0; i < pixels; ++i) {
        pieceParent_[i] = static_cast<std::uint32_t>(i);
    }
    if (!fromMap) {
        return;
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const SourcePosition& s = map_.At(x, y);
            const std::uint32_t i = y * width + x;
            for (const Offset& o : pieceReach_) {
                if (o.dy < 0 || (o.dy == 0 && o.dx < 0)) {
                    continue;  // each pair once
                }
                const std::uint32_t nx = WrapNear(std::int64_t{x} + o.dx, width);
                const std::uint32_t ny = WrapNear(std::int64_t{y} + o.dy, height);
                const SourcePosition& n = map_.At(nx, ny);
                if (std::int64_t{n.x} == std::int64_t{s.x} + o.dx &&
                    std::int64_t{n.y} == std::int64_t{s.y} + o.dy) {
                    JoinPieces(i, ny * width + nx);
                }
            }
        }
    }
}

void CoherentLevel::ReportRow(std::uint32_t y, std::uint32_t step, std::uint32_t steps) {
    const std::uint64_t levelPixels = std::uint64_t{output_.width} * output_.height;
    job_.pixelsDone = levelStart_ + static_cast<std::int32_t>(levelPixels * step / steps);
    ProgressInfo info;
    info.status = status::kSynthesizing;
    info.context = job_.callbackContext;
    info.rowPixels = output_.PixelAt(0, y);
    info.levelWidth = output_.width;
    info.levelHeight = output_.height;
    info.bytesPerPixel = bpp_;
    info.row = static_cast<std::int32_t>(y);
    info.stepDone = static_cast<std::int32_t>(step);
    info.stepTotal = static_cast<std::int32_t>(steps);
    info.overallDone = job_.pixelsDone;
    info.overallTotal = job_.pixelsTotal;
    job_.Report(info);
}

std::vector<CoherentLevel::Span> CoherentLevel::WholeLevel() const {
    std::vector<Span> spans;
    for (std::uint32_t y = 0; y < output_.height; ++y) {
        spans.push_back({y, 0, output_.width});
    }
    return spans;
}

std::vector<CoherentLevel::Span> CoherentLevel::EdgeBand() const {
    // The rows and columns within a window's reach of the wrap-around edges,
    // the last ones first: the band where the first rows were synthesised
    // before the last ones existed.
    const std::uint32_t width = output_.width;
    const std::uint32_t height = output_.height;
    const std::uint32_t rows =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(side_), height / 2);
    const std::uint32_t columns =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(side_), width / 2);
    std::vector<Span> spans;
    for (std::uint32_t i = 0; i < 2 * rows; ++i) {
        spans.push_back({(height - rows + i) % height, 0, width});
    }
    if (columns > 0) {
        for (std::uint32_t y = rows; y + rows < height; ++y) {
            spans.push_back({y, width - columns, 2 * columns});
        }
    }
    return spans;
}

bool CoherentLevel::RunPass(bool causal, const std::vector<Span>& spans, std::uint32_t stepBase,
                            std::uint32_t steps) {
    if (!GatherSampleRows(side_, levels_, causal)) {
        return false;
    }
    const std::uint32_t width = output_.width;
    const std::uint32_t height = output_.height;
    const NeighbourhoodGatherer query(*job_.outputPyramid, level_, side_, levels_, bpp_ == 4, true,
                                      {.causal = causal, .plainParents = true});
    ByteRows queryRow(stride_, 0);
    const std::uint32_t count = count_;
    const std::uint64_t levelPixels = std::uint64_t{width} * height;
    // The penalty for a position used u times is weight/16 of the mean
    // distance chosen so far, times u over the use every position would have
    // if all were used alike.
    const std::uint64_t weight = job_.occurrenceWeight;
    std::uint64_t chosenSum = 0;
    std::uint64_t chosenCount = 0;
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
        std::uint64_t sum = 0;
        std::uint64_t samples = 0;
        for (std::uint64_t i = 0; i < levelPixels; i += kScaleEstimateStep) {
            const auto px = static_cast<std::uint32_t>(i % width);
            const auto py = static_cast<std::uint32_t>(i / width);
            const SourcePosition& source = map_.At(px, py);
            query.Gather(px, py, queryRow.data());
            sum += kernel_(queryRow.data(), Row(OrdinalAt(source.x, source.y)), stride_, kNone);
            ++samples;
        }
        primed = sum / std::max<std::uint64_t>(samples, 1);
    }
    chosenSum = SaturatingProduct(primed, width);
    chosenCount = width;
    // The causal pass builds its pieces as it goes; a correction pass starts
    // from the whole level's.
    StartPieces(!causal);
    const std::uint64_t pieceLimit =
        std::max<std::uint64_t>(1, std::uint64_t{count} * job_.pieceLimitPercent / 100);
    const std::int32_t shiftRadius = causal ? kShiftRadius : kCorrectionShiftRadius;

    // The neighbours around a pixel: where they are, and which source would
    // continue each of them at the pixel.
    const std::vector<Offset> reach = NeighbourOffsets(kPieceReach, causal);
    struct Around {
        std::uint32_t pixel;
        std::uint32_t continuation;  // ordinal, or kNone
        std::uint32_t source;        // the neighbour's own ordinal
        Offset offset;
    };
    std::vector<Around> around(reach.size());
    // current, shifts, parent, own set, the sets of 8 neighbours, random ones
    candidates_.resize(2 + reach.size() + k_ * 9 + job_.randomCandidates);
    // At most half full, so that a probe ends soon.
    std::uint32_t proposedBits = 6;
    while ((1u << proposedBits) < 2 * candidates_.size()) {
        ++proposedBits;
    }
    const std::uint32_t proposedSlots = 1u << proposedBits;
    std::vector<std::uint32_t> proposed(proposedSlots);
    std::vector<std::uint32_t> roots(reach.size());

    // A correction pass starts half way down and across and wraps round, so
    // that the last rows and columns are corrected just before the first
    // ones: the wrap-around edges are met like any other pair of neighbours.
    for (std::uint32_t spanIndex = 0; spanIndex < spans.size(); ++spanIndex) {
        const Span& span = spans[spanIndex];
        const std::uint32_t y = span.y;
        for (std::uint32_t column = 0; column < span.columns; ++column) {
            const std::uint32_t x = (span.firstColumn + column) % width;
            query.Gather(x, y, queryRow.data());
            const auto here = static_cast<std::uint32_t>(std::size_t{y} * width + x);
            const SourcePosition current = map_.positions[here];
            const std::uint32_t currentOrdinal = OrdinalAt(current.x, current.y);
            --usage_[currentOrdinal];
            const std::uint32_t hereRoot = PieceRoot(here);

            // In the causal pass only the neighbours synthesised already count.
            std::uint32_t aroundCount = 0;
            for (const Offset& o : reach) {
                const std::uint32_t nx = WrapNear(std::int64_t{x} + o.dx, width);
                const std::uint32_t ny = WrapNear(std::int64_t{y} + o.dy, height);
                if ((causal && (ny > y || (ny == y && nx >= x))) || (nx == x && ny == y)) {
                    continue;
                }
                Around& a = around[aroundCount++];
                a.pixel = ny * width + nx;
                a.offset = o;
                const SourcePosition& s = map_.positions[a.pixel];
                a.source = OrdinalAt(s.x, s.y);
                a.continuation = OrdinalAt(std::int64_t{s.x} - o.dx, std::int64_t{s.y} - o.dy);
            }
            // The continuations as a bit mask over a hash of the ordinal: a
            // candidate whose bit is clear continues none of the neighbours,
            // and its piece is the pixel alone.
            std::uint64_t continuing = 0;
            for (std::uint32_t i = 0; i < aroundCount; ++i) {
                if (around[i].continuation != kNone) {
                    continuing |= std::uint64_t{1}
                                  << ((around[i].continuation * 2654435761u) >> 26);
                }
            }
            // How large the piece becomes that the pixel joins with source v.
            auto pieceWith = [&](std::uint32_t v) {
                std::uint64_t size = 1;
                if ((continuing >> ((v * 2654435761u) >> 26) & 1u) == 0) {
                    return size;
                }
                std::uint32_t rootCount = 0;
                for (std::uint32_t i = 0; i < aroundCount; ++i) {
                    if (around[i].continuation != v) {
                        continue;
                    }
                    const std::uint32_t root = PieceRoot(around[i].pixel);
                    if (std::find(roots.begin(), roots.begin() + rootCount, root) !=
                        roots.begin() + rootCount) {
                        continue;
                    }
                    roots[rootCount++] = root;
                    size += pieceSize_[root] - (root == hereRoot ? 1u : 0u);
                }
                return size;
            };
            const std::uint64_t perUse =
                chosenCount == 0
                    ? 0
                    : SaturatingProduct(SaturatingProduct(chosenSum / chosenCount, weight), count) /
                          (levelPixels * 16);

            std::uint32_t best = kNone;
            std::uint32_t bestScore = kNone;
            std::uint32_t bestDistance = kNone;
            // Candidates are collected first, their rows fetched together,
            // then compared in the order they were proposed.
            std::uint32_t candidateCount = 0;
            // A few tens at most: a small open-addressed set tells those
            // proposed already, where a table over the whole sample would
            // miss the cache.
            std::fill(proposed.begin(), proposed.end(), kNone);
            auto propose = [&](std::uint32_t v) {
                if (v == kNone) {
                    return;
                }
                std::uint32_t slot = (v * 2654435761u) >> (32 - proposedBits);
                while (proposed[slot] != kNone) {
                    if (proposed[slot] == v) {
                        return;
                    }
                    slot = (slot + 1) & (proposedSlots - 1);
                }
                proposed[slot] = v;
                candidates_[candidateCount++] = v;
            };
            // A candidate that matches its neighbourhood exactly pays no
            // penalty: a sample that tiles is continued without a fault. Only
            // the pixel's own source and the continuations of its neighbours
            // (the first ones proposed) are looked at for that, as only they
            // are likely to match exactly.
            std::uint32_t continuations = 0;
            auto consider = [&](std::uint32_t i) {
                const std::uint32_t v = candidates_[i];
                if (bestScore == 0 || pieceWith(v) > pieceLimit) {
                    return;
                }
                const std::uint64_t penalty64 = SaturatingProduct(perUse, usage_[v]);
                if (penalty64 >= bestScore && i >= continuations) {
                    return;
                }
                const std::uint32_t bound =
                    penalty64 >= bestScore ? 1 : bestScore - static_cast<std::uint32_t>(penalty64);
                const std::uint32_t d = kernel_(queryRow.data(), Row(v), stride_, bound);
                const std::uint32_t score = d == 0 ? 0 : d + static_cast<std::uint32_t>(penalty64);
                if (d < bound && score < bestScore) {
                    best = v;
                    bestScore = score;
                    bestDistance = d;
                }
            };

            propose(currentOrdinal);
            for (std::uint32_t i = 0; i < aroundCount; ++i) {
                const Offset& o = around[i].offset;
                if (std::max(std::abs(o.dx), std::abs(o.dy)) <= shiftRadius) {
                    propose(around[i].continuation);
                }
            }
            continuations = candidateCount;
            if (parent_ != nullptr && parent_->width > 0 && parent_->height > 0) {
                const SourcePosition& up =
                    parent_->At(x / 2 % parent_->width, y / 2 % parent_->height);
                propose(OrdinalAt(std::int64_t{up.x} * 2 + (x & 1u),
                                  std::int64_t{up.y} * 2 + (y & 1u)));
            }
            const std::uint32_t* own = similar_.data() + std::size_t{currentOrdinal} * k_;
            for (std::uint32_t i = 0; i < k_; ++i) {
                propose(own[i]);
            }
            for (std::uint32_t i = 0; i < aroundCount; ++i) {
                const Offset& o = around[i].offset;
                // The causal pass asks the four neighbours before the pixel;
                // a correction also those right of and below it, and the
                // second ones straight out.
                const bool near = causal ? std::max(std::abs(o.dx), std::abs(o.dy)) <= 1
                                         : std::abs(o.dx) + std::abs(o.dy) <= 2;
                if (!near || around[i].source == kNone) {
                    continue;
                }
                const std::uint32_t* set = similar_.data() + std::size_t{around[i].source} * k_;
                for (std::uint32_t j = 0; j < k_; ++j) {
                    if (set[j] != kNone) {
                        const SourcePosition w = PositionOf(set[j]);
                        propose(OrdinalAt(std::int64_t{w.x} - o.dx, std::int64_t{w.y} - o.dy));
                    }
                }
            }
            for (std::uint32_t i = 0; i < job_.randomCandidates; ++i) {
                propose(Draw(job_.random, count));
            }

            for (std::uint32_t i = 0; i < candidateCount; ++i) {
                __builtin_prefetch(&usage_[candidates_[i]]);
                const std::uint8_t* row = Row(candidates_[i]);
                for (std::uint32_t line = 0; line < stride_; line += 2 * PointSet::kRowAlignment) {
                    __builtin_prefetch(row + line);
                }
            }
            for (std::uint32_t i = 0; i < candidateCount; ++i) {
                consider(i);
            }

            if (best == kNone) {
                best = currentOrdinal;
            } else {
                chosenSum += bestDistance;
                ++chosenCount;
            }
            if (best != currentOrdinal || causal) {
                // The pixel leaves its piece (as far as a union-find can
                // tell: the piece only shrinks) and joins its new neighbours.
                if (!causal) {
                    --pieceSize_[hereRoot];
                    pieceParent_[here] = here;
                    pieceSize_[here] = 1;
                }
                for (std::uint32_t i = 0; i < aroundCount; ++i) {
                    if (around[i].continuation == best) {
                        JoinPieces(here, around[i].pixel);
                    }
                }
            }
            Place(x, y, best);
            ++usage_[best];
            if (Aborted()) {
                return false;
            }
        }
        ReportRow(y, stepBase + spanIndex + 1, steps);
    }
    meanPerKilobyte_ = SaturatingProduct(chosenSum / chosenCount, 1024) / std::max(bytes, 1u);
    return true;
}

bool CoherentLevel::Run() {
    levelStart_ = job_.pixelsDone;
    {
        ProgressInfo info;
        info.status = status::kBuildingDataCloud;
        info.context = job_.callbackContext;
        info.stepDone = 0;
        info.stepTotal = static_cast<std::int32_t>(kSimilarSweeps);
        job_.Report(info);
    }
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
    if (!GatherSampleRows(std::min(side_, kSimilarSide), 1, false) || !BuildSimilarSets()) {
        return false;
    }
    const std::vector<Span> whole = WholeLevel();
    const std::vector<Span> band = EdgeBand();
    const std::uint32_t passCount = 1 + job_.correctionPasses;
    const auto steps =
        static_cast<std::uint32_t>(passCount * whole.size() + kBandPasses * band.size());
    {
        ProgressInfo info;
        info.status = status::kSynthesizing;
        info.context = job_.callbackContext;
        info.stepDone = 0;
        info.stepTotal = static_cast<std::int32_t>(steps);
        info.overallDone = job_.pixelsDone;
        info.overallTotal = job_.pixelsTotal;
        job_.Report(info);
    }
    Initialise();
    // The first pass is causal but for its last rows: those meet the first
    // rows below them, already synthesised, and are matched with whole windows
    // so that the join is made as the rest is, not left for a correction to
    // mend (a pass that changes one pixel at a time cannot undo a seam).
    const std::uint32_t lastRows = std::min<std::uint32_t>(
        kClosingRows * static_cast<std::uint32_t>(side_) / 2, output_.height / 2);
    const std::vector<Span> opening(whole.begin(), whole.end() - lastRows);
    const std::vector<Span> closing(whole.end() - lastRows, whole.end());
    if (!RunPass(true, opening, 0, steps) ||
        !RunPass(false, closing, static_cast<std::uint32_t>(opening.size()), steps)) {
        return false;
    }
    for (std::uint32_t pass = 1; pass < passCount; ++pass) {
        if (!RunPass(false, whole, static_cast<std::uint32_t>(pass * whole.size()), steps)) {
            return false;
        }
    }
    // Last, the edges once more, now that both sides of them are corrected.
    for (std::uint32_t i = 0; i < kBandPasses; ++i) {
        if (!RunPass(false, band,
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
        Wide bytes = 4 * samples[level] + 8 * sets[level] + 16 * pixels[level];
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
    // The candidates of one pixel and their bookkeeping: kilobytes.
    const Wide perPixel =
        4 * 6 * (2 + 24 + 9 * Wide{settings.coherenceSetSize} + settings.randomCandidates) +
        64 * 1024;
    const Wide total = rowsBytes + peak + sizeTables + perPixel;
    return total > std::numeric_limits<std::uint64_t>::max()
               ? std::numeric_limits<std::uint64_t>::max()
               : static_cast<std::uint64_t>(total);
}

}  // namespace weftloom
