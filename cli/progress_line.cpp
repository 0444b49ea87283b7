#include "cli/progress_line.h"

#include <algorithm>
#include <cstdio>

namespace weftloom {

std::string ProgressBar(std::int64_t done, std::int64_t total, int width) {
    const std::int64_t clamped = total > 0 ? std::clamp<std::int64_t>(done, 0, total) : 0;
    const int filled = total > 0 ? static_cast<int>(clamped * width / total) : 0;
    const int percent = total > 0 ? static_cast<int>(clamped * 100 / total) : 0;
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    char tail[8];
    std::snprintf(tail, sizeof tail, "] %3d%%", percent);
    return bar + tail;
}

std::string ProgressLine::Render(int columns) const {
    constexpr int kFullBar = 20;
    constexpr int kShortestBar = 4;
    char name[32];
    std::snprintf(name, sizeof name, "%-23.23s", status.c_str());
    const std::string tail = timeLeft.empty() ? std::string() : "  time left " + timeLeft;
    // What the line holds besides the cells of its two bars.
    const int fixed = static_cast<int>(std::string(name).size() + 1 + ProgressBar(0, 0, 0).size() +
                                       10 + ProgressBar(0, 0, 0).size() + tail.size());
    const int bar = columns <= 0 ? kFullBar : std::min(kFullBar, (columns - 1 - fixed) / 2);
    std::string line = name;
    if (bar >= kShortestBar) {
        line += " " + ProgressBar(stepDone, stepTotal, bar);
        line += "  overall " + ProgressBar(overallDone, overallTotal, bar);
    } else {
        const std::string overall = ProgressBar(overallDone, overallTotal, 0);
        line += "  overall" + overall.substr(overall.find(']') + 1);
    }
    line += tail;
    if (columns > 0 && static_cast<int>(line.size()) > columns - 1) {
        line.resize(static_cast<std::size_t>(std::max(columns - 1, 0)));
    }
    return line;
}

}  // namespace weftloom
