#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/coherent/common.h"
#include "engine/image_pyramid.h"
#include "search/point_set.h"

namespace weftloom::coherent {

// Whether the run was asked to stop; polled between units of work.
using StopCheck = std::function<bool()>;

// The window a level's passes compare over: the coarsest level's is 3
// pixels wide, over that level alone (it has no parent); every other
// level's has the chosen side, over the level and its parent.
inline std::int32_t LevelSide(std::int32_t chosenSide, bool coarsest) {
    return coarsest ? 3 : chosenSide;
}
inline std::uint32_t LevelLevels(bool coarsest) {
    return coarsest ? 1 : 2;
}

// Bytes a row of `bytes` feature bytes takes: whole 64-byte blocks, at least one.
inline std::uint32_t RowStrideFor(std::uint32_t bytes) {
    return std::max(PointSet::kRowAlignment, (bytes + PointSet::kRowAlignment - 1) /
                                                 PointSet::kRowAlignment * PointSet::kRowAlignment);
}

// The block that holds a level's table of sample windows, one for the whole
// run: it is made at the size the largest level needs before the coarsest
// starts, and every level reuses it, so that fresh memory (which the system
// clears page by page on first touch) is touched once, not per level. Left
// uninitialised: the gathers write every byte before it is read.
class RowBlock {
  public:
    RowBlock() = default;
    RowBlock(const RowBlock&) = delete;
    RowBlock& operator=(const RowBlock&) = delete;
    ~RowBlock() { Release(); }

    // Room for at least bytes; throws std::bad_alloc when there is none.
    void Reserve(std::size_t bytes);
    std::uint8_t* Data() const { return data_; }

  private:
    void Release();
    std::uint8_t* data_ = nullptr;
    std::size_t bytes_ = 0;
};

// The table of sample windows of one level: per sample position (by
// ordinal) a row of Stride() bytes holding its whole window over the
// sample pyramid, causal half first (NeighbourhoodGatherer's causalFirst),
// so that a causal pass compares a prefix of each row; zeros pad the rest.
// Windows reaching past the sample's edges are reflected back into it: a
// wrapped window would make the opposite edge a perfect continuation, and
// the output would repeat the sample. Gathered on the level's thread with
// the pool's help; read by any thread once gathered.
class SampleWindows {
  public:
    explicit SampleWindows(RowBlock& block) : block_(block) {}

    // Gathers the windows of side (odd) over `levels` pyramid levels (of 4
    // channels or 3) for every position of grid, at level `level` of pyramid, into the block
    // (whose room it makes); nothing to do when it holds these windows
    // already. Spread over the calling thread and `helpers` of the pool: each
    // row is written by one of them, whatever the split. False when stop
    // says so or a window cannot be gathered; the table is then empty.
    bool Gather(const ImagePyramid& pyramid, std::uint32_t level, const SampleGrid& grid,
                std::int32_t side, std::uint32_t levels, bool fourChannels, std::uint32_t helpers,
                const StopCheck& stop);

    const std::uint8_t* Row(std::uint32_t ordinal) const {
        return block_.Data() + std::size_t{ordinal} * stride_;
    }
    std::uint32_t Stride() const { return stride_; }
    // The window's bytes at the start of each row.
    std::uint32_t Bytes() const { return bytes_; }

  private:
    RowBlock& block_;
    std::uint32_t stride_ = 0;
    std::uint32_t bytes_ = 0;
    // The windows held: side and levels; side 0: none yet.
    std::int32_t side_ = 0;
    std::uint32_t levels_ = 0;
};

}  // namespace weftloom::coherent
