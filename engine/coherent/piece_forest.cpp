#include "engine/coherent/piece_forest.h"

#include <algorithm>
#include <array>

#include "engine/coherent/common.h"
#include "search/worker_pool.h"

namespace weftloom::coherent {

namespace {

// Bands of rows the pieces are first joined in, at once.
constexpr std::uint32_t kPieceBands = 8;

}  // namespace

void PieceForest::Reset(std::size_t pixels) {
    moved = false;
    parent.resize(2 * pixels);
    size.assign(2 * pixels, 1);
    for (std::size_t i = 0; i < pixels; ++i) {
        parent[i] = static_cast<std::uint32_t>(i);
        parent[pixels + i] = kUnused;
    }
}

void PieceForest::JoinFromMap(const SourceMap& map, std::uint32_t helpers) {
    const std::uint32_t width = map.width;
    const std::uint32_t height = map.height;
    if (width == 0 || height == 0) {
        return;
    }
    // The neighbours within reach that come after a pixel in scan order,
    // nearest first: each pair of pixels once.
    const std::vector<Offset> later = LaterOffsets(kPieceReach);
    // Joined band of rows by band (kPieceBands of them, spread over the
    // threads: each band's joins stay within its own pixels), then across
    // the bands' edges, in order, on this thread. The bands follow from the
    // height alone.
    const std::uint32_t bandRows = (height + kPieceBands - 1) / kPieceBands;
    auto join = [this, &map, &later, width, height, bandRows](std::uint32_t y, bool withinBand) {
        PieceTree pieces(*this);
        const std::uint32_t bandEnd = std::min(height, (y / bandRows + 1) * bandRows);
        // The offsets this row joins over, with the rows they reach.
        struct Link {
            Offset offset;
            std::uint32_t rowStart;  // the first pixel of the row reached
        };
        std::array<Link, (2 * kPieceReach + 1) * (2 * kPieceReach + 1)> links;
        std::uint32_t linkCount = 0;
        for (const Offset& o : later) {
            const std::uint32_t ny = WrapNear(std::int64_t{y} + o.dy, height);
            if (std::int64_t{ny} != std::int64_t{y} + o.dy) {
                continue;  // no piece is joined across the wrap-around edge
            }
            if ((ny >= y && ny < bandEnd) == withinBand) {
                links[linkCount++] = {o, ny * width};
            }
        }
        const SourcePosition* sources = map.positions.data();
        for (std::uint32_t x = 0; x < width; ++x) {
            const SourcePosition& s = sources[y * width + x];
            const std::uint32_t i = y * width + x;
            for (std::uint32_t l = 0; l < linkCount; ++l) {
                const Offset& o = links[l].offset;
                // x + dx, within the row.
                const std::int64_t nx = std::int64_t{x} + o.dx;
                if (nx < 0 || nx >= width) {
                    continue;
                }
                const SourcePosition& n =
                    sources[links[l].rowStart + static_cast<std::uint32_t>(nx)];
                if (std::int64_t{n.x} == std::int64_t{s.x} + o.dx &&
                    std::int64_t{n.y} == std::int64_t{s.y} + o.dy) {
                    pieces.Join(i, links[l].rowStart + static_cast<std::uint32_t>(nx));
                }
            }
        }
    };
    WorkerPool::Shared().Run(kPieceBands, helpers, [&](std::uint32_t band) {
        for (std::uint32_t y = band * bandRows; y < std::min(height, (band + 1) * bandRows); ++y) {
            join(y, true);
        }
    });
    for (std::uint32_t band = 0; band * bandRows < height; ++band) {
        const std::uint32_t end = std::min(height, (band + 1) * bandRows);
        for (std::uint32_t y = end - std::min<std::uint32_t>(end - band * bandRows, kPieceReach);
             y < end; ++y) {
            join(y, false);
        }
    }
}

}  // namespace weftloom::coherent
