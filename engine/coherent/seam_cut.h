#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/coherent_search.h"
#include "engine/image.h"

namespace weftloom::coherent {

// The seams between the finest level's pieces, laid anew where two pieces
// agree: Kwatra, Schödl, Essa, Turk and Bobick's graph-cut seams ("Graphcut
// Textures", SIGGRAPH 2003) between the pieces the search copied, with the
// shift-map's labels (Pritch, Kav-Venaki and Peleg, "Shift-Map Image
// Editing", 2009): each output pixel takes the offset of a piece, and each
// pair of side neighbours pays for how much the two pieces' copies differ
// at both. A pixel-by-pixel search ends a piece where one pixel's window
// stops matching, which leaves a straight edge through a spot or a brick;
// moved to where the two pieces agree, the edge follows the shapes.
//
// Every piece of at least kSmallestPiece pixels in turn, in the order of its
// first pixel, may grow over the pixels within kBand of it, by one
// alpha-expansion (Boykov, Veksler and Zabih, "Fast approximate energy
// minimization via graph cuts", 2001) decided by a minimum cut; a pixel that
// changes also pays the square of its change, so that the colours the search
// chose are kept where nothing is gained. A growth is kept only if the seams
// it touches cost less after it and the piece stays within the piece limit.
// The output wraps round: pixels on either side of an edge are neighbours.
// One thread; the result depends only on its inputs.
class SeamCut {
  public:
    static constexpr std::uint32_t kBand = 3;
    static constexpr std::uint32_t kSmallestPiece = 16;

    // The most pixels one growth may weigh: a piece's growth wider than
    // this is not tried.
    static std::uint64_t MaxNodes(std::uint64_t samplePixels) { return samplePixels / 8 + 512; }

    // Heap bytes Run takes at its peak for an output of outputPixels pixels
    // from a sample of samplePixels, with a piece limit of pieceLimit.
    static std::uint64_t PeakBytes(std::uint64_t outputPixels, std::uint64_t samplePixels,
                                   std::uint64_t pieceLimit);

    // Lays the seams of map (whose pixels come from sample) anew, writing
    // the output's pixels that change; no piece grows past pieceLimit
    // pixels. courseRows (courseColumns), unless empty: the sample row
    // (column) each output row (column) copies from, which a pixel keeps.
    // False when aborted() says so, between two pieces (the map and output
    // then agree, as they did).
    static bool Run(const Image& sample, SourceMap& map, Image& output, std::uint64_t pieceLimit,
                    const std::vector<std::uint32_t>& courseRows,
                    const std::vector<std::uint32_t>& courseColumns,
                    const std::function<bool()>& aborted);
};

}  // namespace weftloom::coherent
