#pragma once

#include <cstdint>
#include <vector>

#include "engine/image_pyramid.h"
#include "search/feature_vector.h"

namespace weftloom {

// The window side a level pass really uses: an even side is raised to the next
// odd one, so that the window has a centre.
constexpr std::int32_t OddWindowSide(std::int32_t side) {
    return side % 2 == 0 ? side + 1 : side;
}

// Number of pixels in the neighbourhood of side n (made odd first) over
// `levels` pyramid levels: the causal window at the pixel's own level, then a
// full square at each coarser level, its side shrinking by 2 while above 2.
// Zero for a negative side, which no caller may pass.
std::uint32_t NeighbourhoodPixelCount(std::int32_t side, std::uint32_t levels);

// The same count when the own level's window is the whole square, centre
// included, as a non-causal NeighbourhoodGatherer gathers it.
std::uint32_t FullNeighbourhoodPixelCount(std::int32_t side, std::uint32_t levels);

// Appends to vector the neighbourhood of pixel (x, y) at pyramid level `level`:
// the rows above (each of side pixels), the pixels to the left in the own row,
// then for each coarser level the full window around the parent pixel; pixel
// after pixel, channels 0, 1, 2 (and 3 when fourChannels). The pixel itself is
// never part of it. With wrap, coordinates wrap toroidally; without, the first
// pixel outside its level makes it return false, leaving the elements appended
// so far for the caller to discard. Never clears vector.
bool BuildNeighbourhood(const ImagePyramid& pyramid, std::uint32_t level, std::int32_t side,
                        std::uint32_t levels, std::int32_t x, std::int32_t y, FeatureVector& vector,
                        bool fourChannels, bool wrap);

// The neighbourhoods of one level pass as bytes, in BuildNeighbourhood's
// element order and with its rules, gathered from row pointers: a window row
// that lies inside its level is one copy, and wrapped coordinates come from
// tables made once per pass. Reads the pyramid, which must outlive it and may
// change between calls (the output is written as the pass goes).
//
// How a NeighbourhoodGatherer's window may depart from BuildNeighbourhood's.
struct WindowShape {
    // The own level's window: the causal half, or (false) the whole square
    // with the pixel itself, as a correction pass compares once every pixel
    // has a value. The coarser levels' windows are the same either way.
    bool causal = true;
    // Every coordinate is halved on the way to a coarser level, 1 included,
    // so that the coarser windows centre on the pixel's true parents.
    bool plainParents = false;
    // With wrap, coordinates past an edge are reflected back into the level
    // (-1 reads 0, -2 reads 1, width reads width - 1) instead of wrapping
    // round: for a sample that is no tile, whose opposite edges do not meet.
    bool mirror = false;
    // A whole window laid out with the causal half first, then the coarser
    // levels, then the rest of the own level: its first bytes are the causal
    // window's, and one table of whole windows serves causal passes too.
    bool causalFirst = false;
};

class NeighbourhoodGatherer {
  public:
    // side as the pass uses it (already odd); fourChannels and wrap as for
    // BuildNeighbourhood.
    NeighbourhoodGatherer(const ImagePyramid& pyramid, std::uint32_t level, std::int32_t side,
                          std::uint32_t levels, bool fourChannels, bool wrap,
                          WindowShape shape = {});

    // Bytes of one neighbourhood: NeighbourhoodPixelCount (or, not
    // shape.causal, FullNeighbourhoodPixelCount) times 3 or 4.
    std::uint32_t ByteCount() const { return byteCount_; }

    // Whether the whole neighbourhood of (x, y) lies in the pyramid (always,
    // with wrap, unless a level is missing).
    bool Inside(std::uint32_t x, std::uint32_t y) const;

    // Writes the ByteCount() bytes of the neighbourhood of (x, y) into out;
    // false, with out undefined, when it is not Inside.
    bool Gather(std::uint32_t x, std::uint32_t y, std::uint8_t* out) const;

  private:
    // One rectangle of the window: rows dy from rowFrom to rowTo around the
    // (parent) pixel, each of `count` pixels from column offset colFrom.
    struct Part {
        const Image* image;
        std::uint32_t halvings;  // how often the pixel's coordinates are halved
        std::int64_t rowFrom;
        std::int64_t rowTo;
        std::int64_t colFrom;
        std::int64_t count;
        // With wrap: byte offset of the wrapped (or reflected) row / column for coordinate
        // c + dy (or dx), indexed c + dy - lowest.
        std::vector<std::size_t> rowOffsets;
        std::vector<std::size_t> colOffsets;
        std::int64_t rowBase;
        std::int64_t colBase;
    };
    bool PartInside(const Part& part, std::int64_t px, std::int64_t py) const;

    std::vector<Part> parts_;
    std::uint32_t byteCount_ = 0;
    std::uint32_t channels_;
    bool wrap_;
    bool plainParents_;
    bool missing_ = false;
};

// Whether at least one pixel of `level` has its whole neighbourhood of side
// `side` (raised to odd, as a level pass does) over `levels` levels inside the
// pyramid, that is whether a level pass's cloud would hold any point.
bool HasCompleteNeighbourhood(const ImagePyramid& pyramid, std::uint32_t level, std::int32_t side,
                              std::uint32_t levels);

}  // namespace weftloom
