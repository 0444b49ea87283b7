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

std::string ProgressLine::Render() const {
    char name[32];
    std::snprintf(name, sizeof name, "%-23.23s", status.c_str());
    std::string line = name;
    line += " " + ProgressBar(stepDone, stepTotal, 20);
    line += "  overall " + ProgressBar(overallDone, overallTotal, 20);
    if (!timeLeft.empty()) {
        line += "  time left " + timeLeft;
    }
    return line;
}

}  // namespace weftloom
