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

// Seconds left when overallDone of overallTotal took elapsedSeconds:
// elapsed / fraction - elapsed, truncated; 0 before any progress or when negative.
std::int64_t RemainingSeconds(std::int64_t elapsedSeconds, std::int32_t overallDone,
                              std::int32_t overallTotal);

// The time-left text as the user sees it: "%H:%M:%S", or "%D days %H:%M:%S"
// from a whole day on.
std::string FormatTimeLeft(std::int64_t remainingSeconds);

// Brings the time-left text up to date with one progress report of a run whose
// output is outputWidth wide and which started elapsedSeconds ago. Rows of the
// levels narrower than half the output say kNoAccurateEstimate; any other report
// with overall counts gives the computed estimate; set-up and cloud-building
// reports leave the text as it was. Returns whether the report set the text.
bool UpdateTimeLeft(const ProgressInfo& info, std::uint32_t outputWidth,
                    std::int64_t elapsedSeconds, std::string& text);

}  // namespace weftloom
