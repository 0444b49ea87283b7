#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

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
// level's own pace (seconds per pixel of the run's overall count, measured
// from its first row on) gives the rest of the level, and each finer level
// still to come costs its pixels at that pace times the growth measured from
// the level before (per pixel, a finer level searches a larger cloud with a
// larger window), plus its fixed cost: the cloud and whatever precedes the
// level's first row, grown from the last level's as the levels grow. One
// object per run, fed every report in order; not synchronised.
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
    // Seconds for the `later` pixels of the finer levels, the first of them
    // four times levelPixels, from a pace of perPixel on this level.
    double Later(double perPixel, double levelPixels, double later) const;
    // How much more a pixel of the next finer level costs than one at perPixel.
    double Growth(double perPixel) const;
    bool Show(double remaining, std::string& text);

    std::uint32_t outputWidth_;
    double remaining_ = -1;
    double fixedStart_ = -1;       // when the current level's fixed part began, -1: none
    double lastFixedSeconds_ = 0;  // how long the last level's fixed part took
    double paceStart_ = 0;         // when the current level's first row was reported
    double paceStartDone_ = 0;     // the overall count then
    // Recent reports of the level (seconds, overall count), the oldest a
    // kRecentShare-th of the level's pixels back.
    static constexpr double kRecentShare = 48;
    std::deque<std::pair<double, double>> recent_;
    bool rowSeen_ = false;       // the current level has reported a row
    double levelStartDone_ = 0;  // the overall count when the current level opened
    double levelPixels_ = 0;     // the current level's pixels, 0: unknown yet
    double levelWidth_ = 0;
    double previousPerPixel_ = 0;  // seconds a pixel of the last finished level took
    double currentPerPixel_ = 0;
    double growth_ = 4;  // from the level before the last to the last
};

}  // namespace weftloom
