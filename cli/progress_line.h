#pragma once

#include <cstdint>
#include <string>

namespace weftloom {

// The one-line progress display of weftloom-synth: the engine's operation, the
// operation's and the overall progress as bars with percentages, and the time
// left. Pure formatting; the caller decides when and where to draw it.
struct ProgressLine {
    std::string status;
    std::int32_t stepDone = 0;
    std::int32_t stepTotal = 0;
    std::int32_t overallDone = 0;
    std::int32_t overallTotal = 0;
    std::string timeLeft;  // empty until the first estimate

    // The line in at most columns - 1 characters (the last column is left
    // free, so that no terminal wraps it): the bars shrink first, then only
    // the overall percentage is kept, then the end is cut. 0: the full line.
    std::string Render(int columns = 0) const;
};

// A bar of `width` cells, '#' for the done part, '-' for the rest, with the
// percentage behind it; an unknown total shows an empty bar at 0%.
std::string ProgressBar(std::int64_t done, std::int64_t total, int width);

}  // namespace weftloom
