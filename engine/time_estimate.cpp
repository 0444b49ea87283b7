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

double TimeLeftEstimator::Later(double perPixel, double levelPixels, double later) const {
    if (later <= 0.5) {
        return 0;
    }
    // The finer levels to come hold what the overall count has left beyond
    // this level, each about four times the pixels of the one before.
    const double growth = Growth(perPixel);
    int levels = 0;
    double weights = 0;
    for (double pixels = 4 * levelPixels, sum = 0; sum + 0.5 < later && levels < 8;
         sum += pixels, pixels *= 4) {
        weights += pixels;
        ++levels;
    }
    double pixels = 4 * levelPixels * later / weights;
    double fixed = lastFixedSeconds_;
    double seconds = 0;
    for (int k = 0; k < levels; ++k, pixels *= 4) {
        perPixel *= growth;
        fixed *= 4;
        seconds += pixels * perPixel + fixed;
    }
    return seconds;
}

bool TimeLeftEstimator::Show(double remaining, std::string& text) {
    remaining_ = std::max(remaining, 0.0);
    text = FormatTimeLeft(static_cast<std::int64_t>(remaining_ + 0.5));
    return true;
}

bool TimeLeftEstimator::Update(const ProgressInfo& info, double seconds, std::string& text) {
    const bool synthesizing =
        info.status != nullptr && std::strcmp(info.status, status::kSynthesizing) == 0;
    if (!synthesizing) {
        if (info.status != nullptr && std::strcmp(info.status, status::kBuildingDataCloud) == 0 &&
            fixedStart_ < 0) {
            fixedStart_ = seconds;
        }
        return false;
    }
    const double done = info.overallDone;
    if (info.row < 0) {
        // A level's opening report: its cloud is built, its rows are about to
        // begin; until its first row, its time is fixed cost (a level may set
        // itself up before its first row). What the finer levels' fixed costs
        // are grown from is this level's so far.
        if (fixedStart_ < 0) {
            fixedStart_ = seconds;
        }
        lastFixedSeconds_ = seconds - fixedStart_;
        rowSeen_ = false;
        levelStartDone_ = done;
        // Twice as wide and high as the last level; its pace is guessed from
        // the last level's and the growth before it. Its part of the overall
        // count is its pixels unless the report says otherwise.
        levelPixels_ = info.levelOverall > 0 ? info.levelOverall : levelPixels_ * 4;
        levelWidth_ *= 2;
        growth_ = Growth(currentPerPixel_);
        if (currentPerPixel_ > 0) {
            previousPerPixel_ = currentPerPixel_;
        }
        currentPerPixel_ = 0;
        if (info.overallTotal == 0) {
            return false;
        }
        if (previousPerPixel_ <= 0) {
            remaining_ = 0;  // nothing measured yet
            text = FormatTimeLeft(0);
            return true;
        }
        if (levelWidth_ < outputWidth_ / 2) {
            text = kNoAccurateEstimate;
            return true;
        }
        const double perPixel = previousPerPixel_ * growth_;
        const double later = static_cast<double>(info.overallTotal) - done - levelPixels_;
        return Show(perPixel * levelPixels_ + Later(perPixel, levelPixels_, later), text);
    }
    levelPixels_ = info.levelOverall > 0 ? info.levelOverall
                                         : static_cast<double>(info.levelWidth) * info.levelHeight;
    levelWidth_ = info.levelWidth;
    if (!rowSeen_) {
        // The first row closes the level's fixed part; the pace is measured
        // from here on.
        rowSeen_ = true;
        if (fixedStart_ >= 0) {
            lastFixedSeconds_ = seconds - fixedStart_;
            fixedStart_ = -1;
        }
        paceStart_ = seconds;
        paceStartDone_ = done;
        recent_.clear();
    }
    // The rest of the level goes at its recent pace (its passes may differ),
    // the finer levels from its pace as a whole.
    recent_.emplace_back(seconds, done);
    while (recent_.size() > 2 && done - recent_[1].second >= levelPixels_ / kRecentShare) {
        recent_.pop_front();
    }
    double recentPerPixel = 0;
    if (done > paceStartDone_) {
        // Every level's pace is measured, the coarse ones too, for the growth.
        currentPerPixel_ = (seconds - paceStart_) / (done - paceStartDone_);
        recentPerPixel = (seconds - recent_.front().first) / (done - recent_.front().second);
    } else if (previousPerPixel_ > 0) {
        // On the level's first row, its pace is still the guess from the last.
        recentPerPixel = previousPerPixel_ * growth_;
    }
    if (info.levelWidth < outputWidth_ / 2) {
        text = kNoAccurateEstimate;
        return true;
    }
    const double perPixel = currentPerPixel_ > 0 ? currentPerPixel_ : recentPerPixel;
    const double levelEnd = levelStartDone_ + levelPixels_;
    const double later = static_cast<double>(info.overallTotal) - levelEnd;
    return Show(
        recentPerPixel * std::max(levelEnd - done, 0.0) + Later(perPixel, levelPixels_, later),
        text);
}

}  // namespace weftloom
