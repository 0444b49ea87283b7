#include "engine/time_estimate.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

std::string FormatTimeLeft(std::int64_t remainingSeconds) {
    return FormatTimeSpan(remainingSeconds,
                          remainingSeconds >= 86400 ? "%D days %H:%M:%S" : "%H:%M:%S");
}

double TimeLeftEstimator::Growth(double perPixel) const {
    // Unmeasured, a finer level is guessed at four times the cost a pixel.
    return previousPerPixel_ > 0 ? std::clamp(perPixel / previousPerPixel_, 1.0, 64.0) : 4.0;
}

double TimeLeftEstimator::Predict(double perPixel, double width, double rowsTotal, double rowsLeft,
                                  double later) const {
    double remaining = perPixel * rowsLeft * width;
    if (later <= 0.5) {
        return remaining;
    }
    // The finer levels to come hold what the overall count has left beyond
    // this level, each about four times the pixels of the one before.
    const double growth = Growth(perPixel);
    int levels = 0;
    double weights = 0;
    for (double pixels = 4 * width * rowsTotal, sum = 0; sum + 0.5 < later && levels < 8;
         sum += pixels, pixels *= 4) {
        weights += pixels;
        ++levels;
    }
    double pixels = 4 * width * rowsTotal * later / weights;
    double cloud = lastCloudSeconds_;
    for (int k = 0; k < levels; ++k, pixels *= 4) {
        perPixel *= growth;
        cloud *= 4;
        remaining += pixels * perPixel + cloud;
    }
    return remaining;
}

bool TimeLeftEstimator::Update(const ProgressInfo& info, double seconds, std::string& text) {
    const bool synthesizing =
        info.status != nullptr && std::strcmp(info.status, status::kSynthesizing) == 0;
    if (!synthesizing) {
        if (info.status != nullptr && std::strcmp(info.status, status::kBuildingDataCloud) == 0 &&
            cloudStart_ < 0) {
            cloudStart_ = seconds;
        }
        return false;
    }
    if (info.row < 0) {
        // A level's opening report: its cloud is built, its rows begin.
        if (cloudStart_ >= 0) {
            lastCloudSeconds_ = seconds - cloudStart_;
            cloudStart_ = -1;
        }
        levelStart_ = seconds;
        if (info.overallTotal == 0) {
            return false;
        }
        if (currentPerPixel_ <= 0) {
            remaining_ = 0;  // nothing measured yet
            text = FormatTimeLeft(0);
            return true;
        }
        // This level is twice as wide as the last; its pace is guessed from
        // the last level's and the growth before it.
        const double width = 2.0 * currentWidth_;
        const double growth = Growth(currentPerPixel_);
        previousPerPixel_ = currentPerPixel_;
        currentPerPixel_ = 0;
        if (width < outputWidth_ / 2) {
            text = kNoAccurateEstimate;
            return true;
        }
        const double rows = info.stepTotal;
        const double later =
            static_cast<double>(info.overallTotal) - info.overallDone - rows * width;
        remaining_ = Predict(previousPerPixel_ * growth, width, rows, rows, later);
        text = FormatTimeLeft(static_cast<std::int64_t>(remaining_ + 0.5));
        return true;
    }
    currentWidth_ = info.levelWidth;
    const double rowsDone = info.stepDone;
    if (rowsDone <= 0 || info.levelWidth == 0) {
        return false;
    }
    // Every level's pace is measured, the coarse ones too, for the growth.
    currentPerPixel_ = (seconds - levelStart_) / (rowsDone * info.levelWidth);
    if (info.levelWidth < outputWidth_ / 2) {
        text = kNoAccurateEstimate;
        return true;
    }
    const double width = info.levelWidth;
    const double rowsLeft = static_cast<double>(info.stepTotal) - rowsDone;
    const double later =
        static_cast<double>(info.overallTotal) - info.overallDone - rowsLeft * width;
    remaining_ = Predict(currentPerPixel_, width, info.stepTotal, rowsLeft, later);
    text = FormatTimeLeft(static_cast<std::int64_t>(remaining_ + 0.5));
    return true;
}

}  // namespace weftloom
