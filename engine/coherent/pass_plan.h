#pragma once

#include <cstdint>
#include <vector>

namespace weftloom::coherent {

// A run of pixels along one output row: from a column on, for a number of
// columns (at most the row's width), wrapping round at the right edge.
struct Span {
    std::uint32_t y;
    std::uint32_t firstColumn;
    std::uint32_t columns;
};

// Pixels of one span a thread takes at once.
constexpr std::uint32_t kChunkPixels = 16;

// A wavefront plan: a pass over spans cut into chunks (at most kChunkPixels
// pixels of one span), in pass order, and the step each chunk runs in. A
// chunk runs a step after every earlier chunk whose pixels it reads or whose
// reads its pixels would change: all that a pixel sees of the output is then
// what it would see if the pass ran one pixel after the other, while the
// chunks of one step, which touch nothing of each other's, run at once. The
// steps follow from the spans alone, never from the thread count.
struct PassPlan {
    struct Chunk {
        std::uint32_t span;
        std::uint32_t first;       // the span's column it starts at
        std::uint32_t count;       // pixels
        std::uint32_t firstPixel;  // the pass's number of its first pixel
    };
    std::vector<Chunk> chunks;
    std::vector<std::uint32_t> byStep;     // chunk numbers, step after step, in pass order
    std::vector<std::uint32_t> stepStart;  // where each step starts in byStep, and the end
    std::uint32_t pixels = 0;
    std::uint32_t widestStep = 0;  // the most chunks of one step

    std::uint32_t StepCount() const { return static_cast<std::uint32_t>(stepStart.size() - 1); }
};

// The plan of a pass over spans of a width x height level whose pixels read
// the output within reach (rows and columns, wrapping round) of themselves
// and write only themselves.
PassPlan PlanPass(const std::vector<Span>& spans, std::uint32_t width, std::uint32_t height,
                  std::uint32_t reach);

// The plan of the first `spans` spans of plan's: a chunk's step follows
// from the chunks before it alone, so their steps are those plan gave them.
PassPlan PlanPrefix(const PassPlan& plan, std::uint32_t spans);

// Every row of a width x height level, top to bottom, each starting one
// chunk right of the row above.
std::vector<Span> WholeLevel(std::uint32_t width, std::uint32_t height);

// The rows and columns within `side` of a width x height level's
// wrap-around edges: the last rows and the first ones, then the columns
// either side of the vertical edge in the rows between.
std::vector<Span> EdgeBand(std::uint32_t width, std::uint32_t height, std::uint32_t side);

}  // namespace weftloom::coherent
