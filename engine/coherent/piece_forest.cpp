#include "engine/coherent/piece_forest.h"

#include <algorithm>

#include "engine/coherent/common.h"
#include "search/worker_pool.h"

namespace weftloom::coherent {

namespace {

// Bands of rows the pieces are first joined in, at once.
constexpr std::uint32_t kPieceBands = 8;

// One thread's room for the rows it joins.
struct RowScratch {
    std::vector<std::uint64_t> shifts;  // rows y to y + kPieceReach
    std::vector<std::uint8_t> joins;    // per pixel of row y, for one offset
};

// The shift of every pixel of row y (where its source lies from it), as one
// number: two pixels within reach of each other copy together when their
// shifts are equal. Each half is a difference taken modulo 2^32; two pixels
// within reach lie at most 2 apart, and their sources less than 2^32 - 3 (a
// sample has fewer positions than that), so no two shifts meet by wrapping.
void RowShifts(const SourceMap& map, std::uint32_t y, std::uint64_t* out) {
    const SourcePosition* row = map.positions.data() + std::size_t{y} * map.width;
    for (std::uint32_t x = 0; x < map.width; ++x) {
        out[x] = (std::uint64_t{row[x].x - x} << 32) | std::uint32_t{row[x].y - y};
    }
}

// Marks in joins[x], for x from `from` to `to`, whether pixel x of a row
// whose shifts are `here` must be joined to pixel x + dx of the row `below`
// rows down, whose shifts are `there`: when they copy together, unless
// other links make it already (the pieces, as sets of pixels, come out the
// same without it). A link to a row below is made when both its ends copy
// on from the pixel to their left, which the same link joins; the link two
// to the right, when the pixel between copies on from this one.
void MarkLinks(const std::uint64_t* here, const std::uint64_t* there, std::int32_t dx,
               std::uint32_t below, std::uint32_t from, std::uint32_t to, std::uint8_t* joins) {
    // x + dx as an index: taken modulo 2^32, it is x + dx itself for every
    // x from `from` on.
    const auto across = static_cast<std::uint32_t>(dx);
    if (below == 0) {
        for (std::uint32_t x = from; x < to; ++x) {
            const bool made = dx == 2 && here[x + 1] == here[x];
            joins[x] = static_cast<std::uint8_t>((here[x] == here[x + across]) & !made);
        }
        return;
    }
    // From lead on, both ends have a pixel to their left.
    const std::uint32_t lead =
        std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::max(1, 1 - dx)), from, to);
    for (std::uint32_t x = from; x < lead; ++x) {
        joins[x] = here[x] == there[x + across] ? 1 : 0;
    }
    for (std::uint32_t x = lead; x < to; ++x) {
        const bool made = (here[x - 1] == here[x]) & (there[x + across - 1] == there[x + across]);
        joins[x] = static_cast<std::uint8_t>((here[x] == there[x + across]) & !made);
    }
}

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
    // Joins row y to the rows below it within reach: those of its band, or
    // (not withinBand) those of the next bands.
    auto join = [this, &map, &later, width, height, bandRows](std::uint32_t y, bool withinBand,
                                                              RowScratch& scratch) {
        PieceTree pieces(*this);
        const std::uint32_t bandEnd = std::min(height, (y / bandRows + 1) * bandRows);
        scratch.shifts.resize(std::size_t{kPieceReach + 1} * width);
        scratch.joins.resize(width);
        std::uint64_t* shifts = scratch.shifts.data();
        std::uint8_t* joins = scratch.joins.data();
        std::uint32_t shiftRows = 0;  // rows y, y + 1... whose shifts are in scratch
        const std::uint64_t* here = shifts;
        for (const Offset& o : later) {
            const std::uint32_t ny = WrapNear(std::int64_t{y} + o.dy, height);
            if (std::int64_t{ny} != std::int64_t{y} + o.dy) {
                continue;  // no piece is joined across the wrap-around edge
            }
            if ((ny >= y && ny < bandEnd) != withinBand) {
                continue;
            }
            const auto dy = static_cast<std::uint32_t>(o.dy);
            for (; shiftRows <= dy; ++shiftRows) {
                RowShifts(map, y + shiftRows, shifts + std::size_t{shiftRows} * width);
            }
            const std::uint64_t* there = shifts + std::size_t{dy} * width;
            // The pixels x whose neighbour x + dx lies within the row.
            const std::int64_t first = std::max(0, -o.dx);
            const std::int64_t end = std::min<std::int64_t>(width, std::int64_t{width} - o.dx);
            if (first >= end) {
                continue;
            }
            const auto from = static_cast<std::uint32_t>(first);
            const auto to = static_cast<std::uint32_t>(end);
            MarkLinks(here, there, o.dx, dy, from, to, joins);
            const std::uint32_t row = y * width;
            const std::uint32_t reached = ny * width;
            for (std::uint32_t x = from; x < to; ++x) {
                if (joins[x] != 0) {
                    pieces.Join(row + x, reached + x + static_cast<std::uint32_t>(o.dx));
                }
            }
        }
    };
    WorkerPool::Shared().Run(kPieceBands, helpers, [&](std::uint32_t band) {
        RowScratch scratch;
        for (std::uint32_t y = band * bandRows; y < std::min(height, (band + 1) * bandRows); ++y) {
            join(y, true, scratch);
        }
    });
    RowScratch scratch;
    for (std::uint32_t band = 0; band * bandRows < height; ++band) {
        const std::uint32_t end = std::min(height, (band + 1) * bandRows);
        for (std::uint32_t y = end - std::min<std::uint32_t>(end - band * bandRows, kPieceReach);
             y < end; ++y) {
            join(y, false, scratch);
        }
    }
}

}  // namespace weftloom::coherent
