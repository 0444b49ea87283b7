#include "engine/coherent/similar_sets.h"

#include <algorithm>
#include <atomic>

#include "search/worker_pool.h"

namespace weftloom::coherent {

namespace {

// Sweeps over the coarsest sample level, and over a finer one that starts
// from its parent's sets; how far (in pixels) the latter looks around at
// random. The finest level takes its parent's sets as they are, upsampled:
// refining them there (a random position each, a sweep) took a sixth of a
// run and bettered the measured quality only slightly.
constexpr std::uint32_t kSimilarSweeps = 2;
constexpr std::uint32_t kInheritedSimilarSweeps = 1;
constexpr std::uint32_t kInheritedSimilarReach = 4;
// Sample rows per band, the unit the search is spread over threads in.
constexpr std::uint32_t kSimilarBand = 16;
// Positions this close (in both directions) to a sample position are not
// kept in its set: they are its own neighbours.
constexpr std::int64_t kSimilarExclusion = 2;

}  // namespace

std::uint32_t SimilarSetSearch::Sweeps() const {
    return !Inherited() ? kSimilarSweeps : Upsampled() ? 0 : kInheritedSimilarSweeps;
}

bool SimilarSetSearch::Excluded(std::uint32_t v, std::uint32_t w) const {
    if (w == kNone || w == v) {
        return true;
    }
    const SourcePosition a = grid_.PositionOf(v);
    const SourcePosition b = grid_.PositionOf(w);
    return std::abs(std::int64_t{a.x} - b.x) <= kSimilarExclusion &&
           std::abs(std::int64_t{a.y} - b.y) <= kSimilarExclusion;
}

void SimilarSetSearch::Append(std::uint32_t v, std::uint32_t w) {
    if (Excluded(v, w)) {
        return;
    }
    std::uint32_t* set = sets_.members.data() + std::size_t{v} * k_;
    for (std::uint32_t i = 0; i < k_ && set[i] != w; ++i) {
        if (set[i] == kNone) {
            set[i] = w;
            return;
        }
    }
}

bool SimilarSetSearch::Insert(std::uint32_t v, std::uint32_t w) {
    if (Excluded(v, w)) {
        return false;
    }
    std::uint32_t* set = sets_.members.data() + std::size_t{v} * k_;
    std::uint32_t* distance = distance_.data() + std::size_t{v} * k_;
    for (std::uint32_t i = 0; i < k_; ++i) {
        if (set[i] == w) {
            return false;
        }
    }
    const std::uint32_t worst = distance[k_ - 1];
    const std::uint32_t d = kernel_(windows_->Row(v), windows_->Row(w), compared_, worst);
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

bool SimilarSetSearch::Build(std::uint32_t setSize, const SampleWindows& windows,
                             DistanceKernel kernel, std::uint32_t compared, RandomGenerator& random,
                             std::uint32_t helpers, const StopCheck& stop,
                             const std::function<void(std::uint32_t sweep)>& report) {
    windows_ = &windows;
    kernel_ = kernel;
    compared_ = compared;
    const std::uint32_t count = grid_.Count();
    k_ = std::min(setSize, count > 1 ? count - 1 : 0u);
    sets_.width = grid_.Width();
    sets_.height = grid_.Height();
    sets_.k = k_;
    sets_.members.assign(std::size_t{count} * k_, kNone);
    distance_.assign(std::size_t{count} * k_, kNone);
    if (k_ == 0) {
        return true;
    }
    // A band's propagation reads the row next to it in the neighbouring
    // band, so the even bands go first, then the odd ones: what every band
    // reads is the same whatever the split.
    const std::uint32_t seed = random.Next() << 15 | random.Next();
    const std::uint32_t bands = (grid_.Height() + kSimilarBand - 1) / kSimilarBand;
    const std::uint32_t sweeps = Sweeps();
    std::atomic<bool> failed{false};
    for (std::uint32_t stage = 0; stage <= sweeps; ++stage) {
        if (stage > 0) {
            report(stage - 1);
        }
        // The starting sets depend on nothing around them: all bands at once.
        for (std::uint32_t parity = 0; parity < (stage == 0 ? 1u : 2u); ++parity) {
            const std::uint32_t chunks = stage == 0 ? bands : (bands + 1 - parity) / 2;
            WorkerPool::Shared().Run(chunks, helpers, [&, stage, parity](std::uint32_t chunk) {
                const std::uint32_t band = stage == 0 ? chunk : 2 * chunk + parity;
                if (failed.load(std::memory_order_relaxed) || stop()) {
                    failed.store(true, std::memory_order_relaxed);
                    return;
                }
                RandomGenerator bandRandom(BandSeed(seed, stage, band));
                if (stage == 0) {
                    StartBand(band, bandRandom);
                } else {
                    SweepBand(band, stage - 1, bandRandom);
                }
            });
            if (failed.load()) {
                return false;
            }
        }
    }
    return true;
}

void SimilarSetSearch::StartBand(std::uint32_t band, RandomGenerator& random) {
    const bool inherited = Inherited();
    const bool upsampled = Upsampled();
    const std::uint32_t count = grid_.Count();
    const std::uint32_t first = band * kSimilarBand * grid_.Width();
    const std::uint32_t last = std::min(count, first + kSimilarBand * grid_.Width());
    for (std::uint32_t v = first; v < last; ++v) {
        const SourcePosition p = grid_.PositionOf(v);
        if (inherited) {
            const std::size_t up =
                std::size_t{p.y / 2 % parent_->height} * parent_->width + p.x / 2 % parent_->width;
            for (std::uint32_t i = 0; i < parent_->k; ++i) {
                const std::uint32_t w = parent_->members[up * parent_->k + i];
                if (w == kNone) {
                    continue;
                }
                const std::uint32_t u =
                    grid_.OrdinalAt(std::int64_t{w % parent_->width} * 2 + (p.x & 1u),
                                    std::int64_t{w / parent_->width} * 2 + (p.y & 1u));
                if (upsampled) {
                    Append(v, u);
                } else {
                    Insert(v, u);
                }
            }
        }
        if (upsampled) {
            continue;
        }
        for (std::uint32_t i = inherited ? k_ - 1 : 0; i < k_; ++i) {
            Insert(v, Draw(random, count));
        }
    }
}

void SimilarSetSearch::SweepBand(std::uint32_t band, std::uint32_t sweep, RandomGenerator& random) {
    const std::uint32_t reach =
        Inherited() ? kInheritedSimilarReach : std::max(grid_.Width(), grid_.Height()) / 2;
    const bool forward = sweep % 2 == 0;
    const std::int32_t step = forward ? 1 : -1;
    const std::uint32_t first = band * kSimilarBand * grid_.Width();
    const std::uint32_t count =
        std::min(grid_.Count(), first + kSimilarBand * grid_.Width()) - first;
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::uint32_t v = first + (forward ? n : count - 1 - n);
        const SourcePosition p = grid_.PositionOf(v);
        // The sets of the neighbours already visited, shifted onto v.
        const Offset from[2] = {{-step, 0}, {0, -step}};
        for (const Offset& o : from) {
            const std::uint32_t u =
                grid_.OrdinalAt(std::int64_t{p.x} + o.dx, std::int64_t{p.y} + o.dy);
            if (u == kNone) {
                continue;
            }
            for (std::uint32_t i = 0; i < k_; ++i) {
                const std::uint32_t w = sets_.members[std::size_t{u} * k_ + i];
                if (w != kNone) {
                    Insert(v, grid_.Continuation(grid_.PositionOf(w), o));
                }
            }
        }
        // A random look around the best one, at shrinking distances.
        const std::uint32_t best = sets_.members[std::size_t{v} * k_];
        const SourcePosition centre = grid_.PositionOf(best == kNone ? v : best);
        for (std::uint32_t r = reach; r >= 1; r /= 2) {
            const std::int64_t dx = std::int64_t{Draw(random, 2 * r + 1)} - r;
            const std::int64_t dy = std::int64_t{Draw(random, 2 * r + 1)} - r;
            if (best != kNone) {
                Insert(v, grid_.OrdinalAt(centre.x + dx, centre.y + dy));
            }
        }
    }
}

}  // namespace weftloom::coherent
