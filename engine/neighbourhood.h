#pragma once

#include <cstdint>

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

// Whether at least one pixel of `level` has its whole neighbourhood of side
// `side` (raised to odd, as a level pass does) over `levels` levels inside the
// pyramid, that is whether a level pass's cloud would hold any point.
bool HasCompleteNeighbourhood(const ImagePyramid& pyramid, std::uint32_t level, std::int32_t side,
                              std::uint32_t levels);

}  // namespace weftloom
