#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/image.h"

namespace weftloom {

// A stack of images: level 0 a copy of the source, every further level a
// half-size low-pass reduction of the one below, the image treated as a torus.
// Built in full on construction and never resized; the synthesis writes its
// pixels into the levels in place. Owned and used by one thread.
class ImagePyramid {
  public:
    static constexpr std::uint32_t kReductionDivisor = 20;

    // Builds levelCount levels from source. A source with a zero side, an
    // unsupported pixel size, a failed allocation or abort (when given: read
    // once per row, it may be set from any thread) gives a pyramid that is not
    // Complete(); its levels must not be used. progress, when given, hears of
    // every row cleared, copied or reduced, of all levels together.
    ImagePyramid(const Image& source, std::uint32_t levelCount,
                 const std::atomic<bool>* abort = nullptr, const RowProgress& progress = {});

    bool Complete() const { return complete_; }
    std::uint32_t LevelCount() const { return static_cast<std::uint32_t>(levels_.size()); }

    // The level image for an index below LevelCount(), else null.
    Image* Level(std::uint32_t index);
    const Image* Level(std::uint32_t index) const;

    // Reads pixel (x, y) of a level into c0..c2 (and c3 when the level has four
    // bytes per pixel; otherwise c3 is left alone). With wrap, each coordinate
    // is wrapped toroidally into its range; without, a coordinate outside the
    // level fails. Fails, writing nothing, for a level index past the last.
    bool GetPixel(std::int32_t x, std::int32_t y, std::uint32_t level, std::uint8_t& c0,
                  std::uint8_t& c1, std::uint8_t& c2, std::uint8_t& c3, bool wrap) const;

    // Wraps a coordinate into 0..size-1 (size at least 1).
    static std::uint32_t Wrap(std::int64_t value, std::uint32_t size);

  private:
    std::vector<Image> levels_;
    bool complete_ = false;
};

// Size of the level above one of the given size: half, rounded down; 1 stays 1.
constexpr std::uint32_t ReducedSize(std::uint32_t size) {
    return size >= 2 ? size / 2 : size;
}

// The rows a build of levelCount levels from a source of the given height
// tells its progress of: every level's rows are cleared, then filled.
std::uint32_t PyramidBuildRows(std::uint32_t height, std::uint32_t levelCount);

// Writes into target (allocated to ReducedSize of each side) the 4 x 4 weighted
// reduction of finer, wrapping toroidally. Returns false when the allocation
// fails or abort (when given) is set. progress hears of the target's rows,
// first as they are cleared, then as they are reduced (twice its height).
bool ReduceLevel(const Image& finer, Image& target, const std::atomic<bool>* abort = nullptr,
                 const RowProgress& progress = {});

// Whether an optional abort flag is set.
inline bool AbortSet(const std::atomic<bool>* abort) {
    return abort != nullptr && abort->load(std::memory_order_relaxed);
}

}  // namespace weftloom
