#pragma once

#include <cstdint>
#include <string>

#include "engine/progress.h"

namespace weftloom {

inline constexpr const char kNoAccurateEstimate[] = "No accurate estimate yet";

// Formats a span of whole seconds: %D whole days (unpadded), %H hours 00-23,
// %M minutes and %S seconds 00-59; %% is a percent sign; other text is kept.
// A negative span formats as 0.
std::string FormatTimeSpan(std::int64_t seconds, const char* format);

// The time-left text as the user sees it: "%H:%M:%S", or "%D days %H:%M:%S"
// from a whole day on.
std::string FormatTimeLeft(std::int64_t remainingSeconds);

// Estimates the time a run has left from its progress reports, as the
// progress dialog and the command line's progress line show it.
//
// The coarse levels cost little and say little: their rows give
// kNoAccurateEstimate. On a level at least half the output's width, the
// level's own pace (seconds per pixel so far) gives the rest of the level,
// and each finer level still to come costs its pixels at that pace times the
// growth measured from the level before (per pixel, a finer level searches a
// larger cloud with a larger window), plus its cloud, grown from the last
// cloud's time as the sample's levels grow. One object per run, fed every
// report in order; not synchronised.
class TimeLeftEstimator {
  public:
    explicit TimeLeftEstimator(std::uint32_t outputWidth) : outputWidth_(outputWidth) {}

    // Takes the report that arrived seconds after the run started. Set-up and
    // cloud-building reports leave text as it was and return false; any other
    // report with overall counts sets it and returns true.
    bool Update(const ProgressInfo& info, double seconds, std::string& text);

    // The estimate the last Update computed, in seconds (negative: none yet).
    double RemainingSeconds() const { return remaining_; }

  private:
    // Seconds left for a level of width x rowsTotal pixels at perPixel with
    // rowsLeft rows to go, and for the later pixels of the finer levels.
    double Predict(double perPixel, double width, double rowsTotal, double rowsLeft,
                   double later) const;
    // How much more a pixel of the next finer level costs than one at perPixel.
    double Growth(double perPixel) const;

    std::uint32_t outputWidth_;
    double remaining_ = -1;
    double levelStart_ = 0;        // when the current level's rows began
    double cloudStart_ = -1;       // when the current cloud began, -1: none
    double lastCloudSeconds_ = 0;  // how long the last cloud took
    double previousPerPixel_ = 0;  // seconds a pixel of the last finished level took
    double currentPerPixel_ = 0;
    std::uint32_t currentWidth_ = 0;
};

}  // namespace weftloom
