#include "engine/time_estimate.h"

#include <cstdio>

namespace weftloom {

std::string FormatTimeSpan(std::int64_t seconds, const char* format) {
    if (seconds < 0) {
        seconds = 0;
    }
    std::string text;
    char field[32];
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%' || p[1] == '\0') {
            text += *p;
            continue;
        }
        ++p;
        switch (*p) {
            case 'D':
                std::snprintf(field, sizeof field, "%lld", static_cast<long long>(seconds / 86400));
                break;
            case 'H':
                std::snprintf(field, sizeof field, "%02d", static_cast<int>(seconds / 3600 % 24));
                break;
            case 'M':
                std::snprintf(field, sizeof field, "%02d", static_cast<int>(seconds / 60 % 60));
                break;
            case 'S':
                std::snprintf(field, sizeof field, "%02d", static_cast<int>(seconds % 60));
                break;
            case '%':
                std::snprintf(field, sizeof field, "%%");
                break;
            default:
                std::snprintf(field, sizeof field, "%%%c", *p);
                break;
        }
        text += field;
    }
    return text;
}

std::int64_t RemainingSeconds(std::int64_t elapsedSeconds, std::int32_t overallDone,
                              std::int32_t overallTotal) {
    if (overallDone <= 0 || overallTotal <= 0) {
        return 0;
    }
    const double fraction = static_cast<double>(overallDone) / static_cast<double>(overallTotal);
    const double elapsed = static_cast<double>(elapsedSeconds);
    const double remaining = elapsed / fraction - elapsed;
    return remaining > 0 ? static_cast<std::int64_t>(remaining) : 0;
}

std::string FormatTimeLeft(std::int64_t remainingSeconds) {
    return FormatTimeSpan(remainingSeconds,
                          remainingSeconds >= 86400 ? "%D days %H:%M:%S" : "%H:%M:%S");
}

bool UpdateTimeLeft(const ProgressInfo& info, std::uint32_t outputWidth,
                    std::int64_t elapsedSeconds, std::string& text) {
    if (info.levelWidth != 0 && info.levelWidth < outputWidth / 2) {
        text = kNoAccurateEstimate;
        return true;
    }
    if (info.overallTotal != 0) {
        text =
            FormatTimeLeft(RemainingSeconds(elapsedSeconds, info.overallDone, info.overallTotal));
        return true;
    }
    return false;
}

}  // namespace weftloom
