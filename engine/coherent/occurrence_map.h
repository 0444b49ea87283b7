#pragma once

#include <cstdint>
#include <vector>

#include "engine/coherent/common.h"
#include "engine/coherent/overlay.h"

namespace weftloom::coherent {

// The occurrence map of one level: how many output pixels copy each sample
// position (by ordinal). A candidate pays a penalty that grows with it, so
// that a sample that is not perfectly stationary is not reduced to the part
// that matches itself best. Changed in place between a pass's steps, or
// through a chunk's overlay while other chunks read it.
class OccurrenceMap {
  public:
    // positions sample positions, none used.
    void Reset(std::uint32_t positions) {
        uses_.assign(positions, 0);
        total_ = 0;
    }
    // One more pixel copies v: in place, or in chunk's overlay (which
    // leaves Total to the commit that adds it in place).
    void Add(std::uint32_t v) {
        ++uses_[v];
        ++total_;
    }
    void Add(Overlay& chunk, std::uint32_t v) const { chunk.Set(v, chunk.Get(uses_, v) + 1); }
    // The pixels counted.
    std::uint64_t Total() const { return total_; }
    // v's uses as a chunk sees them: the array with chunk's changes over it.
    std::uint32_t Uses(const Overlay& chunk, std::uint32_t v) const { return chunk.Get(uses_, v); }
    // A pixel's source changes from previous to next: in place, or in
    // chunk's overlay.
    void Move(std::uint32_t previous, std::uint32_t next) {
        --uses_[previous];
        ++uses_[next];
    }
    void Move(Overlay& chunk, std::uint32_t previous, std::uint32_t next) const {
        chunk.Set(previous, chunk.Get(uses_, previous) - 1);
        chunk.Set(next, chunk.Get(uses_, next) + 1);
    }
    void Prefetch(std::uint32_t v) const { __builtin_prefetch(&uses_[v]); }

  private:
    std::vector<std::uint32_t> uses_;
    std::uint64_t total_ = 0;
};

// The scale of the penalty per use: the mean distance chosen so far in a
// pass (a candidate that matches exactly pays none).
struct PenaltyScale {
    std::uint64_t chosenSum = 0;
    std::uint64_t chosenCount = 0;

    // The mean distance chosen, from `count` choices of `mean` each.
    void Prime(std::uint64_t mean, std::uint32_t count) {
        chosenSum = SaturatingProduct(mean, count);
        chosenCount = count;
    }
    std::uint64_t Mean() const { return chosenCount == 0 ? 0 : chosenSum / chosenCount; }
    void Add(std::uint32_t distance) {
        chosenSum += distance;
        ++chosenCount;
    }
    // The penalty per use: weight/16 of the mean distance chosen, per use
    // over the use each of `positions` sample positions would have if
    // `pixels` pixels (those counted) used all alike.
    std::uint64_t PerUse(std::uint32_t weight, std::uint32_t positions,
                         std::uint64_t pixels) const {
        return chosenCount == 0
                   ? 0
                   : SaturatingProduct(SaturatingProduct(chosenSum / chosenCount, weight),
                                       positions) /
                         (pixels * 16);
    }
};

}  // namespace weftloom::coherent
