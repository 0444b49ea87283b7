#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/coherent/common.h"
#include "engine/coherent/sample_windows.h"
#include "search/distance_kernels.h"
#include "search/random_generator.h"

namespace weftloom::coherent {

// The k-coherence sets of one sample level: per sample position (by
// ordinal) the k positions whose windows look most like its own, nearest
// first; kNone where fewer were found. A position's own neighbours are never
// members: the shifted candidates reach them anyway. Handed to the next
// finer level, whose sets start from these.
struct SimilarSets {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t k = 0;
    std::vector<std::uint32_t> members;  // k per ordinal

    const std::uint32_t* Of(std::uint32_t v) const { return members.data() + std::size_t{v} * k; }
};

// Builds a level's k-coherence sets with the randomised propagation of
// PatchMatch: the coarsest level starts from random positions, a finer one
// from its parent's sets, upsampled; each sweep then offers every position
// its visited neighbours' members, shifted onto it, and random positions
// around its best member at shrinking distances. The finest level keeps its
// parent's sets, upsampled, and sweeps none. Lives as long as the sets are
// in use on its level (it holds their distances). One level's thread drives
// it; Build spreads the work over the pool.
class SimilarSetSearch {
  public:
    // For the level of grid's positions, building sets; parent: the next
    // coarser level's sets, or null; finest: whether it is the finest level.
    SimilarSetSearch(SimilarSets& sets, const SimilarSets* parent, bool finest,
                     const SampleGrid& grid)
        : sets_(sets), parent_(parent), finest_(finest), grid_(grid) {}

    // Whether the sets start from the parent's.
    bool Inherited() const {
        return parent_ != nullptr && parent_->k > 0 && parent_->width > 0 && parent_->height > 0;
    }
    // Whether the sets are the parent's, upsampled, and nothing more: Build
    // then compares no windows.
    bool Upsampled() const { return finest_ && Inherited(); }
    // The sweeps Build runs.
    std::uint32_t Sweeps() const;

    // Builds sets of up to setSize members, comparing the first `compared`
    // bytes of windows' rows with kernel. Draws one seed from random when
    // any set may have a member; the sample is cut into bands of rows, each
    // with a generator of its own seeded from it, so that the sets are the
    // same for any number of threads (the calling one and `helpers` of the
    // pool). report(s) is called before sweep s. False when stop says so.
    bool Build(std::uint32_t setSize, const SampleWindows& windows, DistanceKernel kernel,
               std::uint32_t compared, RandomGenerator& random, std::uint32_t helpers,
               const StopCheck& stop, const std::function<void(std::uint32_t sweep)>& report);

  private:
    // Whether w may not be in v's set: none, v itself, or one of v's own
    // neighbours.
    bool Excluded(std::uint32_t v, std::uint32_t w) const;
    // Puts w into v's set by its distance; false when it is not taken.
    bool Insert(std::uint32_t v, std::uint32_t w);
    // Puts w into v's set after those there, if there is room.
    void Append(std::uint32_t v, std::uint32_t w);
    void StartBand(std::uint32_t band, RandomGenerator& random);
    void SweepBand(std::uint32_t band, std::uint32_t sweep, RandomGenerator& random);

    SimilarSets& sets_;
    const SimilarSets* parent_;
    bool finest_;
    SampleGrid grid_;
    const SampleWindows* windows_ = nullptr;
    DistanceKernel kernel_ = nullptr;
    std::uint32_t compared_ = 0;
    std::uint32_t k_ = 0;
    std::vector<std::uint32_t> distance_;  // per member
};

}  // namespace weftloom::coherent
